// The in-frame renderer's part of the demo, in one run of the simulated game: the route on the
// minimap and the world map, the ribbon on the road ahead once the player rides, hidden behind a
// wall through Streamline's depth, dimmer at night, and still in place after the window is resized.
// Each picture is the frame the game presented (present-shot); scripts/demo.sh keeps them.
#include <cairo.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include "game_folder.hpp"
#include "picture.hpp"
#include "synthetic_world.hpp"

namespace e2e {
namespace {

// The route's cyan as the maps draw it, opaque.
bool MapRoute(Rgb p) { return p.r <= 40 && std::abs(p.g - 0xE0) <= 40 && p.b >= 215; }
// The same cyan laid over the ground at the ribbon's opacity: far greener and bluer than red, which
// neither the sky (blue, little green), the grass, the sand roads nor the grey wall are.
bool RibbonTint(Rgb p) { return p.g - p.r >= 60 && p.b - p.r >= 80; }
// The wall's grey, lit by day.
bool WallGrey(Rgb p) { return p.r >= 60 && std::abs(p.r - p.g) <= 16 && std::abs(p.g - p.b) <= 16; }

// The point `length` metres along the line from its start, and the index of the first vertex beyond it.
std::pair<Point, std::size_t> Along(const std::vector<Point>& line, double length) {
  for (std::size_t i = 1; i < line.size(); ++i) {
    const double step = std::hypot(line[i].x - line[i - 1].x, line[i].z - line[i - 1].z);
    if (step >= length && step > 0) {
      const double t = length / step;
      return {{line[i - 1].x + t * (line[i].x - line[i - 1].x), line[i - 1].z + t * (line[i].z - line[i - 1].z)}, i};
    }
    length -= step;
  }
  return {line.back(), line.size()};
}

// The default minimap widget's round map at this window height: centre and radius in pixels.
struct Disc {
  double cx, cy, radius;
  bool Inside(int x, int y) const { return std::hypot(x + 0.5 - cx, y + 0.5 - cy) < radius - 2; }
};
Disc MinimapDisc(int height) {
  const double scale = height / 1080.0;
  return {150 * scale - 2 * scale, 945 * scale - 1.25 * scale, 100 * scale};
}

int RouteInMinimap(const Picture& picture) {
  const Disc disc = MinimapDisc(picture.Height());
  int n = 0;
  for (int y = 0; y < picture.Height(); ++y) {
    for (int x = 0; x < picture.Width(); ++x) n += disc.Inside(x, y) && MapRoute(picture.At(x, y));
  }
  return n;
}

// Ribbon pixels on the ground below the horizon, right of the minimap.
int RibbonOnGround(const Picture& picture) {
  const int left = static_cast<int>(260.0 * picture.Height() / 1080.0);
  return picture.Count(left, picture.Height() / 2, picture.Width(), picture.Height(), RibbonTint);
}

TEST(InFrameStoryE2E, MinimapWorldMapRibbonWallNightAndResize) {
  GameFolder game("in-frame-story");
  ASSERT_TRUE(MakeWorld(game));
  // The story's world and waypoint; a cyan the simulated game never draws, the ribbon nearly opaque
  // by day so the pictures show it plainly, and half of that at night.
  const Point start{-980, -990}, waypoint{-480, -530};
  std::ofstream(game.Bin64() / "Pathlight.ini")
      << "[Style]\r\nColor=#00E0FF\r\nOutlineWidth=0\r\n"
         "[World]\r\nColor=#00E0FFFF\r\nWidth=0.6\r\nOpacity=0.9\r\nNightOpacity=0.45\r\n";
  const std::vector<Point> route = NativeRoute(game, start, waypoint);
  ASSERT_GE(route.size(), 10u) << "no road route in the test world";
  // The player walks 40 m along the route, so the camera looks down it; the wall stands 16 m further on.
  const auto [standing, next] = Along(route, 40);
  const Point wall = Along(route, 56).first;
  std::string walk = "+0 walk 1500";
  for (std::size_t i = 1; i < next; ++i) walk += " " + Text(route[i].x) + "," + Text(route[i].z);
  walk += " " + Text(standing.x) + "," + Text(standing.z);

  RunOptions streamline;
  streamline.copies = {"doubles/sl.interposer.dll"};
  const auto shot = [&](const char* name) { return "present-shot " + WindowsPath(game.Root() / name); };
  ASSERT_EQ(game.RunScenario({
                // Streamline's double hands the library the game's depth buffer and camera.
                "0 defer-swapchain", "0 load-streamline",
                "0 place " + Text(start.x) + " " + Text(start.z),
                "0 wait 60000 ^Overlay: DLSS depth hooked",
                "+0 swapchain streamline",
                "+0 wait 20000 ^Overlay: swapchain hooks installed in ",
                "+0 streamline-frames",
                "+0 waypoint " + Text(waypoint.x) + " " + Text(waypoint.z),
                "+0 wait 60000 ^Route: \\(",
                walk,
                "+1600 wait 30000 ^Overlay: ready on 1280x720, ",
                // On foot the ribbon waits for a mount ([World] MountedOnly): the minimap shows the route.
                "+0 " + shot("minimap.png"),
                "+0 worldmap open",
                "+0 " + shot("worldmap.png"),
                "+0 worldmap close",
                "+0 mount horse",
                "+0 wait 30000 ^Player: riding",
                "+0 mark",
                "+0 wait 30000 ^Diag: .* world=1 \\(on=1 cam=1 dlss occl\\)$",
                "+0 " + shot("ribbon.png"),
                "+0 wall " + Text(wall.x) + " " + Text(wall.z) + " 14 8",
                "+0 " + shot("wall.png"),
                "+0 wall off",
                "+0 clock 23:00",
                "+0 mark",
                "+0 wait 30000 ^Diag: .* clock 23\\.00 .* world=1 ",
                "+0 " + shot("night.png"),
                "+0 clock 12:00",
                "+0 mark",
                "+0 wait 30000 ^Diag: .* clock 12\\.00 ",
                "+0 resize 1024 640",
                "+0 wait 30000 ^Overlay: ready on 1024x640, ",
                "+0 " + shot("resized.png"),
                "+0 quit",
            }, {}, streamline),
            0);
  const auto log = game.Log();
  ASSERT_TRUE(log);
  const std::vector<std::string> lines = LogMessages(*log);
  EXPECT_GE(Count(lines, "^Occlusion: depth via slSetTag(ForFrame)?: 1280x720 "), 1u) << Dump(lines);
  EXPECT_EQ(Count(lines, "failed|^Occlusion: not used yet: the depth|unexpected"), 0u) << Dump(lines);

  const Picture minimap(game.Root() / "minimap.png"), worldmap(game.Root() / "worldmap.png"),
      ribbon(game.Root() / "ribbon.png"), walled(game.Root() / "wall.png"), night(game.Root() / "night.png"),
      resized(game.Root() / "resized.png");
  for (const Picture* p : {&minimap, &worldmap, &ribbon, &walled, &night, &resized}) ASSERT_TRUE(p->Ok());

  EXPECT_GE(RouteInMinimap(minimap), 40);
  EXPECT_EQ(RibbonOnGround(minimap), 0) << "a ribbon while on foot";
  EXPECT_GE(worldmap.Count(200, 0, worldmap.Width(), worldmap.Height(), MapRoute), 150);
  const int byDay = RibbonOnGround(ribbon);
  EXPECT_GE(byDay, 300);

  // The wall: no ribbon on it, save at its foot, where the depth tolerance lets the ribbon reach a
  // few rows up (left out: its lowest 30 rows); the ribbon still leads up to it.
  int x0 = walled.Width(), y0 = walled.Height(), x1 = -1, y1 = -1;
  // Right of the minimap, whose player arrow is white.
  for (int y = 0; y < walled.Height(); ++y) {
    for (int x = 180; x < walled.Width(); ++x) {
      if (!WallGrey(walled.At(x, y))) continue;
      x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
    }
  }
  ASSERT_GT(x1 - x0, 100) << "no wall in the picture";
  ASSERT_GT(y1 - y0, 60);
  EXPECT_EQ(walled.Count(x0, y0, x1 + 1, y1 - 30, RibbonTint), 0);
  EXPECT_GE(walled.Count(0, y1 + 1, walled.Width(), walled.Height(), RibbonTint), 100);
  // Without the wall the same stretch of road shows the ribbon.
  EXPECT_GE(ribbon.Count(x0, y0, x1 + 1, y1 - 30, RibbonTint), 50);

  // At night: the ribbon is still there, at half the opacity over a darker ground, so less bright.
  const auto brightness = [](const Picture& p) {
    long sum = 0, n = 0;
    for (int y = p.Height() / 2; y < p.Height(); ++y) {
      for (int x = 0; x < p.Width(); ++x) {
        const Rgb c = p.At(x, y);
        if (RibbonTint(c)) sum += c.g + c.b, ++n;
      }
    }
    return n > 0 ? static_cast<double>(sum) / n : 0.0;
  };
  EXPECT_GE(RibbonOnGround(night), 100);
  EXPECT_LT(brightness(night), 0.8 * brightness(ribbon));

  // Resized: both the minimap route and the ribbon at the new size.
  EXPECT_EQ(resized.Width(), 1024);
  EXPECT_GE(RouteInMinimap(resized), 30);
  EXPECT_GE(RibbonOnGround(resized), 150);
}

}  // namespace
}  // namespace e2e
