// The route drawn into a Dear ImGui draw list: the minimap's circle clip, the outline pass, the
// ribbon's opacity by the clock, its path, its near-plane cut and its occlusion callbacks, and
// garbage numbers that must stay bounded. The draw list's buffers are read back directly.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "render12/route_drawing.hpp"

namespace pathlight {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

class RouteDrawingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ImGui::CreateContext();
    ImGuiIO& io = ImGui::GetIO();
    io.IniFilename = nullptr;
    io.LogFilename = nullptr;
    io.DisplaySize = {1920, 1080};
    io.BackendFlags |= ImGuiBackendFlags_RendererHasVtxOffset;
    io.Fonts->Build();
    ImGui::NewFrame();
    draw = ImGui::GetBackgroundDrawList();
    // The minimap at its configured place: centre (148, 943.75), radius 100, 3.55 px/m.
    settings.minimapAutoCalibrate = false;
    snapshot.playerValid = 1;
    snapshot.minimapAlpha = 1;
  }
  void TearDown() override {
    ImGui::EndFrame();
    ImGui::DestroyContext();
  }

  // An empty list, set up as a new frame leaves it.
  void Reset() {
    draw->_ResetForNewFrame();
    draw->PushClipRectFullScreen();
    draw->PushTextureID(ImGui::GetIO().Fonts->TexID);
  }
  int VerticesOfColour(ImU32 colour) const {
    int n = 0;
    for (const ImDrawVert& v : draw->VtxBuffer) n += (v.col & 0xFFFFFF) == (colour & 0xFFFFFF);
    return n;
  }
  float FarthestFrom(float x, float y) const {
    float farthest = 0;
    for (const ImDrawVert& v : draw->VtxBuffer) farthest = std::max(farthest, std::hypot(v.pos.x - x, v.pos.y - y));
    return farthest;
  }

  ImDrawList* draw = nullptr;
  Settings settings;
  GameSnapshot snapshot;
};

TEST(ClipPolylineToCircle, PiecesEndOnTheRim) {
  // Circle at (0, 0), radius 10. Every piece end that is not one of the line's own points lies on
  // the rim; a line that leaves and comes back is two pieces. Stale vectors are reused.
  struct Case {
    const char* name;
    std::vector<ScreenPoint> line;
    std::vector<std::vector<ScreenPoint>> want;
  } cases[] = {
      {"out and back in", {{0, 0}, {20, 0}, {0, 5}}, {{{0, 0}, {10, 0}}, {{9.6601f, 2.5850f}, {0, 5}}}},
      {"straight through", {{-20, 0}, {20, 0}}, {{{-10, 0}, {10, 0}}}},
      {"inside", {{0, 0}, {5, 0}, {5, 5}}, {{{0, 0}, {5, 0}, {5, 5}}}},
      {"touching only", {{-20, 10}, {20, 10}}, {}},
      {"missing", {{-20, 30}, {20, 30}}, {}},
      {"not a number splits", {{0, 0}, {5, 0}, {kNaN, 0}, {0, 5}, {5, 5}}, {{{0, 0}, {5, 0}}, {{0, 5}, {5, 5}}}},
      {"repeated point splits", {{0, 0}, {5, 0}, {5, 0}, {5, 5}}, {{{0, 0}, {5, 0}}, {{5, 0}, {5, 5}}}},
      {"one point", {{0, 0}}, {}},
  };
  std::vector<std::vector<ScreenPoint>> pieces(5, std::vector<ScreenPoint>(3, ScreenPoint{7, 7}));
  for (const Case& c : cases) {
    const std::size_t count = ClipPolylineToCircle(c.line, 0, 0, 10, pieces);
    ASSERT_EQ(count, c.want.size()) << c.name;
    for (std::size_t i = 0; i < count; ++i) {
      ASSERT_EQ(pieces[i].size(), c.want[i].size()) << c.name << " piece " << i;
      for (std::size_t j = 0; j < pieces[i].size(); ++j) {
        EXPECT_NEAR(pieces[i][j].x, c.want[i][j].x, 1e-3) << c.name;
        EXPECT_NEAR(pieces[i][j].y, c.want[i][j].y, 1e-3) << c.name;
      }
    }
  }
}

