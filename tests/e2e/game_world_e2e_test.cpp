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
#include <nlohmann/json.hpp>
#include <sstream>

#include "../../tools/worldgen/terrain.hpp"
#include "game_folder.hpp"

namespace e2e {
namespace {

struct Point {
  double x = 0, z = 0;
};
struct Rgb {
  int r, g, b;
};

class Png {
 public:
  explicit Png(const fs::path& path) : surface_(cairo_image_surface_create_from_png(path.c_str()), &cairo_surface_destroy) {}
  bool Ok() const { return cairo_surface_status(surface_.get()) == CAIRO_STATUS_SUCCESS; }
  int Width() const { return cairo_image_surface_get_width(surface_.get()); }
  int Height() const { return cairo_image_surface_get_height(surface_.get()); }
  Rgb At(int x, int y) const {
    const unsigned char* row = cairo_image_surface_get_data(surface_.get()) + y * cairo_image_surface_get_stride(surface_.get());
    std::uint32_t pixel;
    std::memcpy(&pixel, row + 4 * x, 4);
    return {static_cast<int>(pixel >> 16 & 0xFF), static_cast<int>(pixel >> 8 & 0xFF), static_cast<int>(pixel & 0xFF)};
  }

 private:
  std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> surface_;
};

// The roads' sand, the wall's grey stone.
bool Road(Rgb p) { return p.r >= 150 && p.r - p.b >= 40; }
bool Wall(Rgb p) { return p.r >= 90 && p.r <= 160 && std::abs(p.r - p.b) <= 25 && std::abs(p.r - p.g) <= 15; }

// The game's camera rig: 6 m behind the player and 3 m above the ground under it, level, looking
// the way the player last walked; projection scales 1.2 and 2.1.
struct Camera {
  double x, y, z, fx, fz;
};

Camera CameraBehind(Point player, Point heading) {
  const double length = std::hypot(heading.x, heading.z);
  const double fx = heading.x / length, fz = heading.z / length;
  return {player.x - 6 * fx, worldgen::TerrainHeight(player.x, player.z) + 3.0, player.z - 6 * fz, fx, fz};
}

// Where a point on the ground shows in a width × height picture.
std::pair<double, double> Project(const Camera& c, Point p, int width, int height) {
  const double rx = p.x - c.x, ry = worldgen::TerrainHeight(p.x, p.z) - c.y, rz = p.z - c.z;
  const double depth = rx * c.fx + rz * c.fz;
  const double right = rx * c.fz - rz * c.fx;
  return {(right * 1.2 / depth + 1) * width / 2, (1 - ry * 2.1 / depth) * height / 2};
}

// The point `distance` metres along the polyline from its second point.
Point Along(const std::vector<Point>& line, double distance) {
  for (std::size_t i = 2; i < line.size(); ++i) {
    const Point a = line[i - 1], b = line[i];
    const double length = std::hypot(b.x - a.x, b.z - a.z);
    if (length < 1e-6) continue;
    if (distance <= length) return {a.x + (b.x - a.x) * distance / length, a.z + (b.z - a.z) * distance / length};
    distance -= length;
  }
  return line.back();
}

std::string Arg(Point p, const char* between = ",") {
  std::ostringstream out;
  out.precision(10);
  out << p.x << between << p.z;
  return out.str();
}

// Every pixel within 2 of (x, y) is of the kind.
template <typename Kind>
bool Around(const Png& png, std::pair<double, double> at, Kind kind) {
  const int x = static_cast<int>(at.first), y = static_cast<int>(at.second);
  for (int dy = -2; dy <= 2; ++dy)
    for (int dx = -2; dx <= 2; ++dx)
      if (!kind(png.At(x + dx, y + dy))) return false;
  return true;
}

double MeanBrightness(const Png& png) {
  double sum = 0;
  for (int y = png.Height() / 2; y < png.Height(); ++y)
    for (int x = png.Width() / 2; x < png.Width(); ++x) sum += png.At(x, y).r + png.At(x, y).g + png.At(x, y).b;
  return sum / (png.Width() / 2 * (png.Height() - png.Height() / 2) * 3.0);
}

TEST(GameWorldE2E, RoadWallNightAndHalfFloatValues) {
  GameFolder game("world");
  const std::string worldgen = std::string(PATHLIGHT_WORLDGEN) + " --out '" + game.Root().string() +
                               "' --seed 3 --nodes 2000 --dlc 0 >/dev/null";
  ASSERT_EQ(std::system(worldgen.c_str()), 0);
  fs::create_directories(game.Bin64());
  std::ofstream(game.Bin64() / "Pathlight.ini") << "[Style]\r\nRenderer=None\r\n";
  // A stretch of road: the route from the main road south-west of a town into the town.
  const fs::path json = game.Root() / "route.json";
  const std::string route = std::string(PATHLIGHT_ROUTE_TOOL) + " --game '" + game.Root().string() +
                            "' --from=-980,-990 --to=-480,-530 --geojson '" + json.string() + "' >/dev/null";
  ASSERT_EQ(std::system(route.c_str()), 0);
  std::vector<Point> road;
  std::ifstream in(json);
  const nlohmann::json feature = nlohmann::json::parse(in);
  for (const auto& c : feature["geometry"]["coordinates"]) road.push_back({c[0].get<double>(), c[1].get<double>()});
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
  ASSERT_EQ(game.RunScenario({"0 swapchain-format rgba16f  # a half-float swap chain",
                              "0 place " + Arg(from, " "), "0 walk 1 " + Arg(player),
                              "100 frame-shot " + at("frame.png") + "  # waits for the game's roads",
                              "+0 screenshot " + at("day.png"),
                              "+0 pixel-values " + at("values.txt") + " 10 10 1270 5",
                              "+0 wall " + Arg(wallAt, " ") + " 30 10",
                              "+0 screenshot " + at("wall.png"),
                              "+0 wall off", "+0 clock 23:00",
                              "+0 screenshot " + at("night.png"), "+0 quit"}),
            0);

  const Png day(game.Root() / "day.png"), wall(game.Root() / "wall.png"), night(game.Root() / "night.png");
  ASSERT_TRUE(day.Ok() && wall.Ok() && night.Ok());
  ASSERT_EQ(day.Width(), kWidth);
  ASSERT_EQ(day.Height(), kHeight);
  EXPECT_TRUE(Around(day, seen, Road)) << "road pixel " << day.At(seen.first, seen.second).r << " "
                                       << day.At(seen.first, seen.second).g << " " << day.At(seen.first, seen.second).b;
  EXPECT_TRUE(Around(wall, seen, Wall)) << "wall pixel " << wall.At(seen.first, seen.second).r << " "
                                        << wall.At(seen.first, seen.second).g << " " << wall.At(seen.first, seen.second).b;
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
