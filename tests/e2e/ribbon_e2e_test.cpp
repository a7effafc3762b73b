// The route ribbon in the simulated game's 3D world, through the in-frame renderer: it lies on the
// road where the game's camera puts the route (computed here from the game's camera rig, not by
// the library), fades in near the player and out towards [World] Distance, is fainter at night,
// hides behind a wall when the game hands Streamline its depth buffer (and shows over it with
// occlusion off), and the test pattern's magenta comes out of the HDR conversions as scRGB and as
// PQ-encoded BT.2020 values.
#include <cairo.h>
#include <gtest/gtest.h>

#include <algorithm>
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

constexpr int kWidth = 1280, kHeight = 720;
// [World] Color's default, 0xFFA8E7FF unpacked.
constexpr Rgb kRibbon = {0xFF, 0xE7, 0xA8};

// The ribbon lies 0.05 m above the ground.
std::pair<double, double> OnRibbon(const Camera& c, Point p) { return Project(c, p, kWidth, kHeight, 0.05); }

// How much of the ribbon's colour lies over the bare frame at the most covered pixel near `at`:
// the blend factor (shot − bare) / (ribbon − bare), summed over the channels.
double Cover(const Picture& bare, const Picture& shot, std::pair<double, double> at) {
  double most = 0;
  for (int dy = -2; dy <= 2; ++dy) {
    for (int dx = -8; dx <= 8; ++dx) {
      const int x = static_cast<int>(at.first) + dx, y = static_cast<int>(at.second) + dy;
      if (x < 0 || y < 0 || x >= kWidth || y >= kHeight) continue;
      const Rgb g = bare.At(x, y), p = shot.At(x, y);
      const double span = (kRibbon.r - g.r) + (kRibbon.g - g.g) + (kRibbon.b - g.b);
      if (span >= 30) most = std::max(most, ((p.r - g.r) + (p.g - g.g) + (p.b - g.b)) / span);
    }
  }
  return most;
}

// A world, and the road the library's route to the town will follow, as the route tool finds it.
struct World {
  GameFolder game;
  std::vector<Point> road;
  Point from, player;
  Camera camera{};

  explicit World(const std::string& name) : game(name) {
    EXPECT_TRUE(MakeWorld(game));
    road = NativeRoute(game, {-980, -990}, {-480, -530});
    if (road.size() < 4) return;
    // The player walks 4 m along the road, so the camera looks along it.
    from = Along(road, 0);
    player = Along(road, 4);
    camera = CameraBehind(player, {player.x - from.x, player.z - from.z});
  }
  // The screen place of the route `distance` metres ahead of the player.
  std::pair<double, double> Ahead(double distance) const { return OnRibbon(camera, Along(road, 4 + distance)); }
  std::string Shot(const char* name) const { return WindowsPath(game.Root() / name); }
  std::vector<std::string> Start() const {
    return {"0 place " + Arg(from, " "), "0 walk 1 " + Arg(player), "0 waypoint -480 -530", "0 clock 12:00"};
  }
};

