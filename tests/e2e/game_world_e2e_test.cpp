// The simulated game's 3D world, through the camera it publishes: a road point shows where the
// camera's projection puts it (computed here from the game's camera rig, not by the library), a
// wall across the road hides it, the night is darker than the day; and the values the game reads
// back from a presented half-float buffer are the colour it cleared it to.
#include <cairo.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include "game_folder.hpp"
#include "ground_view.hpp"
#include "picture.hpp"

namespace e2e {
namespace {

// The roads' sand, the wall's grey stone.
bool Road(Rgb p) { return p.r >= 150 && p.r - p.b >= 40; }
bool Wall(Rgb p) { return p.r >= 90 && p.r <= 160 && std::abs(p.r - p.b) <= 25 && std::abs(p.r - p.g) <= 15; }

// Every pixel within 2 of (x, y) is of the kind.
template <typename Kind> bool Around(const Picture& png, std::pair<double, double> at, Kind kind) {
  const int x = static_cast<int>(at.first), y = static_cast<int>(at.second);
  for (int dy = -2; dy <= 2; ++dy)
    for (int dx = -2; dx <= 2; ++dx)
      if (!kind(png.At(x + dx, y + dy))) return false;
  return true;
}

double MeanBrightness(const Picture& png) {
  double sum = 0;
  for (int y = png.Height() / 2; y < png.Height(); ++y)
    for (int x = png.Width() / 2; x < png.Width(); ++x) sum += png.At(x, y).r + png.At(x, y).g + png.At(x, y).b;
  return sum / (png.Width() / 2 * (png.Height() - png.Height() / 2) * 3.0);
}

TEST(GameWorldE2E, RoadWallNightAndHalfFloatValues) {
  GameFolder game("world");
  ASSERT_TRUE(MakeWorld(game));
  std::ofstream(game.Bin64() / "Pathlight.ini") << "[Style]\r\nRenderer=None\r\n";
  // A stretch of road: the route from the main road south-west of a town into the town.
  const std::vector<Point> road = NativeRoute(game, {-980, -990}, {-480, -530});
  ASSERT_GE(road.size(), 4u);

  // The player walks 4 m along the road, so the camera looks along it; the road point 35 m on, and
  // a wall 15 m before that point.
  const Point from = Along(road, 0), player = Along(road, 4), ahead = Along(road, 39), wallAt = Along(road, 24);
  const Camera camera = CameraBehind(player, {player.x - from.x, player.z - from.z});
  constexpr int kWidth = 1280, kHeight = 720;
  const auto seen = Project(camera, ahead, kWidth, kHeight);
  ASSERT_TRUE(seen.first > 20 && seen.first < kWidth - 20 && seen.second > kHeight / 2 && seen.second < kHeight - 20)
      << seen.first << "," << seen.second;

  const auto at = [&](const char* name) { return WindowsPath(game.Root() / name); };
  ASSERT_EQ(game.RunScenario({"0 swapchain-format rgba16f  # a half-float swap chain", "0 place " + Arg(from, " "),
                              "0 walk 1 " + Arg(player),
                              "100 frame-shot " + at("frame.png") + "  # waits for the game's roads",
                              "+0 screenshot " + at("day.png"), "+0 pixel-values " + at("values.txt") + " 10 10 1270 5",
                              "+0 wall " + Arg(wallAt, " ") + " 30 10", "+0 screenshot " + at("wall.png"),
                              "+0 wall off", "+0 clock 23:00", "+0 screenshot " + at("night.png"), "+0 quit"}),
            0);

  const Picture day(game.Root() / "day.png"), wall(game.Root() / "wall.png"), night(game.Root() / "night.png");
  ASSERT_TRUE(day.Ok() && wall.Ok() && night.Ok());
  ASSERT_EQ(day.Width(), kWidth);
  ASSERT_EQ(day.Height(), kHeight);
  EXPECT_TRUE(Around(day, seen, Road)) << "road pixel " << day.At(seen.first, seen.second).r << " "
                                       << day.At(seen.first, seen.second).g << " " << day.At(seen.first, seen.second).b;
  EXPECT_TRUE(Around(wall, seen, Wall)) << "wall pixel " << wall.At(seen.first, seen.second).r << " "
                                        << wall.At(seen.first, seen.second).g << " "
                                        << wall.At(seen.first, seen.second).b;
  EXPECT_LT(MeanBrightness(night), 0.5 * MeanBrightness(day));

  // The sky is the colour the frame is cleared to by day: (0.52, 0.66, 0.82), opaque, to within a
  // half float's precision.
  std::ifstream values(game.Root() / "values.txt");
  int lines = 0;
  for (std::string line; std::getline(values, line); ++lines) {
    int x = 0, y = 0;
    float r = 0, g = 0, b = 0, a = 0;
    ASSERT_EQ(std::sscanf(line.c_str(), "simhost: pixel (%d,%d) = %f %f %f %f", &x, &y, &r, &g, &b, &a), 6) << line;
    EXPECT_NEAR(r, 0.52f, 1e-3f) << line;
    EXPECT_NEAR(g, 0.66f, 1e-3f) << line;
    EXPECT_NEAR(b, 0.82f, 1e-3f) << line;
    EXPECT_EQ(a, 1.0f) << line;
  }
  EXPECT_EQ(lines, 2);
}

}  // namespace
}  // namespace e2e