TEST_F(RouteDrawingTest, MinimapRouteStaysInsideTheCircleAndIsDroppedBeyondItsReach) {
  // Player at the centre; the route runs 60 m east (beyond the 28 m rim), turns and comes back in.
  const std::vector<GroundPoint> leavesAndReturns = {{0, 0}, {60, 0}, {60, 10}, {0, 10}};
  DrawMinimapRoute(*draw, snapshot, leavesAndReturns, 1080, settings, nullptr);
  ASSERT_GT(draw->VtxBuffer.Size, 0);
  // Half the outlined width (3 + 2 x 1.5) and the antialiasing fringe beyond the rim at most.
  EXPECT_LE(FarthestFrom(148, 943.75f), 100 + 3 + 1 + 0.5f);

  Reset();
  // 1.5 radii is 150 px, 42.25 m: a route wholly farther than that draws nothing.
  const std::vector<GroundPoint> farAway = {{45, 0}, {45, 30}, {-45, 30}};
  DrawMinimapRoute(*draw, snapshot, farAway, 1080, settings, nullptr);
  EXPECT_EQ(draw->VtxBuffer.Size, 0);
}

TEST_F(RouteDrawingTest, OutlineIsDrawnFirstAndOnlyWithAPositiveWidth) {
  const std::vector<GroundPoint> route = {{0, 0}, {5, 5}, {10, 0}};
  settings.outlineColor = 0xFF0000FF;  // red
  settings.routeColor = 0xFF00FF00;    // green
  struct Case {
    float outlineWidth;
    bool outlined;
  } cases[] = {{1.5f, true}, {0, false}, {-1, false}, {kNaN, false}};
  for (const bool minimap : {true, false}) {
    snapshot.worldMapZoom = 2.4f;
    for (const Case& c : cases) {
      Reset();
      settings.outlineWidth = c.outlineWidth;
      if (minimap) {
        DrawMinimapRoute(*draw, snapshot, route, 1080, settings, nullptr);
      } else {
        DrawWorldMapRoute(*draw, snapshot, route, 1920, 1080, settings);
      }
      EXPECT_EQ(VerticesOfColour(settings.outlineColor) > 0, c.outlined) << c.outlineWidth << " minimap " << minimap;
      ASSERT_GT(VerticesOfColour(settings.routeColor), 0);
      // The colour pass lies over the outline: the outline's vertices all come first.
      if (c.outlined) {
        EXPECT_EQ(draw->VtxBuffer[0].col & 0xFFFFFF, 0x0000FFu);
      }
    }
  }
}

TEST_F(RouteDrawingTest, MinimapColoursFadeWithTheMinimapAndRoadsAreClipped) {
  EXPECT_EQ(ScaleAlpha(0xF5454DD1, 0.5f), 0x7A454DD1u);  // 245 x 0.5 = 122.5, truncated
  EXPECT_EQ(ScaleAlpha(0xF5454DD1, 2), 0xF5454DD1u);
  EXPECT_EQ(ScaleAlpha(0xF5454DD1, kNaN), 0x00454DD1u);
  EXPECT_EQ(ScaleAlpha(0xF5454DD1, -1), 0x00454DD1u);

  snapshot.minimapAlpha = 0.5f;
  settings.debug.drawRoads = true;
  float askedRadius = 0;
  // One road line straight through the minimap, 100 m each way.
  const RoadLineSource roads = [&](float, float, float radius, std::vector<GroundPoint>& out) {
    askedRadius = radius;
    out.push_back({-100, 0});
    out.push_back({100, 0});
  };
  DrawMinimapRoute(*draw, snapshot, std::vector<GroundPoint>{{0, 0}, {0, 5}}, 1080, settings, &roads);
  EXPECT_NEAR(askedRadius, 100 / 3.55f + 5, 1e-3);
  ImU32 routeAlpha = 0, outlineAlpha = 0;
  for (const ImDrawVert& v : draw->VtxBuffer) {
    if ((v.col & 0xFFFFFF) == (settings.routeColor & 0xFFFFFF)) routeAlpha = std::max(routeAlpha, v.col >> 24);
    if ((v.col & 0xFFFFFF) == (settings.outlineColor & 0xFFFFFF)) outlineAlpha = std::max(outlineAlpha, v.col >> 24);
  }
  EXPECT_EQ(routeAlpha, 0x7Au);
  EXPECT_EQ(outlineAlpha, 0x69u);  // 210 x 0.5
  EXPECT_GT(VerticesOfColour(0xDCFFFF00), 0);
  EXPECT_LE(FarthestFrom(148, 943.75f), 100 + 4.5f);  // the 200 m road ends at the rim too
}

