#include "settings/settings_load.hpp"

#include <gtest/gtest.h>

#include <cwchar>
#include <map>
#include <string>
#include <vector>

#include "fresh_process.hpp"
#include "ini_fixtures.hpp"
#include "log_capture.hpp"
#include "settings/ini_text.hpp"
#include "settings/run_flags.hpp"

namespace pathlight {
namespace {

using pathlight::TextIni;
using testing::CaptureLog;
using testing::DescribeSettings;
using testing::IniFixtures;

using LoadSettingsTest = testing::FreshProcessTest;

TEST(SettingsFixtures, EveryFixtureGivesItsRecordAndSummary) {
  for (const auto& fixture : IniFixtures()) {
    SCOPED_TRACE(fixture.name);
    TextIni ini(fixture.text, fixture.fileExists);
    std::vector<std::string> misread;
    const Settings read = ReadSettings(ini, L"C:\\mods\\Pathlight.ini", Settings{}, false, &misread);
    Settings expected;
    fixture.expect(expected);
    EXPECT_EQ(DescribeSettings(read), DescribeSettings(expected));
    if (!fixture.summary.empty()) {
      const auto summary = SettingsSummary(read);
      EXPECT_EQ(std::vector<std::string>(summary.begin(), summary.end()), fixture.summary);
      EXPECT_EQ(misread, fixture.misread);
    }
  }
}

// Records every read: which key, with which fallback text and buffer size.
class RecordingIni final : public IniSource {
 public:
  struct Read {
    std::wstring fallback;
    std::size_t chars;
  };
  std::map<std::wstring, Read> reads;  // "[Section] Key"
  int count = 0;
  std::wstring ReadValue(const std::wstring&, const wchar_t* section, const wchar_t* key, const wchar_t* fallback,
                         std::size_t chars) override {
    ++count;
    reads[L"[" + std::wstring(section) + L"] " + key] = {fallback, chars};
    return fallback;
  }
};

TEST(SettingsKeys, BuffersAndFallbacksOfTheIniRead) {
  RecordingIni ini;
  (void)ReadSettings(ini, L"x", Settings{}, false);
  // Every key is read once, and no two keys share a name.
  EXPECT_EQ(ini.count, 84);  // 52 user keys, 7 [Debug], 25 [Offsets]
  EXPECT_EQ(ini.reads.size(), 84u);
  const std::map<std::wstring, RecordingIni::Read> special = {
      {L"[Minimap] ToggleKey", {L"[", 64}}, {L"[World] ToggleKey", {L"]", 64}},
      {L"[Keys] ReloadKey", {L"\\", 64}},   {L"[Minimap] Interpolate", {L"Auto", 16}},
      {L"[Style] HdrMode", {L"Auto", 32}},  {L"[Style] Renderer", {L"Present", 32}},
  };
  for (const auto& [name, read] : ini.reads) {
    SCOPED_TRACE(std::string(name.begin(), name.end()));
    const auto it = special.find(name);
    const RecordingIni::Read want = it == special.end() ? RecordingIni::Read{L"", 64} : it->second;
    EXPECT_EQ(read.fallback, want.fallback);
    EXPECT_EQ(read.chars, want.chars);
  }
}

// Fills each field through the key list with a marker; every byte of the record that is not
// padding must be reached exactly once, so no field lacks a key and none has two.
struct Coverage {
  const Settings* base;
  std::vector<std::pair<std::size_t, std::size_t>> spans;  // offset, size, in call order
  template <class T> void Mark(const T& field) {
    spans.emplace_back(reinterpret_cast<const char*>(&field) - reinterpret_cast<const char*>(base), sizeof(T));
  }
  void Bool(const wchar_t*, const wchar_t*, const bool& f) { Mark(f); }
  void AllBits(const wchar_t*, const wchar_t*, const std::int32_t& f) { Mark(f); }
  void Unsigned(const wchar_t*, const wchar_t*, const std::uint32_t& f) { Mark(f); }
  void Float(const wchar_t*, const wchar_t*, const float& f) { Mark(f); }
  void Colour(const wchar_t*, const wchar_t*, const std::uint32_t& f) { Mark(f); }
  void Binding(const wchar_t*, const wchar_t*, const KeyBinding& f, const wchar_t*) { Mark(f); }
  template <class T> void Word(const wchar_t*, const wchar_t*, const T& f, WordKey) { Mark(f); }
};

TEST(SettingsKeys, KeyListCoversEveryFieldOnceInDeclaredOrder) {
  const Settings settings;
  Coverage coverage{&settings, {}};
  ForEachSettingsKey(settings, coverage);
  std::size_t end = 0;
  for (const auto& [offset, size] : coverage.spans) {
    ASSERT_GE(offset, end) << "out of order or overlapping at offset " << offset;
    // A gap must be padding: smaller than the field's own alignment.
    EXPECT_LT(offset - end, size < 4 ? size : 4) << "a field without key before offset " << offset;
    end = offset + size;
  }
  EXPECT_LT(sizeof(Settings) - end, 4u);
}

TEST_F(LoadSettingsTest, FirstLoadWithoutFileLogsTheDefaultSummaryAndSetsTheWorldToggle) {
  TextIni ini(L"", false);
  Flags().WorldRouteShown = 0;
  const auto lines = CaptureLog([&] { LoadSettingsFrom(ini, L"D:\\mods", false); });
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "Config: world route on (mounted only), toggle key vk=0xDD mods=0, 50 m ahead; minimap toggle "
                       "key vk=0xDB mods=0",
                       "Config: minimap=1 centre=(148.0,943.8) r=100.0 3.550 px/m; worldmap=1 divisor=2.40; reroute=25 "
                       "m offroad=2.50"}));
  EXPECT_EQ(ini.lastPath, L"D:\\mods\\Pathlight.ini");
  EXPECT_EQ(IniPath(), L"D:\\mods\\Pathlight.ini");
  EXPECT_EQ(Flags().WorldRouteShown, 1);
  EXPECT_EQ(Flags().RerouteRequested, 0);
  EXPECT_EQ(Flags().RebuildRequested, 0);

  TextIni off(L"[World]\nEnabled=0\n");
  (void)CaptureLog([&] { LoadSettingsFrom(off, L"D:\\mods", false); });
  EXPECT_EQ(Flags().WorldRouteShown, 0);
  EXPECT_EQ(Flags().MinimapRouteShown, 1);  // never set from the file
}

