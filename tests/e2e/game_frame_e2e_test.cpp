// The simulated game's own frame, read back with frame-shot: its minimap where the widget it
// publishes says (scaled to the window), with the roads of its world inside the disc and nothing
// outside, the world map while open, and no minimap while hidden.
#include <cairo.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <utility>

#include "game_folder.hpp"
#include "synthetic_world.hpp"
#include "picture.hpp"

namespace e2e {
namespace {

// The landscape the game clears to: a green that breathes, green always 15 above red.
bool Landscape(Rgb p) { return std::abs(p.b - 36) <= 4 && std::abs(p.g - p.r - 15) <= 4 && p.r >= 28 && p.r <= 54; }
// The minimap's roads, light sand of two shades.
bool MinimapRoad(Rgb p) { return p.r >= 150 && p.g >= 130 && p.r - p.b >= 40; }
// The world map's parchment and its brown roads.
bool Parchment(Rgb p) { return std::abs(p.r - 206) <= 6 && std::abs(p.g - 192) <= 6 && std::abs(p.b - 158) <= 6; }
bool WorldMapRoad(Rgb p) { return p.r < 160 && p.r - p.b >= 40 && p.g < 130; }

// The minimap disc of a widget laid out for 1080 lines, in a window `height` high: the round map
// is half the widget's 200-unit box across, centred 2 units left of and 1.25 above its anchor.
struct Disc {
  double x, y, radius;
};
Disc DiscOf(double size, double anchorX, double anchorY, int height) {
  const double s = height / 1080.0, unit = size * s / 200;
  return {anchorX * s - 2 * unit, anchorY * s - 1.25 * unit, 100 * unit};
}

struct DiscCount {
  int insideNotMap = 0;  // landscape showing within 0.9 radius
  int insideRoads = 0;
  int outsideNotLandscape = 0;  // anything drawn 5 pixels or more beyond the rim
};

DiscCount CountAround(const Picture& picture, Disc disc) {
  DiscCount count;
  for (int y = 0; y < picture.Height(); ++y) {
    for (int x = 0; x < picture.Width(); ++x) {
      const double d = std::hypot(x + 0.5 - disc.x, y + 0.5 - disc.y);
      const Rgb p = picture.At(x, y);
      if (d <= 0.9 * disc.radius) {
        count.insideNotMap += Landscape(p);
        count.insideRoads += MinimapRoad(p);
      } else if (d >= disc.radius + 5) {
        count.outsideNotLandscape += !Landscape(p);
      }
    }
  }
  return count;
}

// Of the road pixels of `from` whose place in `to` (move: offset from the disc centre in `from`
// to offset in `to`) lies well inside the disc, the share with a road pixel within 2 pixels there.
template <typename Move> double RoadsFoundAgain(const Picture& from, const Picture& to, Disc disc, Move move) {
  int considered = 0, found = 0;
  for (int y = 0; y < from.Height(); ++y) {
    for (int x = 0; x < from.Width(); ++x) {
      if (!MinimapRoad(from.At(x, y))) continue;
      const auto [mx, my] = move(x + 0.5 - disc.x, y + 0.5 - disc.y);
      if (std::hypot(mx, my) > 0.8 * disc.radius) continue;
      ++considered;
      const int tx = static_cast<int>(std::floor(disc.x + mx)), ty = static_cast<int>(std::floor(disc.y + my));
      bool near = false;
      for (int dy = -2; dy <= 2 && !near; ++dy)
        for (int dx = -2; dx <= 2 && !near; ++dx) near = MinimapRoad(to.At(tx + dx, ty + dy));
      found += near;
    }
  }
  EXPECT_GE(considered, 20);
  return considered == 0 ? 0.0 : static_cast<double>(found) / considered;
}

std::string WindowsPath(const fs::path& path) {
  std::string text = "Z:" + path.string();
  for (char& c : text) c = c == '/' ? '\\' : c;
  return text;
}

TEST(GameFrameE2E, MinimapFollowsWidgetAndWindowWorldMapFillsIt) {
  GameFolder game("frame");
  ASSERT_TRUE(MakeWorld(game));
  std::ofstream(game.Bin64() / "Pathlight.ini") << "[Style]\r\nRenderer=None\r\n";
  const auto shot = [&](const char* name) { return "frame-shot " + WindowsPath(game.Root() / name); };
  // The pictures wait on nothing of the library's: the game draws from its own state, and each
  // frame-shot waits for the game's own roads.
  std::ofstream(game.Root() / "scenario.txt")
      << "0 world off  # the plain landscape behind the maps\n"
         "0 place -980 -990  # on the main road south-west of a town\n"
         "100 "
      << shot("minimap.png")
      << "\n"
         "200 minimap-widget 300 600 540  # larger, mid-window\n"
         "200 "
      << shot("widget.png")
      << "\n"
         "300 resize 960 540  # the widget scales by a half\n"
         "300 "
      << shot("resized.png")
      << "\n"
         "400 minimap-view 90 1  # turned a quarter\n"
         "400 "
      << shot("turned.png")
      << "\n"
         "450 minimap-view 0 2  # zoomed in twice\n"
         "450 "
      << shot("zoomed.png")
      << "\n"
         "500 worldmap open\n"
         "500 "
      << shot("worldmap.png")
      << "\n"
         "600 worldmap close\n"
         "600 minimap hide\n"
         "600 "
      << shot("hidden.png")
      << "\n"
         // The library reads the widget as published: back to its normal size in the half-height
         // window, smaller than the normal widget it saw at 720 lines.
         "650 minimap-widget 200 150 945\n"
         "650 wait 30000 ^Minimap: normal widget size 100 at \\(75, 47[23]\\)$\n"
         "+0 quit\n";
  ASSERT_EQ(game.Run({"--scenario", WindowsPath(game.Root() / "scenario.txt")}), 0);

  const struct {
    const char* file;
    int width, height;
    Disc disc;
  } minimaps[] = {
      {"minimap.png", 1280, 720, DiscOf(200, 150, 945, 720)}, {"widget.png", 1280, 720, DiscOf(300, 600, 540, 720)},
      {"resized.png", 960, 540, DiscOf(300, 600, 540, 540)},  {"turned.png", 960, 540, DiscOf(300, 600, 540, 540)},
      {"zoomed.png", 960, 540, DiscOf(300, 600, 540, 540)},
  };
  for (const auto& m : minimaps) {
    SCOPED_TRACE(m.file);
    const Picture picture(game.Root() / m.file);
    ASSERT_TRUE(picture.Ok());
    ASSERT_EQ(picture.Width(), m.width);
    ASSERT_EQ(picture.Height(), m.height);
    const DiscCount count = CountAround(picture, m.disc);
    EXPECT_EQ(count.insideNotMap, 0);
    EXPECT_GE(count.insideRoads, 40);
    EXPECT_EQ(count.outsideNotLandscape, 0);
  }

  // Turned a quarter, a world point shown at (x, y) from the centre moves to (y, -x): east comes
  // to the top. Zoomed in twice, it moves to (2x, 2y).
  const Disc disc = DiscOf(300, 600, 540, 540);
  const Picture upright(game.Root() / "resized.png"), turned(game.Root() / "turned.png"),
      zoomed(game.Root() / "zoomed.png");
  ASSERT_TRUE(upright.Ok() && turned.Ok() && zoomed.Ok());
  EXPECT_GE(RoadsFoundAgain(upright, turned, disc, [](double x, double y) { return std::pair{y, -x}; }), 0.9);
  EXPECT_GE(RoadsFoundAgain(upright, zoomed, disc, [](double x, double y) { return std::pair{2 * x, 2 * y}; }), 0.9);

  // The world map covers the window: parchment nearly everywhere, roads across it, the player's
  // red mark mid-window (it opened centred on the player).
  const Picture map(game.Root() / "worldmap.png");
  ASSERT_TRUE(map.Ok());
  int parchment = 0, roads = 0, landscape = 0;
  for (int y = 0; y < map.Height(); ++y) {
    for (int x = 0; x < map.Width(); ++x) {
      parchment += Parchment(map.At(x, y));
      roads += WorldMapRoad(map.At(x, y));
      landscape += Landscape(map.At(x, y));
    }
  }
  EXPECT_EQ(landscape, 0);
  EXPECT_GE(parchment, map.Width() * map.Height() * 8 / 10);
  EXPECT_GE(roads, 500);
  const Rgb centre = map.At(480, 270);
  EXPECT_GT(centre.r, 150);
  EXPECT_LT(centre.g, 80);

  // Hidden: nothing but landscape.
  const Picture hidden(game.Root() / "hidden.png");
  ASSERT_TRUE(hidden.Ok());
  int drawn = 0;
  for (int y = 0; y < hidden.Height(); ++y)
    for (int x = 0; x < hidden.Width(); ++x) drawn += !Landscape(hidden.At(x, y));
  EXPECT_EQ(drawn, 0);
}

}  // namespace
}  // namespace e2e
