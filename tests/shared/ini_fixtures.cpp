#include "ini_fixtures.hpp"

#include <cstdio>
#include <cstring>

namespace pathlight::testing {

namespace {

const std::string kDefaultWorldLine =
    "Config: world route on (mounted only), toggle key vk=0xDD mods=0, 50 m ahead; minimap toggle key vk=0xDB mods=0";
const std::string kDefaultMinimapLine =
    "Config: minimap=1 centre=(148.0,943.8) r=100.0 3.550 px/m; worldmap=1 divisor=2.40; reroute=25 m offroad=2.50";

std::vector<IniFixture> MakeFixtures() {
  const std::wstring fits = L"Ctrl" + std::wstring(56, L' ') + L"+F5";     // 63 characters: read whole
  const std::wstring tooLong = L"Ctrl" + std::wstring(57, L' ') + L"+F5";  // 64: the read ends at "+F"
  return {
      {"no file", false, L"", [](Settings&) {}, {kDefaultWorldLine, kDefaultMinimapLine}},
      {"empty file", true, L"", [](Settings&) {}, {kDefaultWorldLine, kDefaultMinimapLine}},
      {"bindings with modifiers",
       true,
       L"[Minimap]\nToggleKey=Ctrl+Shift+F5\n[World]\nToggleKey = ctrl + f5\n[Keys]\nReloadKey=Alt\n",
       [](Settings& s) {
         s.minimapToggle = {0x74, 3};
         s.worldToggle = {0x74, 1};
         s.reloadKey = {0, 0};
       },
       {"Config: world route on (mounted only), toggle key vk=0x74 mods=1, 50 m ahead; minimap toggle key vk=0x74 "
        "mods=3",
        kDefaultMinimapLine}},
      {"bindings that unbind",
       true,
       L"[Minimap]\nToggleKey=\n[World]\nToggleKey=None\n[Keys]\nReloadKey=F25\n",
       [](Settings& s) {
         s.minimapToggle = s.worldToggle = s.reloadKey = {0, 0};
       },
       {"Config: world route on (mounted only), toggle key vk=0x00 mods=0, 50 m ahead; minimap toggle key vk=0x00 "
        "mods=0",
        kDefaultMinimapLine},
       {"Config: [Keys] ReloadKey=\"F25\" is not a key binding (\"F25\" names no key); read as unbound"}},
      {"bindings by number",
       true,
       L"[Minimap]\nToggleKey=F1x\n[World]\nToggleKey=Numpad7\n[Keys]\nReloadKey=0x7B\n",
       [](Settings& s) {
         s.minimapToggle = {0x70, 0};
         s.worldToggle = {0x67, 0};
         s.reloadKey = {0x7B, 0};
       },
       {}},
      {"bindings by letter and name",
       true,
       L"[Minimap]\nToggleKey=q\n[World]\nToggleKey=Shift + NumpadAdd\n[Keys]\nReloadKey=Ctrl+Alt+Backslash\n",
       [](Settings& s) {
         s.minimapToggle = {0x51, 0};
         s.worldToggle = {0x6B, 2};
         s.reloadKey = {0xDC, 5};
       },
       {}},
      {"later key wins, zero key unbinds",
       true,
       L"[Minimap]\nToggleKey=F5+Ctrl+F6\n[World]\nToggleKey=Control+]\n[Keys]\nReloadKey=Shift+0x0\n",
       [](Settings& s) {
         s.minimapToggle = {0x75, 1};
         s.worldToggle = {0xDD, 1};
         s.reloadKey = {0, 0};
       },
       {}},
      {"values longer than the buffer are cut",
       true,
       L"[World]\nToggleKey=" + fits + L"\n[Minimap]\nToggleKey=" + tooLong + L"\n",
       [](Settings& s) {
         s.worldToggle = {0x74, 1};
         s.minimapToggle = {0x46, 1};
       },
       {}},
      {"bools read as numbers",
       true,
       L"[Minimap]\nEnabled=true\nAutoCalibrate=yes\n[WorldMap]\nEnabled=2\n[World]\nEnabled=-1\nMountedOnly=0x0\n"
       L"DlssCamera=0\nOcclusion=00\n[Debug]\nTestPattern=07\nDrawRoads=08\nScan=0\nDraw=0\nNoSwapchain=4294967296\n"
       L"DxgiSurfaces=+1\nOverlayWindow=-0\n[WagonRouting]\nEnabled=0\n",
       [](Settings& s) {
         s.minimapEnabled = false;
         s.minimapAutoCalibrate = false;
         s.worldMapEnabled = true;
         s.worldEnabled = true;
         s.mountedOnly = false;
         s.worldDlssCamera = 0;
         s.worldOcclusion = false;
         s.debug.testPattern = true;
         s.debug.drawRoads = false;
         s.debug.scan = false;
         s.debug.draw = false;
         s.debug.noSwapchain = true;
         s.debug.dxgiSurfaces = true;
         s.debug.overlayWindow = false;
         s.wagonRoutingEnabled = false;
       },
       {"Config: world route on, toggle key vk=0xDD mods=0, 50 m ahead; minimap toggle key vk=0xDB mods=0",
        "Config: minimap=0 centre=(148.0,943.8) r=100.0 3.550 px/m; worldmap=1 divisor=2.40; reroute=25 m "
        "offroad=2.50"},
       {"Config: [Minimap] Enabled=\"true\" is not a number; read as 0 (off)",
        "Config: [Minimap] AutoCalibrate=\"yes\" is not a number; read as 0 (off)",
        "Config: [Debug] DrawRoads=\"08\" is not a number; read as 0 (off)",
        "Config: [Debug] NoSwapchain=\"4294967296\" is too large for 32 bits; read as 4294967295 (on)"}},
      {"world route off",
       true,
       L"[World]\nEnabled=0\n[WorldMap]\nEnabled=0\n",
       [](Settings& s) {
         s.worldEnabled = false;
         s.worldMapEnabled = false;
       },
       {"Config: world route off (mounted only), toggle key vk=0xDD mods=0, 50 m ahead; minimap toggle key vk=0xDB "
        "mods=0",
        "Config: minimap=1 centre=(148.0,943.8) r=100.0 3.550 px/m; worldmap=0 divisor=2.40; reroute=25 m "
        "offroad=2.50"}},
      {"floats",
       true,
       L"[World]\nDistance=70.4\nWidth=1e-1\n[Minimap]\nCenterX=12.25abc\nCenterY=-0.05\nRadius=abc\nPixelsPerMeter="
       L"1e1\n"
       L"DelayMs=  33\n[WorldMap]\nZoomDivisor=.125\n[Routing]\nRerouteDistance=2.5\nOffRoadWeight=-1\n"
       L"[WagonRouting]\nWideRoadWeight=0x10\n",
       [](Settings& s) {
         s.worldDistance = 70.4f;
         s.worldWidth = 0.1f;
         s.minimapCenterX = 12.25f;
         s.minimapCenterY = -0.05f;
         s.minimapRadius = 0.0f;
         s.minimapPixelsPerMeter = 10.0f;
         s.minimapDelayMs = 33.0f;
         s.worldMapZoomDivisor = 0.125f;
         s.rerouteDistance = 2.5f;
         s.offRoadWeight = -1.0f;
         s.wagonWideRoadWeight = 16.0f;  // the standard conversion reads hexadecimal too
       },
       // Halfway values round to even.
       {"Config: world route on (mounted only), toggle key vk=0xDD mods=0, 70 m ahead; minimap toggle key vk=0xDB "
        "mods=0",
        "Config: minimap=1 centre=(12.2,-0.1) r=0.0 10.000 px/m; worldmap=1 divisor=0.12; reroute=2 m offroad=-1.00"},
       {"Config: [Minimap] CenterX=\"12.25abc\" is not a number; read as 12.25",
        "Config: [Minimap] Radius=\"abc\" is not a number; read as 0"}},
      {"word values",
       true,
       L"[Style]\nRenderer=composition\nHdrMode=hdr10\n[Minimap]\nInterpolate=OFF\n",
       [](Settings& s) {
         s.renderer = RendererChoice::Composition;
         s.hdrMode = 2;
         s.minimapInterpolate = 0;
       },
       {}},
      {"word values, catch-alls",
       true,
       L"[Style]\nRenderer=DirectX\nHdrMode=scrgb\n[Minimap]\nInterpolate=\n",
       [](Settings& s) {
         s.renderer = RendererChoice::Present;
         s.hdrMode = 1;
         s.minimapInterpolate = -1;
       },
       {}},
      {"word values, the rest",
       true,
       L"[Style]\nRenderer=NONE\nHdrMode=Off\n[Minimap]\nInterpolate=1\n",
       [](Settings& s) {
         s.renderer = RendererChoice::None;
         s.hdrMode = 0;
         s.minimapInterpolate = 1;
       },
       {}},
      {"colours",
       true,
       L"[World]\nColor=#00FF00\n[Style]\nColor=00FF0080\nOutlineColor=0F0\n",
       [](Settings& s) {
         s.worldColor = PackColour(0x00, 0xFF, 0x00, 0xFF);
         s.routeColor = PackColour(0x00, 0xFF, 0x00, 0x80);
       },
       {}},
      {"colours, odd texts",
       true,
       L"[World]\nColor=##00FF00\n[Style]\nColor=12345g\nOutlineColor=#aabbccdd\n",
       [](Settings& s) {
         s.routeColor = PackColour(0x01, 0x23, 0x45, 0xFF);
         s.outlineColor = PackColour(0xAA, 0xBB, 0xCC, 0xDD);
       },
       {}},
      {"offsets",
       true,
       L"[Offsets]\nMinimapZoom=0x5B8\nMinimapPlayerPosition=0x5B8\nMinimapRotation=1464\nIconLive=0\nCameraObject="
       L"word\n"
       L"WaypointCategory=4294967296\nWaypointKind=-1\nMinimapHideFlags=010\nMinimapSize=\nIconKind=0x\n",
       [](Settings& s) {
         s.offsets.minimapZoom = 1464;  // the default, written in hexadecimal
         s.offsets.minimapPlayerPosition = 1464;
         s.offsets.minimapRotation = 1464;
         s.offsets.iconLive = 0;
         s.offsets.cameraObject = 0;
         s.offsets.waypointCategory = 0xFFFFFFFF;
         s.offsets.waypointKind = 0xFFFFFFFF;
         s.offsets.minimapHideFlags = 8;
         s.offsets.iconKind = 0;
       },
       {}},
      {"names in any case, blanks around",
       true,
       L"[minimap]\n  ENABLED  =  0  \n[WORLD]\ndistance=70\n\t[Keys]\t\n\tReloadKey\t=\tF9\t\n",
       [](Settings& s) {
         s.minimapEnabled = false;
         s.worldDistance = 70.0f;
         s.reloadKey = {0x78, 0};
       },
       {}},
      {"comments and CR LF",
       true,
       L"; Pathlight\r\n[Minimap]\r\n;Enabled=0\r\nRadius=50 ; half\r\n",
       [](Settings& s) { s.minimapRadius = 50.0f; },
       {}},
      {"quoted values",
       true,
       L"[World]\nToggleKey=\"F6\"\n[Minimap]\nToggleKey=\"+F7\n",
       [](Settings& s) {
         s.worldToggle = {0x75, 0};
         s.minimapToggle = {0x76, 0};  // the lone quote is its own token and is skipped
       },
       {}},
      {"single quotes, CR line ends, blanks inside the brackets",
       true,
       L"[ World ]\rToggleKey='Ctrl+F6'\r[Minimap]\rToggleKey='F7\"\r",
       [](Settings& s) {
         s.worldToggle = {0x75, 1};
         s.minimapToggle = {0, 0};  // unmatched quotes stay part of the text
       },
       {}},
      {"a key without \"=\" is absent",
       true,
       L"[Minimap]\nToggleKey\nRadius\n[Keys]\nReloadKey=\n",
       [](Settings& s) {
         s.reloadKey = {0, 0};
       },
       {}},
      {"only the first section of a name is read",
       true,
       L"[Minimap]\nRadius=50\n[World]\nDistance=70\n[Minimap]\nCenterX=10\n[World]\nWidth=2\n",
       [](Settings& s) {
         s.minimapRadius = 50.0f;
         s.worldDistance = 70.0f;
       },
       {}},
      {"first key of a name wins",
       true,
       L"[Minimap]\nRadius=50\nRadius=60\n",
       [](Settings& s) { s.minimapRadius = 50.0f; },
       {}},
      {"the player's guide's example",
       true,
       L"; Pathlight.ini\n[Minimap]\nToggleKey=Ctrl+M\nLineWidth=4\n\n[World]\n; start with the ribbon hidden; F6 "
       L"shows it\n"
       L"Enabled=0\nToggleKey=F6\nDistance=80\nColor=#FFD070C0\nMountedOnly=0\n\n[Style]\nColor=#3399FF\nRenderer="
       L"Present\n\n"
       L"[Routing]\nOffRoadWeight=3\n\n[Keys]\nReloadKey=Ctrl+Shift+R\n",
       [](Settings& s) {
         s.minimapToggle = {0x4D, 1};
         s.minimapLineWidth = 4.0f;
         s.worldEnabled = false;
         s.worldToggle = {0x75, 0};
         s.worldDistance = 80.0f;
         s.worldColor = PackColour(0xFF, 0xD0, 0x70, 0xC0);
         s.mountedOnly = false;
         s.routeColor = PackColour(0x33, 0x99, 0xFF, 0xFF);
         s.offRoadWeight = 3.0f;
         s.reloadKey = {0x52, 3};
       },
       {"Config: world route off, toggle key vk=0x75 mods=0, 80 m ahead; minimap toggle key vk=0x4D mods=1",
        "Config: minimap=1 centre=(148.0,943.8) r=100.0 3.550 px/m; worldmap=1 divisor=2.40; reroute=25 m "
        "offroad=3.00"}},
      {"empty values take the defaults",
       true,
       L"[Minimap]\nRadius=\nEnabled=\n[Style]\nColor=\n[Offsets]\nMinimapZoom=\n[World]\nDlssCamera=\n",
       [](Settings&) {},
       {kDefaultWorldLine, kDefaultMinimapLine}},
  };
}

struct Describer {
  std::vector<std::string>& lines;

