// The Composition renderer's state machine on a fake device: what it redraws, when it hides and
// shows the visual, its mode switches and the lines it logs for them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "fake_fallback_device.hpp"
#include "log_capture.hpp"

namespace pathlight {
namespace {

using testing::CaptureLog;
using testing::Lines;
using testing::MinimapFrame;
using testing::WorldMapFrame;

// A renderer set up on the fake's window, as the start-up leaves it.
struct Rig : testing::FallbackRig {
  // Ticks at the loop's pace until `until` ms.
  void TickUntil(double until) {
    while (device.now < until) {
      device.now += 16;
      Tick();
    }
  }
};

constexpr PixelRect kCircleRect{46, 841, 250, 1045};  // default minimap, 1080 lines, 2 px margin

TEST(CompositionRenderer, RedrawsTheUnionOnceSoTheLastDrawingIsCleared) {
  Rig rig;
  rig.Start();
  rig.device.frame = WorldMapFrame(-100, 100);  // x 860 .. 1060 on a 1920-wide window
  rig.Tick();                                   // a new surface: everything
  rig.Tick();                                   // the route's own area
  rig.device.frame = MinimapFrame(5000);        // closed map; the route runs far off the minimap
  rig.Tick();
  rig.Tick();

  // World-map margin: (2 x 1.5 + 3) x 1 + 2 = 8 px around x 860..1060, y 540.
  const PixelRect world{852, 532, 1068, 548};
  const PixelRect both{46, 532, 1068, 1045};
  ASSERT_EQ(rig.device.updates.size(), 4u);
  EXPECT_EQ(rig.device.updates[0], (PixelRect{0, 0, 1920, 1080}));
  EXPECT_EQ(rig.device.updates[1], world);
  EXPECT_EQ(rig.device.updates[2], both) << "the world map's drawing must be cleared once";
  EXPECT_EQ(rig.device.updates[3], kCircleRect);
}

TEST(CompositionRenderer, UpdateRectangleCases) {
  struct Case {
    const char* name;
    bool full;
    PixelRect dirty, previous, expected;
  };
  const Case cases[] = {
      {"full redraw", true, {10, 10, 20, 20}, {}, {0, 0, 100, 50}},
      {"union", false, {10, 10, 20, 20}, {30, 5, 40, 15}, {10, 5, 40, 20}},
      {"empty current keeps the previous", false, {}, {30, 5, 40, 15}, {30, 5, 40, 15}},
      {"empty previous takes no part", false, {10, 10, 20, 20}, {}, {10, 10, 20, 20}},
      {"clamped to the surface", false, {-5, -5, 200, 200}, {}, {0, 0, 100, 50}},
      {"both empty and off the surface gives one pixel", false, {}, {}, {0, 0, 1, 1}},
      {"wholly off the surface gives one pixel", false, {150, 60, 170, 80}, {}, {0, 0, 1, 1}},
  };
  for (const Case& c : cases) EXPECT_EQ(UpdateRectangle(c.full, c.dirty, c.previous, 100, 50), c.expected) << c.name;
}

TEST(CompositionRenderer, GarbageGeometryGivesBoundedRectangles) {
  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  const PixelRect fromNan = MinimapDirtyRect({nan, nan, nan, 1});
  EXPECT_EQ(fromNan, (PixelRect{0, 0, 0, 0}));
  const ScreenPoint line[] = {{-inf, 5}, {inf, 1e30f}};
  const PixelRect huge = PolylineDirtyRect(line, 8);
  EXPECT_EQ(huge, (PixelRect{-(1 << 30), 5 - 8, 1 << 30, 1 << 30}));
  EXPECT_EQ(UpdateRectangle(false, huge, {}, 1920, 1080), (PixelRect{0, 0, 1920, 1080}));
}

TEST(CompositionRenderer, MinimisedHidesAtOnceAndReattachesOnTheFirstDrawnTickAfterRestore) {
  Rig rig;
  rig.Start();
  rig.device.frame = MinimapFrame();
  rig.Tick();
  ASSERT_TRUE(rig.device.visualAttached);
  const int commits = rig.device.commits;

  rig.device.minimised = true;
  rig.Tick();
  EXPECT_FALSE(rig.device.visualAttached);
  EXPECT_FALSE(rig.renderer.routeShown);
  EXPECT_EQ(rig.device.commits, commits + 1) << "detaching is committed at once";
  const std::size_t draws = rig.device.updates.size();
  rig.Tick();
  EXPECT_EQ(rig.device.updates.size(), draws) << "nothing is drawn while minimised";

  rig.device.minimised = false;
  rig.Tick();
  EXPECT_TRUE(rig.device.visualAttached);
  EXPECT_EQ(rig.device.updates.size(), draws + 1);
}

TEST(CompositionRenderer, DxgiSurfacesSwitchIsTriedBeforeTheFirstSurface) {
  Rig rig;
  rig.settings.debug.dxgiSurfaces = true;
  rig.Start();
  rig.device.frame = MinimapFrame();
  const Lines lines = rig.Tick();
  EXPECT_EQ(lines, (Lines{"Composition: retrying with DXGI surfaces", "Composition: surface 1920x1080"}));
  EXPECT_TRUE(rig.renderer.dxgiSurfaceMode);
  EXPECT_EQ(rig.device.updates.size(), 1u);
}

TEST(CompositionRenderer, ThirdDrawFailureInDxgiModeSwitchesToTheOverlayWindow) {
  Rig rig;
  rig.Start();
  rig.device.frame = MinimapFrame();
  // One failure with ordinary surfaces moves to DXGI surfaces; two more are tolerated there.
  rig.device.beginDrawResults = {0x887A0005, 0x887A0005, 0x887A0005, 0x887A0005};
  Lines lines;
  for (int i = 0; i < 4; ++i) {
    for (std::string& line : rig.Tick()) lines.push_back(std::move(line));
  }
  EXPECT_EQ(
      lines,
      (Lines{
          "Composition: surface 1920x1080",
          "Composition: BeginDraw failed (hr=0x887A0005)",
          "Composition: retrying with DXGI surfaces",
          "Composition: surface 1920x1080",
          "Composition: BeginDraw failed (hr=0x887A0005)",
          "Composition: surface 1920x1080",
          "Composition: BeginDraw failed (hr=0x887A0005)",
          "Composition: surface 1920x1080",
          "Composition: BeginDraw failed (hr=0x887A0005)",
          "Overlay window: composition refuses to draw; drawing the route in an overlay window instead (minimap and "
          "world map)",
      }));
  EXPECT_TRUE(rig.renderer.overlayWindowMode);
  rig.Tick();
  EXPECT_EQ(rig.device.pushes, 1) << "the next tick draws in the overlay window";
}

TEST(CompositionRenderer, ReplacedWindowMovesTheTargetWithOneLineAndAFullRedraw) {
  Rig rig;
  rig.Start();
  rig.device.frame = MinimapFrame();
  rig.Tick();
  rig.Tick();
  ASSERT_EQ(rig.device.updates.back(), kCircleRect);

  rig.device.found = 0x200;
  Lines lines;
  for (int i = 0; i < 200; ++i) {  // about three seconds of ticks: three window checks
    rig.device.now += 16;
    for (std::string& line : rig.Tick()) {
      if (line.rfind("Composition:", 0) == 0) lines.push_back(std::move(line));
    }
  }
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "Composition: now on window 0x200 (1920x1080)");
  EXPECT_EQ(lines[1], "Composition: surface 1920x1080");
  EXPECT_EQ(rig.renderer.gameWindow, 0x200u);
  EXPECT_TRUE(rig.device.visualAttached);
  const auto full = std::count(rig.device.updates.begin(), rig.device.updates.end(), PixelRect{0, 0, 1920, 1080});
  EXPECT_EQ(full, 2) << "the first surface and the new window's";
}

TEST(CompositionRenderer, FirstDiagnosticLineComesFiveSecondsAfterTheFirstTick) {
  Rig rig;
  rig.Start();
  rig.device.frame = MinimapFrame();
  const double first = rig.device.now;
  Lines diag;
  double at = 0;
  while (diag.empty() && rig.device.now < first + 6000) {
    rig.device.now += 16;
    diag = rig.Tick();
    std::erase_if(diag, [](const std::string& l) { return l.rfind("Diag:", 0) != 0; });
    at = rig.device.now;
  }
  ASSERT_EQ(diag.size(), 1u);
  EXPECT_GE(at - (first + 16), 5000);
  EXPECT_LT(at - (first + 16), 5016);
  EXPECT_EQ(diag[0],
            "Diag: ticks=313 drawn=313 player=1 (0.0,0.0) minimap=1 alpha=1.00 rot=0.0 zoom=1.00 worldmap=0 route=3 -> "
            "mm=1 wm=0 shown=1");
}

TEST(CompositionRenderer, StartFallsBackToTheOverlayWindowWithTheReason) {
  struct Case {
    const char* name;
    bool overlaySetting;
    FallbackDevice::SetupResult setup;
    Lines expected;
  };
  const Case cases[] = {
      {"setup failed",
       false,
       {false, false, 0x80004001},
       {"Composition: setup failed (hr=0x80004001)",
        "Overlay window: composition setup failed; drawing the route in an overlay window instead (minimap and world "
        "map)"}},
      {"no device",
       false,
       {false, true, 0x887A0004},
       {"Composition: D3D11CreateDevice failed (hr=0x887A0004)",
        "Overlay window: composition setup failed; drawing the route in an overlay window instead (minimap and world "
        "map)"}},
      {"debug switch",
       true,
       {true, false, 0},
       {"Overlay window: Debug OverlayWindow=1; drawing the route in an overlay window instead (minimap and world "
        "map)"}},
      {"composition", false, {true, false, 0}, {"Composition: ready on window 0x100"}},
  };
  for (const Case& c : cases) {
    Rig rig;
    rig.settings.debug.overlayWindow = c.overlaySetting;
    rig.device.setup = c.setup;
    EXPECT_EQ(rig.Start(), c.expected) << c.name;
  }
}

TEST(CompositionRenderer, GivesUpWhenNeitherCompositionNorTheOverlayWindowWorks) {
  Rig rig;
  rig.device.setup = {false, false, 0x80004001};
  rig.device.gdiplusStarts = false;
  Lines lines = CaptureLog([&] { EXPECT_FALSE(StartCompositionRenderer(rig.renderer, rig.device, rig.settings)); });
  EXPECT_EQ(lines.back(), "Overlay window: GDI+ did not start");

  // A surface that cannot be made, and no overlay window either: drawing stops, ticks go on.
  Rig late;
  late.Start();
  late.device.frame = MinimapFrame();
  late.device.createSurface = 0x8007000E;
  late.device.overlayCreates = false;
  lines = late.Tick();
  EXPECT_EQ(lines.back(), "Composition: no surface; the route will not be drawn");
  EXPECT_TRUE(late.renderer.rendererGaveUp);
  late.TickUntil(late.device.now + 6000);
  EXPECT_EQ(late.device.updates.size(), 0u);
}

TEST(CompositionRenderer, NoGameWindowAfterSixHundredTries) {
  Rig rig;
  rig.device.found = 0;
  const Lines lines =
      CaptureLog([&] { EXPECT_FALSE(StartCompositionRenderer(rig.renderer, rig.device, rig.settings)); });
  EXPECT_EQ(lines, (Lines{"Composition: game window not found"}));
  EXPECT_EQ(rig.device.now, 1000 + 600 * 500);
}

}  // namespace
}  // namespace pathlight