TEST(RibbonE2E, LiesOnTheRoadAheadFadingNearAndFarAndFainterAtNight) {
  World world("ribbon");
  ASSERT_GE(world.road.size(), 4u);
  std::ofstream(world.game.Bin64() / "Pathlight.ini") << "[Style]\r\nRenderer=Present\r\n[World]\r\nMountedOnly=0\r\n";
  std::vector<std::string> scenario = world.Start();
  for (const char* line : {"0 wait 60000 ^Route: \\(", "+0 wait 30000 ^Overlay: ready on ",
                           "+0 wait 15000 ^Diag: .* world=1 \\(on=1 cam=1\\)$"})
    scenario.push_back(line);
  for (const char* name : {"day", "night"}) {
    if (std::string(name) == "night") scenario.push_back("+0 clock 23:00");
    scenario.push_back("+0 frame-shot " + world.Shot((std::string(name) + "-bare.png").c_str()));
    scenario.push_back("+0 present-shot " + world.Shot((std::string(name) + ".png").c_str()));
  }
  scenario.push_back("+0 quit");
  ASSERT_EQ(world.game.RunScenario(scenario), 0);

  const Picture dayBare(world.game.Root() / "day-bare.png"), day(world.game.Root() / "day.png");
  const Picture nightBare(world.game.Root() / "night-bare.png"), night(world.game.Root() / "night.png");
  ASSERT_TRUE(dayBare.Ok() && day.Ok() && nightBare.Ok() && night.Ok());
  ASSERT_EQ(day.Width(), kWidth);
  ASSERT_EQ(day.Height(), kHeight);
  // The ribbon's alpha by day (0.45) along the route: (3 − 2f) f² with f rising over the first 20 m
  // and falling over the last 25 m of the 50; at night the opacity is 0.25 instead.
  struct Expected {
    double distance, alpha, tolerance;
  };
  for (const Expected& e : std::initializer_list<Expected>{{3, 0.027, 0.03},
                                                           {10, 0.225, 0.06},
                                                           {22, 0.45, 0.05},
                                                           {38, 0.212, 0.06},
                                                           {60, 0.0, 0.01},
                                                           {75, 0.0, 0.01}}) {
    const auto at = world.Ahead(e.distance);
    ASSERT_TRUE(at.first > 10 && at.first < kWidth - 10 && at.second > kHeight / 2 && at.second < kHeight - 10)
        << e.distance << " m: " << at.first << "," << at.second;
    EXPECT_NEAR(Cover(dayBare, day, at), e.alpha, e.tolerance)
        << e.distance << " m at " << at.first << "," << at.second;
    EXPECT_NEAR(Cover(nightBare, night, at), e.alpha * 0.25 / 0.45, e.tolerance) << e.distance << " m at night";
  }
}

TEST(RibbonE2E, AWallHidesTheRibbonBehindItOnlyWithOcclusion) {
  World world("ribbon-occlusion");
  ASSERT_GE(world.road.size(), 4u);
  // [World] last: the reload's appended line belongs to it.
  const fs::path ini = world.game.Bin64() / "Pathlight.ini";
  std::ofstream(ini) << "[Style]\r\nRenderer=Present\r\n[World]\r\nMountedOnly=0\r\n";
  std::vector<std::string> scenario = {"0 defer-swapchain", "0 load-streamline"};
  for (const std::string& line : world.Start()) scenario.push_back(line);
  const std::vector<std::string> rest = {
      "0 wait 60000 ^Overlay: DLSS depth hooked", "0 swapchain streamline", "0 streamline-frames",
      "0 wait 60000 ^Route: \\(",
      // 25 m ahead, across the road, far higher than the camera.
      "+0 wall " + Arg(Along(world.road, 4 + 25), " ") + " 30 10",
      "+0 wait 30000 ^Occlusion: depth via slSetTag(ForFrame)?: 1280x720 format 39 \\(read as 41\\), state 0x10, "
      "lifecycle 1, extent 0,0 1280x720; projection m22=0.000000 m32=0.100000$",
      "+0 wait 15000 ^Diag: .* world=1 \\(on=1 cam=1 dlss occl\\)$", "+0 frame-shot " + world.Shot("bare.png"),
      "+0 present-shot " + world.Shot("occluded.png"), "+0 append-line " + WindowsPath(ini) + " Occlusion=0",
      "+0 postkey 0xDC press", "+0 wait 30000 ^Config: reloaded", "+0 wait 30000 ^Overlay: ready on ",
      "+0 present-shot " + world.Shot("open.png"), "+0 quit"};
  scenario.insert(scenario.end(), rest.begin(), rest.end());
  RunOptions options;
  options.copies = {"doubles/sl.interposer.dll"};
  ASSERT_EQ(world.game.RunScenario(scenario, {}, options), 0);
  const auto log = world.game.Log();
  ASSERT_TRUE(log);
  const std::vector<std::string> lines = LogMessages(*log);
  EXPECT_EQ(Count(lines, "^Occlusion: (unexpected|the depth tag (does not|is not)|depth .* is not readable)"), 0u);
  EXPECT_EQ(Count(lines, "failed"), 0u);

  const Picture bare(world.game.Root() / "bare.png"), occluded(world.game.Root() / "occluded.png"),
      open(world.game.Root() / "open.png");
  ASSERT_TRUE(bare.Ok() && occluded.Ok() && open.Ok());
  // In front of the wall the ribbon lies on the road either way; behind it, its pixels fall on the
  // wall's face and are gone with occlusion, once they are more than twice the tolerance (0.3 m +
  // 0.08 × depth) behind it: 10 m and more at these distances.
  struct Expected {
    double distance;
    bool seenThroughDepth;
  };
  for (const Expected& e : std::initializer_list<Expected>{{12, true}, {18, true}, {35, false}, {38, false}}) {
    const auto at = world.Ahead(e.distance);
    const double withDepth = Cover(bare, occluded, at), without = Cover(bare, open, at);
    EXPECT_GT(without, 0.15) << e.distance << " m at " << at.first << "," << at.second;
    if (e.seenThroughDepth) {
      EXPECT_NEAR(withDepth, without, 0.03) << e.distance << " m";
    } else {
      EXPECT_LT(withDepth, 0.02) << e.distance << " m";
    }
  }
}