  void Add(const wchar_t* section, const wchar_t* key, const std::string& value) {
    char name[96];
    std::snprintf(name, sizeof name, "[%ls] %ls = ", section, key);
    lines.push_back(name + value);
  }
  static std::string Number(const char* format, auto value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
  }
  void Bool(const wchar_t* section, const wchar_t* key, const bool& field) { Add(section, key, field ? "1" : "0"); }
  void AllBits(const wchar_t* section, const wchar_t* key, const std::int32_t& field) {
    Add(section, key, Number("%d", field));
  }
  void Unsigned(const wchar_t* section, const wchar_t* key, const std::uint32_t& field) {
    Add(section, key, Number("0x%08X", field));
  }
  void Float(const wchar_t* section, const wchar_t* key, const float& field) {
    // The bits, so that equal-looking numbers still compare exactly.
    std::uint32_t bits;
    std::memcpy(&bits, &field, sizeof bits);
    Add(section, key, Number("%.9g", static_cast<double>(field)) + Number(" (%08X)", bits));
  }
  void Colour(const wchar_t* section, const wchar_t* key, const std::uint32_t& field) {
    Add(section, key, Number("0x%08X", field));
  }
  void Binding(const wchar_t* section, const wchar_t* key, const KeyBinding& field, const wchar_t*) {
    Add(section, key, Number("vk=0x%02X", field.key) + Number(" mods=%u", field.modifiers));
  }
  template <class T> void Word(const wchar_t* section, const wchar_t* key, const T& field, WordKey) {
    Add(section, key, Number("%d", static_cast<int>(field)));
  }
};

}  // namespace

const std::vector<IniFixture>& IniFixtures() {
  static const std::vector<IniFixture> fixtures = MakeFixtures();
  return fixtures;
}

std::vector<std::string> DescribeSettings(const Settings& settings) {
  std::vector<std::string> lines;
  Describer describer{lines};
  ForEachSettingsKey(settings, describer);
  return lines;
}

}  // namespace pathlight::testing