TEST(RibbonOpacity, BlendsTowardNightByTheClock) {
  Settings settings;  // Opacity 0.45, NightOpacity 0.25
  struct Case {
    float hours, nightOpacity, want;
  } cases[] = {
      {5, 0.25f, 0.35f},     {2, 0.25f, 0.25f},  {4, 0.25f, 0.25f},  {6, 0.25f, 0.45f},
      {12, 0.25f, 0.45f},    {19, 0.25f, 0.45f}, {20, 0.25f, 0.35f}, {21, 0.25f, 0.25f},
      {23.5f, 0.25f, 0.25f}, {-1, 0.25f, 0.45f},  // no clock
      {5, -1, 0.45f},                             // no night value
      {kNaN, 0.25f, 0.45f},  {5, kNaN, 0.45f},
  };
  for (const Case& c : cases) {
    settings.worldNightOpacity = c.nightOpacity;
    EXPECT_NEAR(RibbonOpacity(settings, c.hours), c.want, 1e-5) << c.hours << " h, night " << c.nightOpacity;
  }
}

// A straight route north along x = 0 from the player at the origin; the camera looks north from
// (0, 2, cameraZ) with unit projection factors.
class RibbonTest : public RouteDrawingTest {
 protected:
  void SetUp() override {
    RouteDrawingTest::SetUp();
    for (int i = 0; i <= 10; ++i) route.points.push_back({0, 10.0f * i});
    route.heights.assign(route.points.size(), 0);
    nearest = {{0, 0}, 1};
    settings.worldFadeNear = 0;  // full alpha from the start, so only validity decides the quads
    snapshot.cameraValid = 1;
    const float right[3] = {1, 0, 0}, up[3] = {0, 1, 0}, forward[3] = {0, 0, 1};
    std::copy(right, right + 3, snapshot.cameraColumn0);
    std::copy(up, up + 3, snapshot.cameraColumn1);
    std::copy(forward, forward + 3, snapshot.cameraColumn2);
    snapshot.cameraProjX = snapshot.cameraProjY = 1;
    snapshot.cameraPosition[1] = 2;
  }
  Route route;
  RouteNearest nearest;
};

void TestCallback(const ImDrawList*, const ImDrawCmd*) {}

TEST_F(RibbonTest, PointsNearOrBehindTheCameraLeaveGapsAndOcclusionWrapsTheTriangles) {
  // The path is the points z = 0, 1, ... 50; pairs of valid points draw three quads each, except
  // the last pair, faded below 0.003 at the far end.
  struct Case {
    float cameraZ;
    int pairs;
  } cases[] = {
      {-1, 49},     // all in front
      {4.65f, 44},  // z = 5 is 0.35 m ahead: drawn
      {4.75f, 43},  // z = 5 is 0.25 m ahead: it and its quads are left out
      {60, 0},      // all behind
  };
  for (const bool occluded : {false, true}) {
    for (const Case& c : cases) {
      Reset();
      snapshot.cameraPosition[2] = c.cameraZ;
      int marker = 0;
      const RibbonOcclusion occlusion{occluded ? TestCallback : nullptr, &marker};
      DrawWorldRibbon(*draw, snapshot, route, nearest, 1920, 1080, settings, occlusion);
      ASSERT_EQ(draw->VtxBuffer.Size, c.pairs * 3 * 4) << c.cameraZ;
      ASSERT_EQ(draw->IdxBuffer.Size, c.pairs * 3 * 6) << c.cameraZ;
      const ImVec2 white = ImGui::GetFontTexUvWhitePixel();
      for (const ImDrawVert& v : draw->VtxBuffer) {
        // With occlusion the inverse depth, of vertices at least 0.3 m ahead; else the white pixel.
        ASSERT_TRUE(occluded ? v.uv.x > 0 && v.uv.x <= 1 / 0.3f && v.uv.y == 0
                             : v.uv.x == white.x && v.uv.y == white.y);
      }
      // The commands that do something, in order: the callback, the triangles, the reset.
      std::vector<ImDrawCallback> order;
      for (const ImDrawCmd& cmd : draw->CmdBuffer) {
        if (cmd.UserCallback != nullptr) {
          order.push_back(cmd.UserCallback);
          if (cmd.UserCallback == TestCallback) {
            EXPECT_EQ(cmd.UserCallbackData, &marker);
          }
        } else if (cmd.ElemCount > 0) {
          order.push_back(nullptr);
        }
      }
      std::vector<ImDrawCallback> want;
      if (occluded) want.push_back(TestCallback);
      if (c.pairs > 0) want.push_back(nullptr);
      if (occluded) want.push_back(ImDrawCallback_ResetRenderState);
      EXPECT_EQ(order, want) << c.cameraZ << " occluded " << occluded;
    }
  }
}

