// The minimap's placement and projection, the world map's projection, the cut at the minimap's
// reach, the nearest route point, and corner rounding, with the numbers the renderers rely on and
// garbage from the game.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "mapgeom/map_projection.hpp"
#include "mapgeom/route_geometry.hpp"

namespace pathlight {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

void ExpectNear(ScreenPoint got, ScreenPoint want, const char* what) {
  EXPECT_NEAR(got.x, want.x, 1e-3) << what;
  EXPECT_NEAR(got.y, want.y, 1e-3) << what;
}

TEST(PlaceMinimap, CalibratedFromTheWidgetOrPlacedFromTheSettings) {
  // Settings{}: centre (148, 943.75), radius 100, 3.55 px/m.
  struct Case {
    const char* name;
    bool autoCalibrate;
    float widgetSize, widgetX, widgetY, offsetX, offsetY, widgetScale, zoom, screenHeight;
    MinimapCircle want;
  } cases[] = {
      // u = 400 / 200 = 2 around the widget's position; the screen height plays no part.
      {"calibrated", true, 400, 300, 1890, 0, 0, 1, 1.5f, 777, {296, 1887.5f, 200, 10.65f}},
      // An unread widget (size 0) falls back to the settings at scale 1 and no offset, s = 2.
      {"widget unread", true, 0, 300, 1890, 0, 0, 1, 1, 2160, {296, 1887.5f, 200, 7.1f}},
      {"widget NaN", true, kNaN, 300, 1890, 0, 0, 1, 1, 2160, {296, 1887.5f, 200, 7.1f}},
      // Offsets move the centre; the y offset is measured from the bottom edge.
      {"manual", false, 400, 300, 1890, 10, -20, 1.5f, 2, 1080, {158, 923.75f, 150, 10.65f}},
  };
  for (const Case& c : cases) {
    Settings settings;
    settings.minimapAutoCalibrate = c.autoCalibrate;
    GameSnapshot snapshot;
    snapshot.widgetSize = c.widgetSize, snapshot.widgetX = c.widgetX, snapshot.widgetY = c.widgetY;
    snapshot.widgetOffsetX = c.offsetX, snapshot.widgetOffsetY = c.offsetY;
    snapshot.widgetScale = c.widgetScale, snapshot.minimapZoom = c.zoom;
    const MinimapCircle got = PlaceMinimap(snapshot, c.screenHeight, settings);
    EXPECT_NEAR(got.centerX, c.want.centerX, 1e-3) << c.name;
    EXPECT_NEAR(got.centerY, c.want.centerY, 1e-3) << c.name;
    EXPECT_NEAR(got.radius, c.want.radius, 1e-3) << c.name;
    EXPECT_NEAR(got.pixelsPerMeter, c.want.pixelsPerMeter, 1e-4) << c.name;
  }
}

TEST(ProjectToMinimap, TurnsAboutThePlayerAtTheCentre) {
  // Player at (5, 5), centre (100, 100), 2 px/m. At 90° the map has turned so that east is up.
  struct Case {
    float rotation, dx, dz;
    ScreenPoint want;
  } cases[] = {
      {0, 10, 0, {120, 100}},   {0, 0, 10, {100, 80}},    {90, 10, 0, {100, 80}},
      {180, 0, 10, {100, 120}}, {-90, 10, 0, {100, 120}}, {45, 0, 0, {100, 100}},
  };
  const MinimapCircle circle{100, 100, 50, 2};
  for (const Case& c : cases) {
    GameSnapshot snapshot;
    snapshot.playerX = 5, snapshot.playerZ = 5, snapshot.minimapRotation = c.rotation;
    ExpectNear(ProjectToMinimap({5 + c.dx, 5 + c.dz}, snapshot, circle), c.want, "rotation case");
  }
}

TEST(ProjectToWorldMap, ScalesAboutTheMapCentre) {
  GameSnapshot snapshot;
  snapshot.worldMapCenterX = 100, snapshot.worldMapCenterY = 200, snapshot.worldMapZoom = 4.8f;  // f = 4.8 / 2.4 = 2
  ExpectNear(ProjectToWorldMap({110, 190}, snapshot, 1920, 1080, Settings{}), {980, 560}, "south-east of centre");
  ExpectNear(ProjectToWorldMap({100, 200}, snapshot, 3840, 2160, Settings{}), {1920, 1080}, "centre at s = 2");
}

TEST(CutToMinimapReach, EndsOnePointAfterTheLastNearPoint) {
  // Centre (0, 0), radius 10: near means strictly within 15.
  //
  //   far   far   near  far   far   far        ->  far far near far
  //   30    20    5     40    50    60
  struct Case {
    const char* name;
    std::vector<float> xs;
    std::size_t kept;
  } cases[] = {
      {"third point last near", {30, 20, 5, 40, 50, 60}, 4},
      {"fewer points than the cut", {30, 20, 5}, 3},
      {"all far", {20, -30, 16}, 0},
      {"on the reach is not near", {15, 15}, 0},
      {"NaN is never near", {kNaN, kNaN}, 0},
      {"last point near", {40, 1}, 2},
  };
  const MinimapCircle circle{0, 0, 10, 1};
  for (const Case& c : cases) {
    std::vector<ScreenPoint> line;
    for (const float x : c.xs) line.push_back({x, 0});
    CutToMinimapReach(line, circle);
    EXPECT_EQ(line.size(), c.kept) << c.name;
  }
}

TEST(NearestOnRoute, EarlierSegmentWinsAndZeroLengthProjectsOntoItsStart) {
  //                 (10,10)
  //                    |
  //   (0,0) ------- (10,0)
  const std::vector<GroundPoint> corner{{0, 0}, {10, 0}, {10, 10}};
  const std::vector<GroundPoint> stub{{5, 5}, {5, 5}};
  struct Case {
    const char* name;
    const std::vector<GroundPoint>* route;
    GroundPoint query, want;
    std::size_t index;
  } cases[] = {
      {"on the shared point", &corner, {10, 0}, {10, 0}, 1}, {"beside the first segment", &corner, {5, 3}, {5, 0}, 1},
      {"beside the second", &corner, {12, 5}, {10, 5}, 2},   {"before the start", &corner, {-5, 0}, {0, 0}, 1},
      {"equally far from both", &corner, {5, 5}, {5, 0}, 1}, {"zero-length segment", &stub, {9, 8}, {5, 5}, 1},
  };
  for (const Case& c : cases) {
    const RouteNearest got = NearestOnRoute(*c.route, c.query);
    EXPECT_EQ(got.index, c.index) << c.name;
    EXPECT_FLOAT_EQ(got.point.x, c.want.x) << c.name;
    EXPECT_FLOAT_EQ(got.point.z, c.want.z) << c.name;
  }
}

TEST(RoundCorners, ResamplesAtTheSpacingAndKeepsTheEnds) {
  // s = 2: spacing 3, radius 12, w = 4. Two legs of 10 spacings each around a right angle.
  const float s = 2;
  const std::vector<ScreenPoint> line{{0, 0}, {30, 0}, {30, 30}};
  const std::vector<ScreenPoint> out = RoundCorners(line, CornerSpacing(s), 6 * s);
  ASSERT_EQ(out.size(), 21u);
  EXPECT_EQ(out.front().x, 0);
  EXPECT_EQ(out.front().y, 0);
  EXPECT_EQ(out.back().x, 30);
  EXPECT_EQ(out.back().y, 30);
  EXPECT_LT(out[10].x, 29.0f);  // the corner is cut inwards
  EXPECT_GT(out[10].y, 1.0f);
  EXPECT_EQ(out[2].y, 0.0f);  // beyond both passes' reach the leg stays straight

  // Three points closer than the spacing stay three. The first pass puts the middle one on the
  // mean of all three, (2/3, 1/3); the second averages that with the fixed ends.
  const std::vector<ScreenPoint> three = RoundCorners(std::vector<ScreenPoint>{{0, 0}, {1, 0}, {1, 1}}, 1.5f, 6);
  ASSERT_EQ(three.size(), 3u);
  ExpectNear(three[1], {5.0f / 9, 4.0f / 9}, "middle of three");
}

TEST(RoundCorners, CopiesWhatItCannotRound) {
  const std::vector<ScreenPoint> line{{0, 0}, {30, 0}, {30, 30}};
  struct Case {
    const char* name;
    std::size_t points;
    float spacing, radius;
  } cases[] = {
      {"two points", 2, 1.5f, 6},       {"no spacing", 3, 0, 6},          {"negative spacing", 3, -1, 6},
      {"NaN spacing", 3, kNaN, 6},      {"w rounds to 0", 3, 1.5f, 0.7f}, {"NaN radius", 3, 1.5f, kNaN},
      {"infinite spacing", 3, kInf, 6},
  };
  for (const Case& c : cases) {
    const std::vector<ScreenPoint> in(line.begin(), line.begin() + static_cast<std::ptrdiff_t>(c.points));
    const std::vector<ScreenPoint> out = RoundCorners(in, c.spacing, c.radius);
    ASSERT_EQ(out.size(), in.size()) << c.name;
    for (std::size_t i = 0; i < in.size(); ++i) EXPECT_TRUE(out[i].x == in[i].x && out[i].y == in[i].y) << c.name;
  }
}

TEST(RoundCorners, GarbageZoomStaysBounded) {
  // A route of 100 m legs projected at a zoom the game never shows, then rounded as a renderer does.
  const std::vector<GroundPoint> route{{0, 0}, {100, 0}, {100, 100}, {kNaN, 5}, {0, 100}};
  for (const float zoom : {1e9f, kInf, kNaN, -1e9f}) {
    GameSnapshot snapshot;
    snapshot.minimapZoom = zoom;
    const MinimapCircle circle = PlaceMinimap(snapshot, 1080, Settings{});
    std::vector<ScreenPoint> screen, out;
    ProjectToMinimap(route, snapshot, circle, screen);
    RoundCorners(screen, CornerSpacing(1), 6, out);
    EXPECT_LE(out.size(), route.size() + kRoundCornersExtraPoints) << zoom;
  }
  // A huge radius is only a wide window.
  const std::vector<ScreenPoint> out = RoundCorners(std::vector<ScreenPoint>{{0, 0}, {3, 0}, {3, 3}}, 1.5f, 1e30f);
  ASSERT_EQ(out.size(), 5u);
  EXPECT_EQ(out.back().y, 3);
}

// Distance from p to the nearest segment of a line.
double DistanceToLine(ScreenPoint p, const std::vector<ScreenPoint>& line) {
  double best = 1e30;
  for (std::size_t i = 1; i < line.size(); ++i) {
    const double ax = line[i - 1].x, ay = line[i - 1].y, dx = line[i].x - ax, dy = line[i].y - ay;
    const double l2 = dx * dx + dy * dy;
    const double t = l2 > 0 ? std::clamp(((p.x - ax) * dx + (p.y - ay) * dy) / l2, 0.0, 1.0) : 0.0;
    best = std::min(best, std::hypot(ax + t * dx - p.x, ay + t * dy - p.y));
  }
  return best;
}

TEST(RoundCornersOnScreen, RoundsWhatShowsAsTheWholeLineWouldAndJoinsOffScreen) {
  constexpr float kWidth = 1000, kHeight = 600, kSpacing = 1.5f, kRadius = 9;
  const float margin = OffScreenMargin(kRadius, 8);  // 30 px
  struct Case {
    const char* name;
    std::vector<ScreenPoint> line;
    std::vector<ScreenPoint> shown;  // the line cut at the margin's box, when it is one piece
  } cases[] = {
      {"wholly on screen", {{100, 100}, {500, 100}, {500, 400}}, {{100, 100}, {500, 100}, {500, 400}}},
      // 60000 px: whole, its resampling would spend the budget on the first leg and leave the
      // corner on screen sharp.
      {"a route many screens long, its corner on screen",
       {{-30000, 300}, {500, 300}, {500, 30000}},
       {{-30, 300}, {500, 300}, {500, 630}}},
      {"out to the right and back in at the bottom",
       {{100, 100}, {5000, 100}, {5000, 500}, {900, 500}, {900, 5000}},
       {}},
      {"nothing near the screen", {{-5000, -5000}, {-4000, -5000}, {-4000, -4000}}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<ScreenPoint> out;
    RoundCornersOnScreen(c.line, kWidth, kHeight, margin, kSpacing, kRadius, out);
    if (!c.shown.empty()) {
      const std::vector<ScreenPoint> whole = RoundCorners(c.shown, kSpacing, kRadius);
      ASSERT_EQ(out.size(), whole.size());
      for (std::size_t i = 0; i < out.size(); ++i) ExpectNear(out[i], whole[i], "point of the piece shown");
    }
    // No join crosses the screen: every point of the drawn line that the screen shows lies within
    // the rounding's reach of the line given.
    for (std::size_t i = 1; i < out.size(); ++i) {
      for (int k = 0; k <= 8; ++k) {
        const float t = k / 8.0f;
        const ScreenPoint p{out[i - 1].x + t * (out[i].x - out[i - 1].x), out[i - 1].y + t * (out[i].y - out[i - 1].y)};
        if (p.x < 0 || p.y < 0 || p.x > kWidth || p.y > kHeight) continue;
        ASSERT_LT(DistanceToLine(p, c.line), kRadius) << "segment " << i << " at " << p.x << "," << p.y;
      }
    }
  }
  // The corner of the long route is rounded: its nearest point keeps off the sharp corner.
  std::vector<ScreenPoint> out;
  RoundCornersOnScreen(cases[1].line, kWidth, kHeight, margin, kSpacing, kRadius, out);
  double nearest = 1e30;
  for (const ScreenPoint p : out) nearest = std::min(nearest, std::hypot(p.x - 500.0, p.y - 300.0));
  EXPECT_GT(nearest, 1.0);
}

TEST(RoundCornersOnScreen, GarbageScreensAndMarginsStayBounded) {
  std::vector<ScreenPoint> zigzag;  // in and out of the screen 2000 times
  for (int i = 0; i < 4000; ++i) zigzag.push_back({i % 2 == 0 ? -1e6f : 1e6f, 300.0f + static_cast<float>(i % 7)});
  zigzag.insert(zigzag.begin() + 10, {kNaN, kInf});
  for (const float bad : {kNaN, kInf, -5.0f, 1e30f, 0.0f}) {
    SCOPED_TRACE(bad);
    std::vector<ScreenPoint> out;
    RoundCornersOnScreen(zigzag, 1000, 600, bad, 1.5f, 9, out);
    EXPECT_LE(out.size(), 5 * zigzag.size() + kRoundCornersExtraPoints);
    RoundCornersOnScreen(zigzag, bad, bad, 30, 1.5f, 9, out);
    EXPECT_LE(out.size(), 5 * zigzag.size() + kRoundCornersExtraPoints);
  }
}

}  // namespace
}  // namespace pathlight
