// The route search on hand-built graphs: the direct leg, snapping onto one segment, the
// straight-line fallbacks, the heap's tie order, the weights, the heights, and a long route whose
// estimates are far beyond what a fixed stale-entry tolerance survives.
#include "routing/route_search.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "roads/byte_fixtures.hpp"
#include "routing/route_weights.hpp"
#include "search_graph_bgl.hpp"

namespace pathlight {
namespace {

struct Road {
  int a;
  int b;
  RoadType type = RoadType::Main;
};

RoadGraph Graph(std::vector<RoadNode> nodes, const std::vector<Road>& roads) {
  std::vector<RoadSegment> segments;
  for (const Road& r : roads) segments.push_back({r.a, r.b, 0, r.type});
  RoadGraph graph = BuildRoadGraph(std::move(nodes), std::move(segments));
  EXPECT_EQ(ValidateRoadGraph(graph), "");
  return graph;
}

const RouteWeights kWeights = MakeRouteWeights(Settings{});  // main 0.9, off-road 2.5

bool Same(GroundPoint a, GroundPoint b) { return a.x == b.x && a.z == b.z; }

// The optimal cost on the query's own search graph, by BGL's Dijkstra in double precision.
double OracleCost(const RouteSearch& search) {
  bgl::Scratch<double> scratch;
  const bgl::IndependentResult r = bgl::Dijkstra(search.Graph(), scratch);
  return r.found ? r.cost : -1;
}

//     S . . . . . . . . G        start and goal 40..61 m apart on z = 0
//
//   ====================== z = 30: a main road, 30 m away (a road route costs 2 * 75 + 0.9 * d)
TEST(RouteSearch, TheDirectLegCompetesUpToDirectMaxDistance) {
  const RoadGraph graph = Graph({{-200, 0, 30}, {200, 0, 30}}, {{0, 1}});
  RouteSearch search;
  RouteSearchResult r = search.Find(graph, {-20, 0}, {20, 0}, kWeights, 60);
  ASSERT_TRUE(r.found);
  ASSERT_EQ(r.points.size(), 2u);  // 40 * 2.5 = 100 beats 150 + 36
  EXPECT_FLOAT_EQ(r.cost, 100);

  r = search.Find(graph, {-30, 0}, {30, 0}, kWeights, 60);
  ASSERT_EQ(r.points.size(), 2u);
  EXPECT_FLOAT_EQ(r.cost, 150);
  r = search.Find(graph, {-30.5f, 0}, {30.5f, 0}, kWeights, 60);  // 61 m: no direct leg
  ASSERT_EQ(r.points.size(), 4u);
  EXPECT_TRUE(Same(r.points[1], {-30.5f, 30}));
  EXPECT_TRUE(Same(r.points[2], {30.5f, 30}));
  EXPECT_NEAR(r.cost, 150 + 0.9 * 61, 1e-3);

  // With the road beside the points the road wins even at 40 m: 2 * 2.5 + 0.9 * 40 < 100.
  const RoadGraph near = Graph({{-200, 0, 1}, {200, 0, 1}}, {{0, 1}});
  r = search.Find(near, {-20, 0}, {20, 0}, kWeights, 60);
  ASSERT_EQ(r.points.size(), 4u);
  EXPECT_NEAR(r.cost, 5 + 36, 1e-3);
}

TEST(RouteSearch, StartAndGoalOnOneSegmentUseNoRoadNodeAndCountNoRoad) {
  const RoadGraph graph = Graph({{0, 7, 0}, {1000, 9, 0}}, {{0, 1, RoadType::Horse}});
  RouteSearch search;
  const RouteSearchResult r = search.Find(graph, {100, 10}, {900, -10}, kWeights, 60);
  ASSERT_TRUE(r.found);
  ASSERT_EQ(r.points.size(), 4u);  // S, start snap, goal snap, G
  EXPECT_TRUE(Same(r.points[1], {100, 0}));
  EXPECT_TRUE(Same(r.points[2], {900, 0}));
  EXPECT_NEAR(r.cost, 25 + 800 + 25, 1e-3);
  for (const float length : r.lengthByType) EXPECT_EQ(length, 0);
  // Heights: unknown at both ends, interpolated along the segment at the snap points.
  EXPECT_TRUE(std::isnan(r.heights[0]));
  EXPECT_FLOAT_EQ(r.heights[1], 7.2f);
  EXPECT_FLOAT_EQ(r.heights[2], 8.8f);
  EXPECT_TRUE(std::isnan(r.heights[3]));

  ::testing::internal::CaptureStdout();
  LogRoadTypeLengths(r.lengthByType);
  EXPECT_EQ(testing::LogMessages(::testing::internal::GetCapturedStdout())[0],
            "Route: by road type (m): main 0, wide 0, wagon 0, horse 0, sidewalk 0, to-sidewalk 0, link 0");
}

TEST(RouteSearch, StraightLinesWithoutRoadsNearbyOrWithoutAPath) {
  // Two roads 2 km apart with nothing between them.
  const RoadGraph graph = Graph({{0, 0, 0}, {100, 0, 0}, {2000, 0, 0}, {2100, 0, 0}}, {{0, 1}, {2, 3}});
  RouteSearch search;
  RouteSearchResult r = search.Find(graph, {50, 10}, {50, 151}, kWeights, 60);  // goal 151 m from every road
  EXPECT_FALSE(r.found);
  ASSERT_EQ(r.points.size(), 2u);
  EXPECT_TRUE(Same(r.points[0], {50, 10}) && Same(r.points[1], {50, 151}));
  EXPECT_TRUE(std::isnan(r.heights[0]) && std::isnan(r.heights[1]));
  EXPECT_TRUE(std::isnan(r.cost));
  EXPECT_TRUE(search.Find(graph, {50, 10}, {50, 150}, kWeights, 60).found);

  r = search.Find(graph, {50, 10}, {2050, 10}, kWeights, 60);  // no path between the two roads
  EXPECT_FALSE(r.found);
  EXPECT_EQ(r.points.size(), 2u);
  EXPECT_FALSE(search.Find(RoadGraph{}, {0, 0}, {1, 1}, kWeights, 60).found);
}

TEST(RouteSearch, StartEqualToGoalIsTwoEqualPoints) {
  const RoadGraph graph = Graph({{0, 0, 0}, {100, 0, 0}}, {{0, 1}});
  RouteSearch search;
  const RouteSearchResult r = search.Find(graph, {50, 5}, {50, 5}, kWeights, 60);
  ASSERT_TRUE(r.found);
  ASSERT_EQ(r.points.size(), 2u);
  EXPECT_TRUE(Same(r.points[0], {50, 5}) && Same(r.points[1], {50, 5}));
  EXPECT_EQ(r.cost, 0);
}

//              1 (100, +50)
//            /              \            .
//   S - 0 (0,0)              3 (200,0) -- 4 (250,0) -- G
//            \              /
//              2 (100, -50)
// Both branches cost the same and their middle nodes have the same estimate: the one with the
// smaller node number is expanded first and reaches node 3 first; the other only ties.
TEST(RouteSearch, EqualEstimatesLeaveTheHeapSmallerNodeFirst) {
  for (const float z1 : {50.0f, -50.0f}) {
    const RoadGraph graph = Graph({{0, 0, 0}, {100, 0, z1}, {100, 0, -z1}, {200, 0, 0}, {250, 0, 0}},
                                  {{0, 1}, {0, 2}, {1, 3}, {2, 3}, {3, 4}});
    RouteSearch search;
    const RouteSearchResult r = search.Find(graph, {-10, 0}, {260, 0}, kWeights, 60);
    ASSERT_TRUE(r.found);
    EXPECT_TRUE(std::any_of(r.points.begin(), r.points.end(), [&](GroundPoint p) { return Same(p, {100, z1}); })) << z1;
    EXPECT_FALSE(std::any_of(r.points.begin(), r.points.end(), [&](GroundPoint p) {
      return Same(p, {100, -z1});
    })) << z1;
  }
}

TEST(RouteSearch, WideRoadsCostAsWagonRoadsUnderOrdinaryWeights) {
  Settings settings;
  settings.wagonRoadWeight = 1.7f;
  settings.wagonWideRoadWeight = 0.5f;
  const RouteWeights ordinary = MakeRouteWeights(settings), wagon = MakeWagonRouteWeights(settings);
  EXPECT_EQ(ordinary.Factor(RoadType::Wide), 1.7f);
  EXPECT_EQ(wagon.Factor(RoadType::Wide), 0.5f);
  EXPECT_EQ(ordinary.Factor(RoadType::Link), 1.0f);
  EXPECT_EQ(wagon.Smallest(), 0.5f);

  const RoadGraph graph = Graph({{0, 0, 0}, {100, 0, 0}}, {{0, 1, RoadType::Wide}});
  RouteSearch search;
  EXPECT_FLOAT_EQ(search.Find(graph, {0, 0}, {100, 0}, ordinary, 0).cost, 170);
  EXPECT_FLOAT_EQ(search.Find(graph, {0, 0}, {100, 0}, wagon, 0).cost, 50);
}

// S - 0 - 1 - 2 - G along a hill: heights of road nodes are their own, snap points interpolated,
// the ends unknown; the per-type sums count the road between road nodes only.
TEST(RouteSearch, HeightsAndRoadLengthsAlongARoute) {
  const RoadGraph graph = Graph({{0, 10, 0}, {100, 20, 0}, {200, 40, 0}, {300, 0, 0}},
                                {{0, 1, RoadType::Sidewalk}, {1, 2, RoadType::Wagon}, {2, 3, RoadType::Wagon}});
  RouteSearch search;
  const RouteSearchResult r = search.Find(graph, {50, 20}, {250, -20}, kWeights, 60);
  ASSERT_TRUE(r.found);
  ASSERT_EQ(r.points.size(), 6u);  // S, snap on 0-1, 1, 2, snap on 2-3, G
  EXPECT_TRUE(Same(r.points[2], {100, 0}) && Same(r.points[3], {200, 0}));
  EXPECT_TRUE(std::isnan(r.heights[0]));
  EXPECT_FLOAT_EQ(r.heights[1], 15);
  EXPECT_FLOAT_EQ(r.heights[2], 20);
  EXPECT_FLOAT_EQ(r.heights[3], 40);
  EXPECT_FLOAT_EQ(r.heights[4], 20);
  EXPECT_TRUE(std::isnan(r.heights[5]));
  EXPECT_FLOAT_EQ(r.lengthByType[static_cast<int>(RoadType::Wagon)], 100);
  EXPECT_FLOAT_EQ(r.lengthByType[static_cast<int>(RoadType::Sidewalk)], 0);
}

TEST(RouteWeights, UnusableWeightsFallBackToTheirDefaultsAndAreLoggedOncePerValue) {
  Settings settings;
  settings.offRoadWeight = -1;
  settings.mainRoadWeight = NAN;
  settings.horseRoadWeight = 0;  // free, but usable
  settings.wagonSidewalkWeight = INFINITY;
  ::testing::internal::CaptureStdout();
  RouteWeights w = MakeRouteWeights(settings);
  w = MakeRouteWeights(settings);  // the worker makes weights for every search
  const RouteWeights wagon = MakeWagonRouteWeights(settings);
  settings.offRoadWeight = -2;
  (void)MakeRouteWeights(settings);
  const auto log = testing::LogMessages(::testing::internal::GetCapturedStdout());
  EXPECT_EQ(w.offRoad, 2.5f);
  EXPECT_EQ(w.Factor(RoadType::Main), 0.9f);
  EXPECT_EQ(w.Factor(RoadType::Horse), 0.0f);
  EXPECT_EQ(wagon.Factor(RoadType::Sidewalk), 2.5f);
  const std::vector<std::string> expected = {
      "Route: [Routing] MainRoadWeight=nan is not a usable weight, using 0.9",
      "Route: [Routing] OffRoadWeight=-1 is not a usable weight, using 2.5",
      "Route: [WagonRouting] SidewalkWeight=inf is not a usable weight, using 2.5",
      "Route: [Routing] OffRoadWeight=-2 is not a usable weight, using 2.5",
  };
  std::vector<std::string> messages(log.begin(), log.end() - (log.back().empty() ? 1 : 0));
  EXPECT_EQ(messages, expected);

  // A zero weight everywhere makes the estimate zero: a plain Dijkstra search, still correct.
  Settings zero;
  zero.mainRoadWeight = zero.offRoadWeight = 0;
  const RoadGraph graph = Graph({{0, 0, 0}, {100, 0, 0}, {100, 0, 100}}, {{0, 1}, {1, 2, RoadType::Sidewalk}});
  RouteSearch search;
  const RouteSearchResult r = search.Find(graph, {0, 0}, {100, 100}, MakeRouteWeights(zero), 60);
  ASSERT_TRUE(r.found);
  EXPECT_NEAR(r.cost, 110, 1e-3);
}

// A road of about 40 km zigzagging east, every node 90-110 m from the last: estimates and costs
// reach 36,000, where a float's spacing is 0.004. The former stale test (estimate minus the
// node's estimate, against best + 0.001) judged live entries stale there and the search lost the
// road; the search must find it, at the optimal cost.
TEST(RouteSearch, ARouteOfFortyKilometresIsFoundAtItsOptimalCost) {
  std::vector<RoadNode> nodes;
  std::vector<Road> roads;
  float x = 0;
  for (int i = 0; i < 400; ++i) {
    nodes.push_back({x, 0, (i % 2) * 13.7f});
    x += 90.0f + static_cast<float>((i * 37) % 21);
    if (i > 0) roads.push_back({i - 1, i, i % 3 == 0 ? RoadType::Main : RoadType::Wagon});
  }
  const RoadGraph graph = Graph(nodes, roads);
  const GroundPoint start{-5, -5}, goal{nodes.back().x + 5, 5};
  RouteSearch search;
  const RouteSearchResult r = search.Find(graph, start, goal, kWeights, 60);
  ASSERT_TRUE(r.found);
  EXPECT_GT(r.points.size(), 400u);
  EXPECT_GT(nodes.back().x, 30000);
  const double oracle = OracleCost(search);
  EXPECT_NEAR(r.cost, oracle, 1e-5 * oracle);

  // The former rule on the same query: on a chain every node's best cost is the one sum along it,
  // which BGL's Dijkstra in float gives too. Count the nodes whose only live entry it skipped.
  bgl::Scratch<float> scratch;
  ASSERT_TRUE(bgl::Dijkstra(search.Graph(), scratch).found);
  const SearchGraph& g = search.Graph();
  int skipped = 0;
  for (std::int32_t n = 0; n < g.RoadNodeCount(); ++n) {
    const float best = scratch.distance[static_cast<std::size_t>(n)], h = g.Estimate(n);
    const float estimate = h + best;
    if (estimate - h > best + 0.001f) ++skipped;
  }
  EXPECT_GT(skipped, 0);
}

}  // namespace
}  // namespace pathlight
