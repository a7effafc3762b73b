#include "render12/frame_plan.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

#include "log_capture.hpp"

namespace pathlight {
namespace {

using testing::CaptureLog;

GameSnapshot LiveSnapshot() {
  GameSnapshot s;
  s.playerValid = 1;
  s.minimapValid = 1;
  s.minimapAlpha = 1.0f;
  s.cameraValid = 1;
  s.mountState = kMountRiding;
  return s;
}

TEST(FrameDecisions, WhatAFrameDraws) {
  struct Case {
    const char* name;
    std::function<void(Settings&, GameSnapshot&)> change;
    std::size_t routePoints;
    bool minimapShown, worldShown;
    FrameDecisions expected;  // minimap, worldMap, routeUsable, ribbon, roadDebug, goOn
  };
  const Case cases[] = {
      {"everything live", [](Settings&, GameSnapshot&) {}, 5, true, true, {true, false, true, true, false, true}},
      {"world map open",
       [](Settings&, GameSnapshot& s) { s.worldMapOpen = 1; },
       5,
       true,
       true,
       {false, true, true, false, false, true}},
      {"world map disabled",
       [](Settings& c, GameSnapshot& s) {
         c.worldMapEnabled = false;
         s.worldMapOpen = 1;
       },
       5,
       true,
       true,
       {false, false, true, false, false, false}},
      {"minimap faded to the threshold",
       [](Settings&, GameSnapshot& s) { s.minimapAlpha = 0.05f; },
       5,
       true,
       true,
       {false, false, true, false, false, false}},
      {"minimap alpha NaN",
       [](Settings&, GameSnapshot& s) { s.minimapAlpha = NAN; },
       5,
       true,
       true,
       {false, false, true, false, false, false}},
      {"minimap toggled off", [](Settings&, GameSnapshot&) {}, 5, false, true, {false, false, true, true, false, true}},
      {"on foot with MountedOnly",
       [](Settings&, GameSnapshot& s) { s.mountState = kMountOnFoot; },
       5,
       true,
       true,
       {true, false, true, false, false, true}},
      {"on foot without MountedOnly",
       [](Settings& c, GameSnapshot& s) {
         c.mountedOnly = false;
         s.mountState = kMountUnknown;
       },
       5,
       true,
       true,
       {true, false, true, true, false, true}},
      {"on a wagon",
       [](Settings&, GameSnapshot& s) { s.mountState = kMountWagon; },
       5,
       false,
       true,
       {false, false, true, true, false, true}},
      {"no camera",
       [](Settings&, GameSnapshot& s) { s.cameraValid = 0; },
       5,
       false,
       true,
       {false, false, true, false, false, false}},
      {"a one-point route draws nothing",
       [](Settings&, GameSnapshot&) {},
       1,
       true,
       true,
       {true, false, false, true, false, false}},
      {"test pattern without a route",
       [](Settings& c, GameSnapshot&) { c.debug.testPattern = true; },
       0,
       true,
       true,
       {true, false, false, true, false, true}},
      {"road debug needs the minimap",
       [](Settings& c, GameSnapshot&) { c.debug.drawRoads = true; },
       0,
       true,
       false,
       {true, false, false, false, true, true}},
      {"road debug with the minimap hidden",
       [](Settings& c, GameSnapshot& s) {
         c.debug.drawRoads = true;
         s.minimapValid = 0;
       },
       0,
       true,
       false,
       {false, false, false, false, false, false}},
      {"Draw=0 draws nothing, not even the test pattern",
       [](Settings& c, GameSnapshot&) {
         c.debug.draw = false;
         c.debug.testPattern = true;
       },
       5,
       true,
       true,
       {true, false, true, true, false, false}},
  };
  for (const Case& c : cases) {
    Settings settings;
    GameSnapshot snapshot = LiveSnapshot();
    c.change(settings, snapshot);
    const FrameDecisions d = DecideFrame(settings, snapshot, c.routePoints, c.minimapShown, c.worldShown);
    EXPECT_EQ(d.minimap, c.expected.minimap) << c.name;
    EXPECT_EQ(d.worldMap, c.expected.worldMap) << c.name;
    EXPECT_EQ(d.routeUsable, c.expected.routeUsable) << c.name;
    EXPECT_EQ(d.ribbon, c.expected.ribbon) << c.name;
    EXPECT_EQ(d.roadDebug, c.expected.roadDebug) << c.name;
    EXPECT_EQ(d.goOn, c.expected.goOn) << c.name;
  }
}

TEST(FrameDecisions, DiagnosticLineText) {
  GameSnapshot s = LiveSnapshot();
  s.playerX = 12.34f;
  s.playerZ = -5.66f;
  s.clockHours = 9.25f;
  s.minimapRotation = 45.04f;
  s.minimapZoom = 1.5f;
  s.widgetScale = 0.75f;
  s.worldMapCenterX = 100.4f;
  s.worldMapCenterY = -200.6f;
  s.worldMapZoom = 2.0f;
  s.cameraFromDlss = 1;
  DiagnosticFacts facts;
  facts.presents = 300;
  facts.drawn = 299;
  facts.swapchain = nullptr;
  facts.routePoints = 17;
  facts.worldRouteShown = true;
  facts.occlusionUsed = true;
  const FrameDecisions d{true, false, true, true, false, true};
  const std::string nil = [] {
    char text[32];
    std::snprintf(text, sizeof text, "%p", static_cast<void*>(nullptr));
    return std::string(text);
  }();
  EXPECT_EQ(DiagnosticLine(facts, s, d),
            "Diag: presents=300 drawn=299 sc=" + nil +
                " player=1 (12.3,-5.7) clock 9.25 minimap=1 alpha=1.00 rot=45.0 zoom=1.50 scale=0.75 worldmap=0 "
                "centre=(100,-201) zoom=2.00 route=17 -> draw mm=1 wm=0 world=1 (on=1 cam=1 dlss occl)");
  s.cameraFromDlss = 0;
  facts.occlusionUsed = false;
  const std::string plain = DiagnosticLine(facts, s, d);
  EXPECT_EQ(plain.substr(plain.size() - 12), "(on=1 cam=1)");
}

TEST(FrameDecisions, DiagnosticClaimedOncePerPeriod) {
  std::atomic<std::uint32_t> next{0};
  // A tick count past 2^31 at the first frame (a machine up for 25 days) still writes at once.
  EXPECT_TRUE(ClaimDiagnostic(next, 3'000'000'000u));
  EXPECT_FALSE(ClaimDiagnostic(next, 3'000'000'000u));
  EXPECT_FALSE(ClaimDiagnostic(next, 3'000'004'999u));
  EXPECT_TRUE(ClaimDiagnostic(next, 3'000'005'000u));
  // Across the wrap of the tick count.
  next = 0xFFFFF000u;
  EXPECT_TRUE(ClaimDiagnostic(next, 0xFFFFF100u));
  EXPECT_FALSE(ClaimDiagnostic(next, 0x00000010u));  // 5000 ms after 0xFFFFF100 is 0x00000488
  EXPECT_FALSE(ClaimDiagnostic(next, 0x00000487u));
  EXPECT_TRUE(ClaimDiagnostic(next, 0x00000488u));
}

TEST(OutputMode, ChosenBySettingFormatAndColourSpace) {
  struct Case {
    std::int32_t hdrMode, format, colourSpace;
    std::uint32_t mode;
  };
  const Case cases[] = {
      {-1, 28, 0, kOutputSdr},                          // R8G8B8A8_UNORM
      {-1, kFormatR16G16B16A16Float, 0, kOutputScRgb},  // scRGB whatever the colour space
      {-1, kFormatR10G10B10A2Unorm, 0, kOutputSdr},     // ten bits in sRGB
      {-1, kFormatR10G10B10A2Unorm, -1, kOutputSdr},    // no colour space set yet
      {-1, kFormatR10G10B10A2Unorm, kColourSpacePq2020, kOutputHdr10},
      {-1, 28, kColourSpacePq2020, kOutputSdr},
      {0, kFormatR16G16B16A16Float, 0, kOutputSdr},
      {1, 28, 0, kOutputScRgb},
      {2, 28, 0, kOutputHdr10},
      {7, kFormatR10G10B10A2Unorm, kColourSpacePq2020, kOutputHdr10},  // unknown number: Auto
  };
  for (const Case& c : cases) {
    Settings settings;
    settings.hdrMode = c.hdrMode;
    EXPECT_EQ(ChooseOutputMode(settings, c.format, c.colourSpace).mode, c.mode)
        << c.hdrMode << " " << c.format << " " << c.colourSpace;
  }
}

TEST(OutputMode, WhiteLevelBoundedForTheShaderMacro) {
  const float cases[][2] = {{203, 203}, {80, 80}, {NAN, 203}, {INFINITY, 203}, {-5, 203}, {0, 203}, {1e9f, 10000}};
  for (const auto& c : cases) {
    Settings settings;
    settings.hdrWhiteNits = c[0];
    EXPECT_EQ(ChooseOutputMode(settings, 28, 0).whiteNits, c[1]) << c[0];
  }
}

TEST(Rebuild, AnyChangeOfTargetOrRequestRebuilds) {
  int a = 0, b = 0;
  const TargetShape built{&a, 3, 1920, 1080, 28, -1};
  struct Case {
    const char* name;
    std::function<void(TargetShape&)> change;
    bool requested, rebuild;
  };
  const Case cases[] = {
      {"same", [](TargetShape&) {}, false, false},
      {"reload", [](TargetShape&) {}, true, true},
      {"other swap chain", [&](TargetShape& s) { s.swapchain = &b; }, false, true},
      {"buffer count", [](TargetShape& s) { s.bufferCount = 2; }, false, true},
      {"width", [](TargetShape& s) { s.width = 1280; }, false, true},
      {"height", [](TargetShape& s) { s.height = 720; }, false, true},
      {"format", [](TargetShape& s) { s.format = 24; }, false, true},
      {"colour space set to PQ", [](TargetShape& s) { s.colourSpace = kColourSpacePq2020; }, false, true},
      // The game released its swap chain and the next one took the same memory.
      {"swap chain made again at its address", [](TargetShape& s) { s.creation = 2; }, false, true},
  };
  for (const Case& c : cases) {
    TargetShape now = built;
    c.change(now);
    EXPECT_EQ(NeedsRebuild(built, now, c.requested), c.rebuild) << c.name;
  }
}

// Presents in order, each with the main window known then; whether each is drawn into.
TEST(SwapChainChoice, TheMainWindowsNewestIsDrawnAndAlternationNeverMovesIt) {
  int a = 0, b = 0;
  const std::uintptr_t game = 0x100, small = 0x200, replaced = 0x300;
  const PresentingSwapChain gameChain{&a, 1, game}, second{&b, 2, small}, unknown{&b, 0, 0};
  struct Step {
    PresentingSwapChain presenting;
    std::uintptr_t mainWindow;
    bool drawn;
  };
  struct Case {
    const char* name;
    std::vector<Step> steps;
  };
  const Case cases[] = {
      {"a second swap chain on a small window",
       {{gameChain, game, true},
        {second, game, false},
        {gameChain, game, true},
        {second, game, false},
        {gameChain, game, true}}},
      {"the small one presents first", {{second, game, true}, {gameChain, game, true}, {second, game, false}}},
      // The window not yet known: the newer wins, once, and keeps it.
      {"main window unknown", {{gameChain, 0, true}, {second, 0, true}, {gameChain, 0, false}, {second, 0, true}}},
      // Replaced at the same address, on a new window: the new creation is taken at once.
      {"replaced at its address",
       {{gameChain, game, true}, {{&a, 3, replaced}, replaced, true}, {gameChain, replaced, false}}},
      {"made before the hooks", {{unknown, game, true}, {gameChain, game, true}, {unknown, game, false}}},
  };
  for (const Case& c : cases) {
    PresentingSwapChain drawn;
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
      EXPECT_EQ(ChooseSwapChain(drawn, c.steps[i].presenting, c.steps[i].mainWindow), c.steps[i].drawn)
          << c.name << ", present " << i;
    }
  }
}

TEST(Rebuild, SetupRetriedAfterTwoSeconds) {
  EXPECT_TRUE(SetupDue(123, 0));
  EXPECT_FALSE(SetupDue(1000 + kSetupRetryMs - 1, 1000 + kSetupRetryMs));  // 1 ms before
  EXPECT_TRUE(SetupDue(3000, 3000));
  EXPECT_FALSE(SetupDue(0xFFFFFF00u, 0x00000500u));  // the retry time wrapped past 0
  EXPECT_TRUE(SetupDue(0x00000600u, 0x00000500u));
}

TEST(Rebuild, AbsurdDescriptionsAreNotBuiltFor) {
  int sc = 0;
  EXPECT_TRUE(ShapeBuildable({&sc, 3, 1920, 1080, 28, -1}));
  EXPECT_FALSE(ShapeBuildable({nullptr, 3, 1920, 1080, 28, -1}));
  EXPECT_FALSE(ShapeBuildable({&sc, 0, 1920, 1080, 28, -1}));
  EXPECT_FALSE(ShapeBuildable({&sc, 0xFFFFFFFFu, 1920, 1080, 28, -1}));
  EXPECT_FALSE(ShapeBuildable({&sc, 3, 0, 1080, 28, -1}));
  EXPECT_FALSE(ShapeBuildable({&sc, 3, 1920, 100000, 28, -1}));
}

TEST(ReportFailure, EachNameLoggedOnceInTheProcess) {
  const auto lines = CaptureLog([] {
    EXPECT_TRUE(ReportFailure("test: back buffer index", kHrUnexpected));
    EXPECT_FALSE(ReportFailure("test: back buffer index", kHrUnexpected));
    EXPECT_TRUE(ReportFailure("test: waiting for the previous overlay frame", kHrPending));
    EXPECT_FALSE(ReportFailure("test: back buffer index", 0));
  });
  EXPECT_EQ(lines, (testing::Lines{"Overlay: test: back buffer index failed (hr=0x8000FFFF)",
                                   "Overlay: test: waiting for the previous overlay frame failed (hr=0x8000000A)"}));
}

}  // namespace
}  // namespace pathlight
