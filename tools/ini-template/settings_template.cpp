#include "settings_template.hpp"

#include <cstdio>
#include <map>
#include <utility>

#include "platform/utf8.hpp"
#include "settings/settings.hpp"

namespace pathlight::tool {

namespace {

struct Meaning {
  const char* section;
  const char* key;
  const char* text;
};

// One line for each key, in the player's words.
constexpr Meaning kMeanings[] = {
    {"Minimap", "Enabled", "draw the route on the minimap (1 on, 0 off)"},
    {"Minimap", "AutoCalibrate", "place the minimap from the game's own widget when it can be read (1 on, 0 off)"},
    {"Minimap", "ToggleKey",
     "key that shows or hides the minimap route (see README-player.txt for other keyboard layouts)"},
    {"Minimap", "CenterX", "minimap centre, pixels from the left on a 1080-line screen (used when not calibrated)"},
    {"Minimap", "CenterY", "minimap centre, pixels from the top on a 1080-line screen"},
    {"Minimap", "Radius", "minimap radius, pixels on a 1080-line screen"},
    {"Minimap", "PixelsPerMeter", "minimap scale, pixels a metre"},
    {"Minimap", "LineWidth", "route line width on the minimap, pixels"},
    {"Minimap", "Interpolate", "smooth the minimap line between the game's updates: On, Off or Auto"},
    {"Minimap", "DelayMs", "how far the smoothing lags behind, milliseconds"},
    {"WorldMap", "Enabled", "draw the route on the world map (1 on, 0 off)"},
    {"WorldMap", "LineWidth", "route line width on the world map, pixels"},
    {"WorldMap", "ZoomDivisor", "the game's world-map zoom is divided by this to give the scale"},
    {"Style", "Color", "route colour, RRGGBB or RRGGBBAA in hexadecimal"},
    {"Style", "OutlineColor", "outline colour, RRGGBB or RRGGBBAA"},
    {"Style", "OutlineWidth", "outline width, pixels"},
    {"Style", "CornerRadius", "rounding of the route's corners on the maps, pixels"},
    {"Style", "HdrMode", "SDR (or Off), scRGB, HDR10, or Auto: from the game's swap chain"},
    {"Style", "HdrWhiteNits", "brightness of white in HDR, nits"},
    {"Style", "Renderer", "Present (drawn in the game's frame), Composition or None; read at start only"},
    {"World", "Enabled", "the route on the ground starts shown (1) or hidden (0)"},
    {"World", "ToggleKey", "key that shows or hides the route on the ground"},
    {"World", "Distance", "how far ahead the ribbon on the ground reaches, metres"},
    {"World", "Width", "ribbon width, metres"},
    {"World", "Lift", "ribbon height above the ground, metres"},
    {"World", "FadeNear", "where the ribbon starts fading, metres"},
    {"World", "Opacity", "ribbon opacity, 0 to 1"},
    {"World", "CornerRadius", "smoothing of the ribbon's path, points either side (below 0.5: none)"},
    {"World", "NightOpacity", "ribbon opacity at night, 0 to 1"},
    {"World", "Color", "ribbon colour, RRGGBB or RRGGBBAA"},
    {"World", "DlssCamera",
     "take the camera from the upscaler when the game hands it over (1 on, 0 off); read at start only"},
    {"World", "Occlusion", "hide the ribbon behind scenery (1 on, 0 off)"},
    {"World", "OcclusionTolerance", "depth tolerance of the hiding"},
    {"World", "OcclusionSlope", "slope allowance of the hiding"},
    {"World", "MountedOnly", "show the ribbon only while riding (1) or always (0)"},
    {"Routing", "RerouteDistance", "search again when you are this far off the route, metres"},
    {"Routing", "OffRoadWeight", "cost of a metre off the roads"},
    {"Routing", "DirectMaxDistance", "go straight to a waypoint this close, metres"},
    {"Routing", "HorseRoadWeight", "cost of a metre of horse road"},
    {"Routing", "WagonRoadWeight", "cost of a metre of wagon road (and of wide road)"},
    {"Routing", "SidewalkWeight", "cost of a metre of sidewalk"},
    {"Routing", "ConnectorWeight", "cost of a metre of connector"},
    {"Routing", "MainRoadWeight", "cost of a metre of main road"},
    {"WagonRouting", "Enabled", "use the weights below while driving a wagon (1 on, 0 off)"},
    {"WagonRouting", "MainRoadWeight", "on a wagon: cost of a metre of main road"},
    {"WagonRouting", "WideRoadWeight", "on a wagon: cost of a metre of wide road"},
    {"WagonRouting", "WagonRoadWeight", "on a wagon: cost of a metre of wagon road"},
    {"WagonRouting", "HorseRoadWeight", "on a wagon: cost of a metre of horse road"},
    {"WagonRouting", "SidewalkWeight", "on a wagon: cost of a metre of sidewalk"},
    {"WagonRouting", "ConnectorWeight", "on a wagon: cost of a metre of connector"},
    {"WagonRouting", "OffRoadWeight", "on a wagon: cost of a metre off the roads"},
    {"Keys", "ReloadKey", "key that reads this file again"},
    {"Debug", "TestPattern", "diagnosis: the in-frame renderer draws a test pattern"},
    {"Debug", "DrawRoads", "diagnosis: the road network around the player is drawn on the minimap"},
    {"Debug", "Scan", "0: the game's memory is not scanned (nothing found, nothing routed); read at start only"},
    {"Debug", "Draw", "0: the in-frame renderer creates and draws nothing; read at start only"},
    {"Debug", "NoSwapchain", "diagnosis: the swap-chain hooks are not installed"},
    {"Debug", "DxgiSurfaces", "diagnosis: the Composition renderer draws through DXGI surfaces"},
    {"Debug", "OverlayWindow", "diagnosis: an overlay window replaces the Composition renderer"},
    {"Offsets", "MinimapPlayerPosition", "game object layout: the minimap's player position"},
    {"Offsets", "MinimapZoom", "game object layout: the minimap's zoom"},
    {"Offsets", "MinimapRotation", "game object layout: the minimap's rotation"},
    {"Offsets", "MinimapHideWidget", "game object layout: the minimap's hide widget"},
    {"Offsets", "MinimapHideFlags", "game object layout: the minimap's hide flags"},
    {"Offsets", "MinimapSize", "game object layout: the minimap widget's size (0: size and position not read)"},
    {"Offsets", "MinimapPosObject", "game object layout: the minimap widget's position object (0: off)"},
    {"Offsets", "MinimapPos", "game object layout: the minimap widget's position"},
    {"Offsets", "WorldMapOpen", "game object layout: the world map's open flag"},
    {"Offsets", "WorldMapCenter", "game object layout: the world map's centre"},
    {"Offsets", "WorldMapZoom", "game object layout: the world map's zoom"},
    {"Offsets", "CameraObject", "game object layout: the camera manager's camera"},
    {"Offsets", "CameraRotation", "game object layout: the camera's rotation"},
    {"Offsets", "CameraPosition", "game object layout: the camera's position"},
    {"Offsets", "CameraProjX", "game object layout: the camera's horizontal projection scale"},
    {"Offsets", "CameraProjY", "game object layout: the camera's vertical projection scale"},
    {"Offsets", "SessionPlayer", "game object layout: the session's player"},
    {"Offsets", "PlayerActor", "game object layout: the player's actor"},
    {"Offsets", "SessionCamera", "game object layout: the session's camera manager"},
    {"Offsets", "IconCategory", "game object layout: a map icon's category"},
    {"Offsets", "IconPosition", "game object layout: a map icon's position"},
    {"Offsets", "IconLive", "game object layout: a map icon's live flag (0: not tested)"},
    {"Offsets", "IconKind", "game object layout: a map icon's kind (0: not tested)"},
    {"Offsets", "WaypointCategory", "the map icon category of the waypoint (a number, not an offset)"},
    {"Offsets", "WaypointKind", "the map icon kind of the waypoint (a number, not an offset)"},
};

std::string Text(const char* format, auto... values) {
  char text[64];
  std::snprintf(text, sizeof text, format, values...);
  return text;
}

// The keys by section, sections in the order of their first key; each value as the syntax reads
// it back to the default.
struct Collector {
  std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>> sections;
  std::vector<std::string>* missing;

