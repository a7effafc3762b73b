// The minimap smoother's Auto threshold, its gap rule and its turn the short way round, and one
// tick's preparation over a driven snapshot and route: what is drawn and which points.
#include <gtest/gtest.h>

#include <cmath>

#include "mapgeom/map_frame.hpp"
#include "mapgeom/minimap_smoothing.hpp"

namespace pathlight {
namespace {

// One call of the smoother at a time with the given game values; returns what it shows.
struct Sample {
  double now;
  float x, rotation;
};
GameSnapshot Smooth(MinimapSmoother& smoother, const Settings& settings, Sample s) {
  GameSnapshot snapshot;
  snapshot.playerX = s.x, snapshot.minimapRotation = s.rotation;
  smoother.Apply(snapshot, settings, s.now);
  return snapshot;
}

TEST(SmoothMinimap, AutoWaitsForFewerChangesThanCalls) {
  Settings settings;  // Interpolate Auto, no delay
  // Every call a new value: 1 call per change, never smoothed.
  MinimapSmoother everyCall;
  for (int i = 0; i < 40; ++i) EXPECT_EQ(Smooth(everyCall, settings, {i * 10.0, float(i), 0}).playerX, float(i));
  EXPECT_DOUBLE_EQ(everyCall.CallsPerChange(), 1.0);

  // A change every second call: the average after k changes is 2 - 0.9^k, which passes 1.5 at the
  // seventh. The call after a change shows the halfway point between the last two samples.
  MinimapSmoother everyOther;
  Smooth(everyOther, settings, {0, 0, 0});
  for (int k = 1; k <= 8; ++k) {
    const float x = 10.0f * k;
    // Between changes: as read until smoothing starts, then halfway between the last two samples.
    const float between = Smooth(everyOther, settings, {k * 20.0 - 10, x - 10, 0}).playerX;
    EXPECT_EQ(between, k >= 8 ? x - 15 : x - 10) << "before change " << k;
    const float shown = Smooth(everyOther, settings, {k * 20.0, x, 0}).playerX;
    EXPECT_NEAR(everyOther.CallsPerChange(), 2 - std::pow(0.9, k), 1e-12);
    EXPECT_EQ(shown, k >= 7 ? x - 10 : x) << "change " << k;  // t = 0 at the change itself
  }
}

TEST(SmoothMinimap, InterpolatesBetweenSamplesNoMoreThan250MsApart) {
  Settings settings;
  settings.minimapInterpolate = 1;  // On
  struct Case {
    const char* name;
    double gap, delay, at;  // at: ms after the last sample
    float previousRotation, lastRotation;
    float wantX, wantRotation;
  } cases[] = {
      {"halfway", 100, 0, 50, 0, 90, 5, 45},
      {"delayed", 100, 20, 50, 0, 90, 3, 27},
      {"past the last sample", 100, 0, 500, 0, 90, 10, 90},
      {"gap exactly 250", 250, 0, 125, 0, 0, 5, 0},
      {"gap over 250: as read", 250.5, 0, 125, 0, 0, 10, 0},
      {"across north", 100, 0, 50, 350, 10, 5, 360},
      {"across north backwards", 100, 0, 50, 10, 350, 5, 0},
      {"angles outside 0..360", 100, 0, 50, 400, -300, 5, 410},  // 40° to 60°
      {"NaN delay shows the previous", 100, NAN, 50, 0, 90, 0, 0},
  };
  for (const Case& c : cases) {
    settings.minimapDelayMs = static_cast<float>(c.delay);
    MinimapSmoother smoother;
    Smooth(smoother, settings, {1000, 0, c.previousRotation});
    Smooth(smoother, settings, {1000 + c.gap, 10, c.lastRotation});
    const GameSnapshot shown = Smooth(smoother, settings, {1000 + c.gap + c.at, 10, c.lastRotation});
    EXPECT_NEAR(shown.playerX, c.wantX, 1e-4) << c.name;
    EXPECT_NEAR(shown.minimapRotation, c.wantRotation, 1e-4) << c.name;
  }
}

class PrepareMapFrameTest : public ::testing::Test {
 public:
  // Every case starts here: a shown minimap, the player beside a three-point route.
  void SetUp() override {
    snapshot = GameSnapshot{};
    settings = Settings{};
    toggle = true;
    SetRoute({{0, 0}, {10, 0}, {10, 10}});
    snapshot.playerValid = 1, snapshot.playerX = 3, snapshot.playerZ = 1;
    snapshot.minimapValid = 1, snapshot.minimapAlpha = 1;
    services.readSnapshot = [this](GameSnapshot& s) { s = snapshot; };
    services.currentRoute = [this] { return route; };
    services.minimapRouteShown = [this] { return toggle; };
  }
  void SetRoute(std::vector<GroundPoint> points) {
    route = std::make_shared<Route>(Route{std::move(points), {}, 0, 0, false});
  }

