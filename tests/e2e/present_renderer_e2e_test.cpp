// The in-frame renderer in the simulated game: it finds the game's present queue, builds its
// objects, and draws into the frame the game presents (read back with present-shot) the route on
// the minimap and on the open world map in [Style] Color and the test pattern; a reload that
// changes HdrMode builds the objects again, with the backend's pixel shader converting to scRGB.
#include <cairo.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <algorithm>
#include <memory>

#include "game_folder.hpp"
#include "picture.hpp"
#include "synthetic_world.hpp"

namespace e2e {
namespace {

// [Style] Color below: a cyan the simulated game never draws.
bool RouteColour(Rgb p) { return p.r <= 40 && std::abs(p.g - 0xE0) <= 40 && p.b >= 215; }
// The same cyan through the scRGB conversion on this 8-bit swap chain: linear green 0.75 times
// 203 / 80 saturates.
bool ScRgbRouteColour(Rgb p) { return p.r <= 40 && p.g >= 250 && p.b >= 250; }
bool Magenta(Rgb p) { return p.r >= 245 && p.g <= 10 && p.b >= 245; }

TEST(PresentRendererE2E, DrawsRouteAndTestPatternIntoThePresentedFrameAndRebuildsOnReload) {
  GameFolder game("present-renderer");
  ASSERT_TRUE(MakeWorld(game));
  const fs::path ini = game.Bin64() / "Pathlight.ini";
  // [Style] last: the reload's appended line belongs to it.
  std::ofstream(ini)
      << "[Debug]\r\nTestPattern=1\r\n[Style]\r\nRenderer=Present\r\nColor=#00E0FF\r\nOutlineWidth=0\r\n";
  const auto shot = [&](const char* name) { return "present-shot " + WindowsPath(game.Root() / name); };
  ASSERT_EQ(
      game.RunScenario({
          "0 place -980 -990",
          "0 waypoint -480 -530",
          "0 wait 60000 ^Route: \\(",
          "+0 wait 30000 ^Overlay: ready on 1280x720, 2 buffers, format 28, colour space -?[0-9]+ -> output mode 0 ",
          "+0 " + shot("minimap.png"),
          "+0 worldmap open",
          "+0 " + shot("worldmap.png"),
          "+0 worldmap close",
          "+0 append-line " + WindowsPath(ini) + " HdrMode=scRGB",
          "+0 postkey 0xDC press",
          "+0 wait 30000 ^Config: reloaded",
          "+0 wait 30000 ^Overlay: ready on .* -> output mode 1 \\(white 203 nits\\)$",
          "+0 " + shot("scrgb.png"),
          "+0 quit",
      }),
      0);
  const auto log = game.Log();
  ASSERT_TRUE(log);
  const std::vector<std::string> lines = LogMessages(*log);
  EXPECT_EQ(Count(lines,
                  "^Overlay: present queue [0-9A-Fa-f]+ from .*\\.dll \\(via recorded at swapchain creation\\), "
                  "device [0-9A-Fa-f]+$"),
            2u)
      << Dump(lines);
  EXPECT_EQ(Count(lines, "^Overlay: ready on "), 2u);
  EXPECT_EQ(Count(lines, "failed"), 0u) << Dump(lines);

  // The minimap disc of the default widget at 720 lines: centre (96.7, 625.8), radius 66.7.
  const double scale = 720.0 / 1080.0, unit = 200 * scale / 200;
  const double cx = 150 * scale - 2 * unit, cy = 945 * scale - 1.25 * unit, radius = 100 * unit;
  const Picture minimap(game.Root() / "minimap.png");
  ASSERT_TRUE(minimap.Ok());
  int inside = 0;
  for (int y = 0; y < minimap.Height(); ++y) {
    for (int x = 0; x < minimap.Width(); ++x) {
      if (std::hypot(x + 0.5 - cx, y + 0.5 - cy) < radius - 2) inside += RouteColour(minimap.At(x, y));
    }
  }
  EXPECT_GE(inside, 40);

  // After the reload the backend's pixel shader converts to scRGB: the route comes out brighter.
  const Picture scrgb(game.Root() / "scrgb.png");
  ASSERT_TRUE(scrgb.Ok());
  int sdrBright = 0, converted = 0;
  for (int y = 0; y < scrgb.Height(); ++y) {
    for (int x = 0; x < scrgb.Width(); ++x) {
      if (std::hypot(x + 0.5 - cx, y + 0.5 - cy) >= radius - 2) continue;
      sdrBright += ScRgbRouteColour(minimap.At(x, y));
      converted += ScRgbRouteColour(scrgb.At(x, y));
    }
  }
  EXPECT_EQ(sdrBright, 0);
  EXPECT_GE(converted, 40);

  // The test pattern spans (40..120) x the scale: 26.7 to 80 pixels.
  const Picture worldmap(game.Root() / "worldmap.png");
  ASSERT_TRUE(worldmap.Ok());
  for (const Picture* picture : {&minimap, &worldmap}) {
    EXPECT_TRUE(Magenta(picture->At(28, 28)));
    EXPECT_TRUE(Magenta(picture->At(78, 78)));
    EXPECT_FALSE(Magenta(picture->At(24, 50)));
    EXPECT_FALSE(Magenta(picture->At(83, 50)));
  }

  // The world map: the route crosses it in the route colour, away from the minimap's corner.
  int onMap = 0;
  for (int y = 0; y < worldmap.Height(); ++y) {
    for (int x = 200; x < worldmap.Width(); ++x) onMap += RouteColour(worldmap.At(x, y));
  }
  EXPECT_GE(onMap, 150);
}

TEST(PresentRendererE2E, DrawZeroMakesNoObjectsAndDrawsNothing) {
  GameFolder game("present-renderer-draw0");
  ASSERT_TRUE(MakeWorld(game));
  std::ofstream(game.Bin64() / "Pathlight.ini") << "[Debug]\r\nTestPattern=1\r\nDraw=0\r\n[Style]\r\nColor=#00E0FF\r\n";
  ASSERT_EQ(game.RunScenario({
                "0 place -980 -990",
                "0 waypoint -480 -530",
                "0 wait 60000 ^Route: \\(",
                "+0 wait 30000 ^Overlay: presents reach the overlay",
                "+0 present-shot " + WindowsPath(game.Root() / "shot.png"),
                "+0 quit",
            }),
            0);
  const auto log = game.Log();
  ASSERT_TRUE(log);
  const std::vector<std::string> lines = LogMessages(*log);
  EXPECT_EQ(Count(lines, "^Overlay: (present queue|ready on)"), 0u) << Dump(lines);
  const Picture shot(game.Root() / "shot.png");
  ASSERT_TRUE(shot.Ok());
  int drawn = 0;
  for (int y = 0; y < shot.Height(); ++y) {
    for (int x = 0; x < shot.Width(); ++x) drawn += Magenta(shot.At(x, y)) || RouteColour(shot.At(x, y));
  }
  EXPECT_EQ(drawn, 0);
}

}  // namespace
}  // namespace e2e