TEST_F(LoadSettingsTest, ReloadKeepsTheStartOnlyValuesAndTheToggles) {
  TextIni first(L"[Style]\nRenderer=Composition\n[World]\nDlssCamera=0\n[Debug]\nScan=0\n");
  (void)CaptureLog([&] { LoadSettingsFrom(first, L"C:\\a", false); });
  ASSERT_EQ(CurrentSettings()->renderer, RendererChoice::Composition);
  Flags().MinimapRouteShown = 0;
  Flags().WorldRouteShown = 0;

  // Everything else changes at once; the four start-only values stay as they started.
  TextIni second(
      L"[Style]\nRenderer=None\n[World]\nDlssCamera=1\nEnabled=1\nDistance=80\n[Debug]\nScan=1\nDraw=0\nTestPattern=1\n"
      L"[Offsets]\nMinimapZoom=7\n[Minimap]\nToggleKey=F8\n");
  const auto lines = CaptureLog([&] { LoadSettingsFrom(second, L"C:\\b", true); });
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "Config: reloaded C:\\b\\Pathlight.ini");  // the path is rebuilt at every load
  EXPECT_EQ(lines[1],
            "Config: world route on (mounted only), toggle key vk=0xDD mods=0, 80 m ahead; minimap toggle key vk=0x77 "
            "mods=0");
  EXPECT_EQ(CurrentSettings()->renderer, RendererChoice::Composition);
  EXPECT_EQ(CurrentSettings()->worldDlssCamera, 0);
  EXPECT_FALSE(CurrentSettings()->debug.scan);
  EXPECT_TRUE(CurrentSettings()->debug.draw);
  EXPECT_TRUE(CurrentSettings()->debug.testPattern);
  EXPECT_EQ(CurrentSettings()->offsets.minimapZoom, 7u);
  EXPECT_EQ(CurrentSettings()->worldDistance, 80.0f);
  EXPECT_EQ(Flags().MinimapRouteShown, 0);
  EXPECT_EQ(Flags().WorldRouteShown, 0);
  EXPECT_EQ(Flags().RerouteRequested, 1);
  EXPECT_EQ(Flags().RebuildRequested, 1);

  // A key taken out of the file goes back to its default, not to the previous file's value.
  TextIni third(L"");
  (void)CaptureLog([&] { LoadSettingsFrom(third, L"C:\\b", true); });
  EXPECT_EQ(CurrentSettings()->worldDistance, 50.0f);
  EXPECT_EQ(CurrentSettings()->minimapToggle, (KeyBinding{0xDB, 0}));
  EXPECT_EQ(CurrentSettings()->offsets.minimapZoom, 0x5B8u);
  EXPECT_EQ(CurrentSettings()->renderer, RendererChoice::Composition);
}