TEST_F(RibbonTest, PathTakesHeightsFromTheRouteAndSmoothsOnlyFromHalfAMetre) {
  // Heights: point 0 at 0, point 1 at 10, point 2 has none (NaN) and the rest are missing: the
  // player's 3 is used. The nearest point halfway along the first segment is at height 5.
  route.heights = {0, 10, kNaN};
  snapshot.playerY = 3;
  nearest = {{0, 5}, 1};
  settings.worldCornerRadius = 0;
  std::vector<RibbonPathPoint> path;
  BuildRibbonPath(snapshot, route, nearest, settings, path);
  ASSERT_EQ(path.size(), 51u);  // 5 m to the nearest point, then 45 one-metre steps: 50 m in all
  EXPECT_FLOAT_EQ(path[5].y, 5);
  EXPECT_FLOAT_EQ(path[7].y, 7);  // from (0, 5) at 5 m towards (0, 10) at 10 m
  EXPECT_FLOAT_EQ(path[10].y, 10);
  EXPECT_FLOAT_EQ(path[15].y, 6.5f);
  EXPECT_FLOAT_EQ(path[25].y, 3);
  EXPECT_FLOAT_EQ(path.back().distance, 50);

  // A right-angle turn at (0, 10): smoothing pulls the corner point inside the turn.
  route.points = {{0, 0}, {0, 10}, {10, 10}};
  route.heights = {0, 0, 0};
  nearest = {{0, 0}, 1};
  struct Case {
    float cornerRadius;
    bool smoothed;
  } cases[] = {{0, false}, {0.49f, false}, {kNaN, false}, {-3, false}, {0.5f, true}, {4, true}};
  for (const Case& c : cases) {
    settings.worldCornerRadius = c.cornerRadius;
    BuildRibbonPath(snapshot, route, nearest, settings, path);
    ASSERT_EQ(path.size(), 21u);
    const bool cornerKept = path[10].x == 0 && path[10].z == 10;
    EXPECT_EQ(cornerKept, !c.smoothed) << c.cornerRadius;
    EXPECT_EQ(path.front().z, 0);
    EXPECT_EQ(path.back().x, 10);
  }
}

TEST_F(RibbonTest, GarbageNumbersStayBounded) {
  // A route 10 000 km long in 1 m steps would be ten million points at any Distance.
  route.points = {{0, 0}, {0, 1e7f}, {0, kInf}, {kNaN, 5}};
  route.heights = {0, 0};
  struct Case {
    const char* name;
    float distance, width, cornerRadius, projection, cameraX;
    std::size_t index;
  } cases[] = {
      {"huge distance", 1e30f, 0.35f, 4, 1, 0, 1},
      {"infinite distance", kInf, 0.35f, 1e30f, 1, 0, 1},
      {"NaN distance", kNaN, 0.35f, 4, 1, 0, 1},
      {"NaN width", 50, kNaN, 4, 1, 0, 1},
      {"infinite projection", 50, 1e30f, 4, kInf, 0, 1},
      {"NaN camera", 50, 0.35f, 4, 1, kNaN, 1},
      {"k = 0", 50, 0.35f, 4, 1, 0, 0},
      {"k past the end", 50, 0.35f, 4, 1, 0, 4},
  };
  std::vector<RibbonPathPoint> path;
  for (const Case& c : cases) {
    Reset();
    settings.worldDistance = c.distance, settings.worldWidth = c.width, settings.worldCornerRadius = c.cornerRadius;
    snapshot.cameraProjX = snapshot.cameraProjY = c.projection;
    snapshot.cameraPosition[0] = c.cameraX;
    nearest.index = c.index;
    BuildRibbonPath(snapshot, route, nearest, settings, path);
    EXPECT_LE(path.size(), kMaxRibbonPoints) << c.name;
    const int commands = draw->CmdBuffer.Size;
    DrawWorldRibbon(*draw, snapshot, route, nearest, 1920, 1080, settings, RibbonOcclusion{TestCallback, nullptr});
    EXPECT_LE(draw->VtxBuffer.Size, static_cast<int>(kMaxRibbonPoints) * 12) << c.name;
    for (const ImDrawVert& v : draw->VtxBuffer) ASSERT_TRUE(std::isfinite(v.pos.x) && std::isfinite(v.pos.y)) << c.name;
    if (c.index == 0 || c.index >= route.points.size()) {
      EXPECT_EQ(draw->CmdBuffer.Size, commands) << c.name;
    }
  }
}

}  // namespace
}  // namespace pathlight