  void Add(const wchar_t* section, const wchar_t* key, const std::string& value) {
    const std::string s = ToUtf8(section), k = ToUtf8(key);
    const char* meaning = nullptr;
    for (const Meaning& m : kMeanings) {
      if (s == m.section && k == m.key) meaning = m.text;
    }
    if (meaning == nullptr && missing != nullptr) missing->push_back("[" + s + "] " + k);
    auto it = sections.begin();
    while (it != sections.end() && it->first != s) ++it;
    if (it == sections.end()) it = sections.insert(sections.end(), {s, {}});
    it->second.push_back({"; " + std::string(meaning != nullptr ? meaning : "") + "\r\n", k + "=" + value + "\r\n"});
  }
  void Bool(const wchar_t* section, const wchar_t* key, const bool& field) { Add(section, key, field ? "1" : "0"); }
  void AllBits(const wchar_t* section, const wchar_t* key, const std::int32_t& field) {
    Add(section, key, field != 0 ? "1" : "0");
  }
  void Unsigned(const wchar_t* section, const wchar_t* key, const std::uint32_t& field) {
    // Offsets in hexadecimal, as a disassembly shows them; the two icon numbers in decimal.
    const bool number = std::wstring_view(key).starts_with(L"Waypoint");
    Add(section, key, number ? Text("%u", field) : Text("0x%X", field));
  }
  void Float(const wchar_t* section, const wchar_t* key, const float& field) {
    Add(section, key, Text("%g", static_cast<double>(field)));
  }
  void Colour(const wchar_t* section, const wchar_t* key, const std::uint32_t& field) {
    Add(section, key, Text("%02X%02X%02X%02X", field & 0xFF, (field >> 8) & 0xFF, (field >> 16) & 0xFF, field >> 24));
  }
  void Binding(const wchar_t* section, const wchar_t* key, const KeyBinding&, const wchar_t* defaultText) {
    Add(section, key, ToUtf8(defaultText));
  }
  template <class T> void Word(const wchar_t* section, const wchar_t* key, const T&, WordKey word) {
    Add(section, key, word == WordKey::Renderer ? "Present" : "Auto");
  }
};

}  // namespace

std::string SettingsTemplate(std::vector<std::string>* missing) {
  const Settings defaults;
  Collector collector{{}, missing};
  ForEachSettingsKey(defaults, collector);
  std::string text =
      "; Pathlight.ini: every key with its default. Delete a line to keep the default; the log's \"Config:\"\r\n"
      "; lines show what was read, and a value that cannot be read whole is named there.\r\n";
  for (const auto& [section, keys] : collector.sections) {
    text += "\r\n[" + section + "]\r\n";
    for (const auto& [meaning, line] : keys) text += meaning + line;
  }
  return text;
}

}  // namespace pathlight::tool