TEST_F(LoadSettingsTest, ReloadLineKeepsAPathOutsideAscii) {
  TextIni ini(L"");
  const auto lines = CaptureLog([&] { LoadSettingsFrom(ini, L"D:\\\u0418\u0433\u0440\u044b", true); });
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "Config: reloaded D:\\\xD0\x98\xD0\xB3\xD1\x80\xD1\x8B\\Pathlight.ini");
}

TEST_F(LoadSettingsTest, ReloadWithAnUnchangedFileStillRequestsAReroute) {
  TextIni ini(L"[Routing]\nRerouteDistance=30\n");
  (void)CaptureLog([&] { LoadSettingsFrom(ini, L"C:\\a", false); });
  const SettingsPtr before = CurrentSettings();
  (void)CaptureLog([&] { LoadSettingsFrom(ini, L"C:\\a", true); });
  EXPECT_EQ(DescribeSettings(*before), DescribeSettings(*CurrentSettings()));
  EXPECT_EQ(Flags().RerouteRequested, 1);
}

// Each value the syntax does not read whole gives one line naming it and what it became; values
// it reads whole (blanks after them, "None", the catch-all's own name, hexadecimal floats) none.
TEST(SettingsMisreadings, EachKindNamesTheTextAndWhatItWasReadAs) {
  const struct {
    const wchar_t* ini;
    std::vector<std::string> lines;
  } cases[] = {
      {L"[Routing]\nMainRoadWeight=abc\n", {"Config: [Routing] MainRoadWeight=\"abc\" is not a number; read as 0"}},
      {L"[Routing]\nMainRoadWeight=0,9\n", {"Config: [Routing] MainRoadWeight=\"0,9\" is not a number; read as 0"}},
      // The file's control characters do not reach the log as they are.
      {L"[Routing]\nMainRoadWeight=a\x01\tb\n",
       {"Config: [Routing] MainRoadWeight=\"a\\x01\\x09b\" is not a number; read as 0"}},
      {L"[World]\nDistance=75.25xyz\n", {"Config: [World] Distance=\"75.25xyz\" is not a number; read as 75.25"}},
      {L"[World]\nMountedOnly=yes\n", {"Config: [World] MountedOnly=\"yes\" is not a number; read as 0 (off)"}},
      {L"[World]\nDlssCamera=on\n", {"Config: [World] DlssCamera=\"on\" is not a number; read as 0 (off)"}},
      {L"[Debug]\nDrawRoads=1x\n", {"Config: [Debug] DrawRoads=\"1x\" is not a number; read as 1 (on)"}},
      {L"[Offsets]\nMinimapZoom=0x5B8h\n",
       {"Config: [Offsets] MinimapZoom=\"0x5B8h\" is not a number; read as 1464 (0x5B8)"}},
      {L"[Offsets]\nIconKind=0x1FFFFFFFF\n",
       {"Config: [Offsets] IconKind=\"0x1FFFFFFFF\" is too large for 32 bits; read as 4294967295 (0xFFFFFFFF)"}},
      {L"[Style]\nOutlineColor=0F0\n",
       {"Config: [Style] OutlineColor=\"0F0\" is not a colour (RRGGBB or RRGGBBAA); read as 291914D2"}},
      {L"[Style]\nColor=12345g\n",
       {"Config: [Style] Color=\"12345g\" is not a colour (RRGGBB or RRGGBBAA); read as 012345FF"}},
      {L"[Style]\nRenderer=DirectX\n",
       {"Config: [Style] Renderer=\"DirectX\" is not Present, Composition or None; read as Present"}},
      {L"[Style]\nHdrMode=HDR\n",
       {"Config: [Style] HdrMode=\"HDR\" is not SDR, Off, scRGB, HDR10 or Auto; read as Auto"}},
      {L"[Minimap]\nInterpolate=yes\n", {"Config: [Minimap] Interpolate=\"yes\" is not On, Off or Auto; read as Auto"}},
      {L"[Minimap]\nToggleKey=Ctrl+Strg+M\n",
       {"Config: [Minimap] ToggleKey=\"Ctrl+Strg+M\" is not a key binding (\"Strg\" names no key); read as vk=0x4D "
        "mods=1"}},
      {L"[Keys]\nReloadKey=Ctrl+\n",
       {"Config: [Keys] ReloadKey=\"Ctrl+\" is not a key binding (\"\" names no key); read as unbound"}},
      {L"[World]\nToggleKey=\u00fc\n",
       {"Config: [World] ToggleKey=\"\xC3\xBC\" is not a key binding (\"\xC3\xBC\" names no key); read as unbound"}},
      // In key-list order, whatever the file's order.
      {L"[Routing]\nOffRoadWeight=x\n[Minimap]\nEnabled=no\n",
       {"Config: [Minimap] Enabled=\"no\" is not a number; read as 0 (off)",
        "Config: [Routing] OffRoadWeight=\"x\" is not a number; read as 0"}},
      {L"[Routing]\nMainRoadWeight=\"0.9 "
       L"\"\n[World]\nToggleKey=None\n[Keys]\nReloadKey=Alt\n[Style]\nRenderer=present\n"
       L"HdrMode=auto\n[Minimap]\nInterpolate=1\n[WorldMap]\nZoomDivisor=0x1p2\nEnabled=-1\n[Offsets]\nMinimapZoom=-1\n"
       L"[Style]\nColor=#aabbcc\nOutlineColor=\n",
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.ini, c.ini + std::wcslen(c.ini)));
    TextIni ini(c.ini);
    std::vector<std::string> misread;
    (void)ReadSettings(ini, L"x", Settings{}, false, &misread);
    EXPECT_EQ(misread, c.lines);
  }
}

TEST_F(LoadSettingsTest, MisreadingsFollowTheSummaryOncePerLoad) {
  TextIni ini(L"[Routing]\nMainRoadWeight=abc\n[World]\nEnabled=yes\n");
  const std::vector<std::string> expected = {
      "Config: world route off (mounted only), toggle key vk=0xDD mods=0, 50 m ahead; minimap toggle key vk=0xDB "
      "mods=0",
      "Config: minimap=1 centre=(148.0,943.8) r=100.0 3.550 px/m; worldmap=1 divisor=2.40; reroute=25 m offroad=2.50",
      "Config: [World] Enabled=\"yes\" is not a number; read as 0 (off)",
      "Config: [Routing] MainRoadWeight=\"abc\" is not a number; read as 0"};
  EXPECT_EQ(CaptureLog([&] { LoadSettingsFrom(ini, L"C:\\a", false); }), expected);
  std::vector<std::string> reloaded = {"Config: reloaded C:\\a\\Pathlight.ini"};
  reloaded.insert(reloaded.end(), expected.begin(), expected.end());
  EXPECT_EQ(CaptureLog([&] { LoadSettingsFrom(ini, L"C:\\a", true); }), reloaded);
}

}  // namespace
}  // namespace pathlight