// The test pattern's opaque magenta as the presented buffer holds it, for each output mode.
TEST(RibbonE2E, TestPatternThroughTheHdrOutputConversions) {
  World world("ribbon-hdr");
  struct Case {
    const char *format, *hdrMode;
    int dxgiFormat, mode;
    float r, g, b, tolerance;
  };
  // scRGB: linear 1 × 203 / 80. HDR10: BT.2020 of linear magenta (0.6707, 0.0805, 0.9120) × 203 /
  // 10000 through PQ.
  for (const Case& c : std::initializer_list<Case>{{"rgba8", "SDR", 28, 0, 1, 0, 1, 0.01f},
                                                   {"rgba16f", "scRGB", 10, 1, 2.5375f, 0, 2.5375f, 0.025f},
                                                   {"rgb10a2", "HDR10", 24, 2, 0.5394f, 0.3398f, 0.5711f, 0.01f}}) {
    SCOPED_TRACE(c.hdrMode);
    std::ofstream(world.game.Bin64() / "Pathlight.ini")
        << "[Debug]\r\nTestPattern=1\r\n[Style]\r\nRenderer=Present\r\nHdrMode=" << c.hdrMode << "\r\n";
    const fs::path values = world.game.Root() / (std::string(c.format) + ".txt");
    ASSERT_EQ(world.game.RunScenario({"0 swapchain-format " + std::string(c.format),
                                      "0 wait 60000 ^Overlay: ready on 1280x720, 2 buffers, format " +
                                          std::to_string(c.dxgiFormat) + ", colour space -?[0-9]+ -> output mode " +
                                          std::to_string(c.mode) + " \\(white 203 nits\\)$",
                                      "+0 pixel-values " + WindowsPath(values) + " 30 30 50 60 78 78", "+0 quit"}),
              0);
    std::ifstream in(values);
    int lines = 0;
    for (std::string line; std::getline(in, line); ++lines) {
      int x = 0, y = 0;
      float r = 0, g = 0, b = 0, a = 0;
      ASSERT_EQ(std::sscanf(line.c_str(), "simhost: pixel (%d,%d) = %f %f %f %f", &x, &y, &r, &g, &b, &a), 6) << line;
      EXPECT_NEAR(r, c.r, c.tolerance) << line;
      EXPECT_NEAR(g, c.g, 0.01f) << line;
      EXPECT_NEAR(b, c.b, c.tolerance) << line;
      EXPECT_NEAR(a, 1.0f, 0.01f) << line;
    }
    EXPECT_EQ(lines, 3);
  }
}

}  // namespace
}  // namespace e2e
