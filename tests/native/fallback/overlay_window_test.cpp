// The overlay window's decisions on a fake device: when a picture is pushed, where, with which pens,
// and what happens when the window will not take it.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "fake_fallback_device.hpp"
#include "log_capture.hpp"

namespace pathlight {
namespace {

using testing::Lines;
using testing::MinimapFrame;
using testing::WorldMapFrame;

struct OverlayRig : testing::FallbackRig {
  OverlayRig() {
    settings.debug.overlayWindow = true;
    Start();
    device.frame = MinimapFrame();
  }
};

TEST(OverlayWindow, AnUnchangedPictureIsNotPushedAgainAndAMovedWindowIs) {
  OverlayRig rig;
  rig.Tick();
  ASSERT_EQ(rig.device.pushes, 1);
  EXPECT_TRUE(rig.device.overlayShown);
  EXPECT_EQ(rig.device.lastPicture.screenX, 46);
  EXPECT_EQ(rig.device.lastPicture.screenY, 841);
  rig.Tick();
  rig.Tick();
  EXPECT_EQ(rig.device.pushes, 1);
  EXPECT_EQ(rig.renderer.drawn, 1) << "an unchanged tick does not count as drawn";

  rig.device.originX = 300;  // the game window moved; the route did not
  rig.device.originY = 20;
  rig.Tick();
  EXPECT_EQ(rig.device.pushes, 2);
  EXPECT_EQ(rig.device.lastPicture.screenX, 346);
  EXPECT_EQ(rig.device.lastPicture.screenY, 861);
  EXPECT_EQ(rig.device.buffersMade, 1) << "the pixel buffer is kept while the size holds";

  rig.device.client = {1280, 720};  // a smaller circle: a new buffer
  rig.Tick();
  EXPECT_EQ(rig.device.pushes, 3);
  EXPECT_EQ(rig.device.buffersMade, 2);
}

TEST(OverlayWindow, PicturesAndPens) {
  struct Case {
    const char* name;
    float outlineWidth;
    std::uint32_t colour;
    float minimapAlpha;
    bool outline;
    std::uint32_t routeArgb;
  };
  const Case cases[] = {
      {"defaults", 1.5f, PackColour(0xD1, 0x4D, 0x45, 0xF5), 1.0f, true, 0xF5D14D45},
      {"outline width 0: the route pen only", 0.0f, PackColour(0xD1, 0x4D, 0x45, 0xF5), 1.0f, false, 0xF5D14D45},
      {"half-transparent colour", 1.5f, PackColour(0x10, 0x20, 0x30, 0x80), 1.0f, true, 0x80102030},
      {"faded minimap", 1.5f, PackColour(0x10, 0x20, 0x30, 0xFF), 0.5f, true, 0x80102030},
  };
  for (const Case& c : cases) {
    OverlayRig rig;
    rig.settings.outlineWidth = c.outlineWidth;
    rig.settings.routeColor = c.colour;
    rig.device.frame.snapshot.minimapAlpha = c.minimapAlpha;
    rig.Tick();
    const OverlayPicture& p = rig.device.lastPicture;
    EXPECT_EQ(p.outline, c.outline) << c.name;
    EXPECT_EQ(p.routeArgb, c.routeArgb) << c.name;
    EXPECT_FLOAT_EQ(p.routeWidth, 3.0f) << c.name;
    if (c.outline) {
      EXPECT_FLOAT_EQ(p.outlineWidth, 6.0f) << c.name;
    }
    EXPECT_TRUE(p.clipToCircle) << c.name;
    EXPECT_FLOAT_EQ(p.r, 100.0f) << c.name;
  }
}

TEST(OverlayWindow, PenAlphaIsClampedNotWrapped) {
  const std::uint32_t red = PackColour(0xFF, 0, 0, 0xFF);
  EXPECT_EQ(PenArgb(red, 1.0f), 0xFFFF0000u);
  EXPECT_EQ(PenArgb(red, 2.0f), 0xFFFF0000u);
  EXPECT_EQ(PenArgb(red, -1.0f), 0x00FF0000u);
  EXPECT_EQ(PenArgb(red, std::numeric_limits<float>::quiet_NaN()), 0x00FF0000u);
}

TEST(OverlayWindow, NothingToDrawHidesTheWindow) {
  OverlayRig rig;
  rig.Tick();
  ASSERT_TRUE(rig.device.overlayShown);
  rig.device.frame = MinimapFrame(5000);  // cut to nothing near the minimap
  rig.device.frame.routePolyline = {{0, 400}, {0, 800}};
  rig.Tick();
  EXPECT_FALSE(rig.device.overlayShown);

  // A world-map route one pixel high after the clip to the client area.
  rig.device.frame = WorldMapFrame(-100, 100);
  rig.device.frame.snapshot.worldMapCenterY = 500;  // the line at y = 1040, 8 px of margin
  rig.Tick();
  EXPECT_TRUE(rig.device.overlayShown) << "a visible line is drawn";
  rig.device.frame.snapshot.worldMapCenterY = 547;  // y = 1087: the area starts at 1079
  rig.Tick();
  EXPECT_FALSE(rig.device.overlayShown) << "an area 1 pixel high is hidden";
}

TEST(OverlayWindow, RefusedPushIsLoggedOnceAndTriedAgain) {
  OverlayRig rig;
  rig.device.paintSucceeds = false;
  Lines lines = rig.Tick();
  EXPECT_EQ(lines, (Lines{"Overlay window: UpdateLayeredWindow failed (5)"}));
  EXPECT_TRUE(rig.Tick().empty());
  rig.device.paintSucceeds = true;
  rig.Tick();
  EXPECT_EQ(rig.device.pushes, 1) << "the same picture goes through once the window takes it";
  EXPECT_TRUE(rig.device.overlayShown);
}

TEST(OverlayWindow, FollowsAReplacedGameWindow) {
  OverlayRig rig;
  rig.Tick();
  rig.device.found = 0x300;
  rig.device.now += kWindowCheckMs;
  EXPECT_EQ(rig.Tick(), (Lines{"Overlay window: now over window 0x300"}));
  EXPECT_EQ(rig.device.ownerChanges, 1);

  // Destroyed with its owner: made again.
  rig.device.overlayExists = false;
  rig.device.found = 0x400;
  rig.device.now += kWindowCheckMs;
  EXPECT_EQ(rig.Tick(), (Lines{"Overlay window: now over window 0x400"}));
  EXPECT_EQ(rig.device.ownerChanges, 1);
  EXPECT_TRUE(rig.device.overlayExists);
}

}  // namespace
}  // namespace pathlight