  GameSnapshot snapshot;
  RoutePtr route;
  bool toggle = true;
  Settings settings;
  MapFrameServices services;
  MapFrame frame;
};

TEST_F(PrepareMapFrameTest, DrawsTheRouteFromThePlayer) {
  //   route  (0,0) ---- (10,0) ---- (10,10)      player (3,1) above the first leg
  //   drawn  (3,1) (3,0) (10,0) ---- (10,10)
  using Line = std::vector<std::pair<float, float>>;
  struct Case {
    const char* name;
    void (*change)(PrepareMapFrameTest&);
    bool minimap, worldMap, result;
    Line line;
  } cases[] = {
      {"minimap", [](PrepareMapFrameTest&) {}, true, false, true, {{3, 1}, {3, 0}, {10, 0}, {10, 10}}},
      {"alpha exactly 0.05", [](PrepareMapFrameTest& t) { t.snapshot.minimapAlpha = 0.05f; }, false, false, false, {}},
      {"toggled off", [](PrepareMapFrameTest& t) { t.toggle = false; }, false, false, false, {}},
      {"world map open",
       [](PrepareMapFrameTest& t) { t.snapshot.worldMapOpen = 1; },
       false,
       true,
       true,
       {{3, 1}, {3, 0}, {10, 0}, {10, 10}}},
      {"world map switched off",
       [](PrepareMapFrameTest& t) { t.snapshot.worldMapOpen = 1, t.settings.worldMapEnabled = false; },
       false,
       false,
       false,
       {}},
      {"player unknown: the whole route",
       [](PrepareMapFrameTest& t) { t.snapshot.playerValid = 0, t.snapshot.worldMapOpen = 1; },
       false,
       true,
       true,
       {{0, 0}, {10, 0}, {10, 10}}},
      {"one-point route",
       [](PrepareMapFrameTest& t) {
         t.SetRoute({{0, 0}});
       },
       true,
       false,
       false,
       {}},
      {"one-point route, road view",
       [](PrepareMapFrameTest& t) {
         t.SetRoute({{0, 0}}), t.settings.debug.drawRoads = true;
       },
       true,
       false,
       true,
       {}},
      {"no route, road view, minimap hidden",
       [](PrepareMapFrameTest& t) {
         t.route = nullptr, t.settings.debug.drawRoads = true, t.snapshot.minimapValid = 0;
       },
       false,
       false,
       false,
       {}},
  };
  for (const Case& c : cases) {
    SetUp();
    c.change(*this);
    EXPECT_EQ(PrepareMapFrame(frame, settings, services), c.result) << c.name;
    EXPECT_EQ(frame.drawMinimap, c.minimap) << c.name;
    EXPECT_EQ(frame.drawWorldMap, c.worldMap) << c.name;
    Line got;
    for (const GroundPoint p : frame.routePolyline) got.push_back({p.x, p.z});
    EXPECT_EQ(got, c.line) << c.name;
  }
}

}  // namespace
}  // namespace pathlight
