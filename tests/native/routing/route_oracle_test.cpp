// The route search against an independent one: on synthetic worlds, for random start/goal pairs
// far apart and close together (so the direct leg is in play), under both weight sets, the cost
// of the route found equals the optimal cost BGL's Dijkstra finds on the same search graph, and
// both agree on whether there is a route at all.
#include <gtest/gtest.h>

#include <cmath>
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
        ++checked;
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
