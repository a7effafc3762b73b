// The route search against independent ones: on synthetic worlds, for random start/goal pairs
// far apart and close together (so the direct leg is in play), under both weight sets, the cost
// of the route found equals the optimal cost BGL's Dijkstra finds on the same search graph, and
// both agree on whether there is a route at all; and the search takes the very nodes, and gives
// the very route, of the plain search it stands for (a binary heap of estimate and node number over
// the road graph's own numbering), whatever its heap and its copy of the graph do to be fast.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <queue>
#include <random>
#include <span>

#include "roads/byte_fixtures.hpp"
#include "roads/road_loader.hpp"
#include "routing/route_search.hpp"
#include "routing/route_weights.hpp"
#include "search_graph_bgl.hpp"

namespace pathlight {
namespace {

RoadGraph World(const std::string& arguments) {
  testing::ScratchFolder folder;
  const std::string command =
      std::string(PATHLIGHT_WORLDGEN) + " --out '" + folder.path().string() + "' " + arguments + " > /dev/null";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  ::testing::internal::CaptureStdout();
  RoadGraph graph = LoadRoadNetwork(folder.Wide()).graph;
  (void)::testing::internal::GetCapturedStdout();
  return graph;
}

struct PlainResult {
  std::vector<GroundPoint> points;
  float cost = kUnreachedCost;
  std::size_t settled = 0;
};

// The search as stated: pop the smallest (estimate, node), stop at the goal, skip an entry whose
// cost is no longer its node's best, relax every edge in order, push each strict improvement.
PlainResult PlainSearch(const SearchGraph& g) {
  using Entry = std::pair<std::uint64_t, float>;  // (estimate bits above the node number, cost)
  std::priority_queue<Entry, std::vector<Entry>, std::greater<>> open;
  const auto count = static_cast<std::size_t>(g.NodeCount());
  std::vector<float> best(count, kUnreachedCost);
  std::vector<std::int32_t> predecessor(count, -1);
  const auto push = [&](std::int32_t n, float cost) {
    const float estimate = g.Estimate(n) + cost;
    open.push({(std::uint64_t{std::bit_cast<std::uint32_t>(estimate)} << 32) | static_cast<std::uint32_t>(n), cost});
  };
  PlainResult result;
  best[static_cast<std::size_t>(g.StartNode())] = 0;
  push(g.StartNode(), 0);
  while (!open.empty()) {
    const auto [key, cost] = open.top();
    open.pop();
    const auto n = static_cast<std::int32_t>(key & 0xffffffffu);
    if (n == g.GoalNode()) break;
    if (cost != best[static_cast<std::size_t>(n)]) continue;
    ++result.settled;
    g.ForEachEdge(n, [&](std::int32_t v, float edge) {
      const float c = cost + edge;
      if (best[static_cast<std::size_t>(v)] > c) {
        best[static_cast<std::size_t>(v)] = c;
        predecessor[static_cast<std::size_t>(v)] = n;
        push(v, c);
      }
    });
  }
  result.cost = best[static_cast<std::size_t>(g.GoalNode())];
  for (std::int32_t at = g.GoalNode(); at >= 0 && result.cost < kUnreachedCost;
       at = predecessor[static_cast<std::size_t>(at)])
    result.points.push_back(g.Position(at));
  std::reverse(result.points.begin(), result.points.end());
  return result;
}

TEST(RouteOracle, FoundCostsAreOptimalOnWorldgenWorlds) {
  int checked = 0, routed = 0, direct = 0;
  Settings settings;
  settings.offRoadWeight = 3.5f;  // weights of their own, beside the defaults
  settings.sidewalkWeight = 0.95f;
  settings.wagonWideRoadWeight = 0.45f;
  for (const auto& [arguments, seed] :
       {std::pair{"--seed 3 --nodes 6000 --dlc 1", 11u}, std::pair{"--seed 4 --nodes 20000", 12u}}) {
    const RoadGraph graph = World(arguments);
    ASSERT_GT(graph.nodes.size(), 1000u);
    std::mt19937 random(seed);
    std::uniform_int_distribution<std::size_t> anyNode(0, graph.nodes.size() - 1);
    std::uniform_real_distribution<float> offset(-40.0f, 40.0f);
    RouteSearch search;
    bgl::Scratch<double> scratch;
    for (const RouteWeights& weights : {MakeRouteWeights(Settings{}), MakeWagonRouteWeights(Settings{}),
                                        MakeRouteWeights(settings), MakeWagonRouteWeights(settings)}) {
      for (int q = 0; q < 60; ++q) {
        const RoadNode& a = graph.nodes[anyNode(random)];
        // Every other query close by: the direct leg competes with the roads.
        const RoadNode& b = q % 2 == 0 ? graph.nodes[anyNode(random)] : a;
        const GroundPoint start{a.x + offset(random), a.z + offset(random)};
        const GroundPoint goal{b.x + offset(random), b.z + offset(random)};
        const RouteSearchResult r = search.Find(graph, start, goal, weights, 60);
        const SearchGraph& g = search.Graph();
        if (g.startSnaps.empty() || g.goalSnaps.empty()) {
          EXPECT_FALSE(r.found);
          continue;
        }
        const bgl::IndependentResult oracle = bgl::Dijkstra(g, scratch);
        const PlainResult plain = PlainSearch(g);
        ++checked;
        ASSERT_EQ(r.settled, plain.settled) << arguments << " query " << q;
        ASSERT_EQ(r.found ? r.cost : kUnreachedCost, plain.cost) << arguments << " query " << q;
        ASSERT_EQ(r.found ? r.points.size() : 0, plain.points.size()) << arguments << " query " << q;
        for (std::size_t i = 0; r.found && i < r.points.size(); ++i)
          ASSERT_TRUE(r.points[i].x == plain.points[i].x && r.points[i].z == plain.points[i].z) << q << " point " << i;
        ASSERT_EQ(r.found, oracle.found) << q;
        if (!r.found) continue;
        ++routed;
        direct += r.points.size() == 2;
        ASSERT_NEAR(r.cost, oracle.cost, 1e-5 * std::max(1.0, oracle.cost)) << arguments << " query " << q;

        ASSERT_TRUE(r.points.front().x == start.x && r.points.front().z == start.z);
        ASSERT_TRUE(r.points.back().x == goal.x && r.points.back().z == goal.z);
        ASSERT_EQ(r.heights.size(), r.points.size());
      }
    }
  }
  EXPECT_GE(checked, 400);
  EXPECT_GT(direct, 10);
  EXPECT_GT(routed, direct + 200);
  std::printf("route oracle: %d queries checked, %d routed, %d by the direct leg\n", checked, routed, direct);
}

}  // namespace
}  // namespace pathlight
