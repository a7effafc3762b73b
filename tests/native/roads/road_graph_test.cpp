// The road graph: compressed rows, the 64 m grid, the two point queries (also against a brute-force
// search over random graphs), and the published state after an empty load.
#include "roads/road_graph.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

#include "roads/byte_fixtures.hpp"
#include "roads/road_loader.hpp"

namespace pathlight {
namespace {

RoadGraph Graph(std::vector<RoadNode> nodes, const std::vector<std::pair<int, int>>& ends) {
  std::vector<RoadSegment> segments;
  for (const auto& [a, b] : ends) segments.push_back({a, b, 0, RoadType::Wagon});
  RoadGraph graph = BuildRoadGraph(std::move(nodes), std::move(segments));
  EXPECT_EQ(ValidateRoadGraph(graph), "");
  return graph;
}

std::vector<std::pair<int, int>> CellsOf(const RoadGraph& graph, std::int32_t segment) {
  std::vector<std::pair<int, int>> cells;
  graph.grid.ForEachCell([&](std::int32_t x, std::int32_t z, std::span<const std::int32_t> segments) {
    if (std::find(segments.begin(), segments.end(), segment) != segments.end()) cells.emplace_back(x, z);
  });
  std::sort(cells.begin(), cells.end());
  return cells;
}

// East-west segments 20 m long, centred on x = 0, at these distances north of the origin.
RoadGraph Parallels(const std::vector<float>& distances) {
  std::vector<RoadNode> nodes;
  std::vector<std::pair<int, int>> ends;
  for (const float d : distances) {
    nodes.push_back({-10, 0, d});
    nodes.push_back({10, 0, d});
    ends.emplace_back(static_cast<int>(nodes.size()) - 2, static_cast<int>(nodes.size()) - 1);
  }
  return Graph(nodes, ends);
}

std::vector<float> Distances(const std::vector<SnapCandidate>& found) {
  std::vector<float> d;
  for (const SnapCandidate& c : found) d.push_back(c.distance);
  return d;
}

TEST(RoadGraph, RowsLengthsAndGridCells) {
  // 0 --s0-- 1 --s1-- 2
  const RoadGraph g = Graph({{0, 0, 0}, {3, 0, 4}, {3, 9, 10}}, {{0, 1}, {1, 2}});
  EXPECT_EQ(g.rowStarts, (std::vector<std::int32_t>{0, 1, 3, 4}));
  ASSERT_EQ(g.Row(1).size(), 2u);
  EXPECT_EQ(std::make_pair(g.Row(1)[0].neighbour, g.Row(1)[0].segment), std::make_pair(0, 0));
  EXPECT_EQ(std::make_pair(g.Row(1)[1].neighbour, g.Row(1)[1].segment), std::make_pair(2, 1));
  EXPECT_FLOAT_EQ(g.segments[1].length, 6.0f);  // horizontal only: height plays no part

  const RoadGraph cells = Graph({{10, 0, 10}, {70, 0, 10}, {-1, 0, -1}, {1, 0, 1}, {64, 0, 0}, {127.9f, 0, 63.9f}},
                                {{0, 1}, {2, 3}, {4, 5}});
  EXPECT_EQ(CellsOf(cells, 0), (std::vector<std::pair<int, int>>{{0, 0}, {1, 0}}));
  EXPECT_EQ(CellsOf(cells, 1), (std::vector<std::pair<int, int>>{{-1, -1}, {-1, 0}, {0, -1}, {0, 0}}));
  EXPECT_EQ(CellsOf(cells, 2), (std::vector<std::pair<int, int>>{{1, 0}}));
  const auto shared = cells.grid.SegmentsInCell(1, 0);
  EXPECT_EQ(std::vector<std::int32_t>(shared.begin(), shared.end()), (std::vector<std::int32_t>{0, 2}));
}

TEST(RoadGraph, ALongDiagonalFillsOnlyTheCellsAlongItsLineAndIsStillFound) {
  // The rectangle of its end cells would be 28125 x 28110 cells.
  const RoadGraph g = Graph({{-900000, 0, -900000}, {900000, 0, 899000}}, {{0, 1}});
  EXPECT_LT(CellsOf(g, 0).size(), 4u * 28125);
  for (const double t : {0.0, 0.1234, 0.5, 0.77, 1.0}) {
    const auto x = static_cast<float>(-900000 + 1800000 * t), z = static_cast<float>(-900000 + 1799000 * t);
    EXPECT_EQ(FindNearbySegments(g, x + 60, z - 60, 150, 6, 50).size(), 1u) << t;
  }
}

TEST(FindNearbySegments, SnapsWithTheFractionAlongTheSegment) {
  const RoadGraph g = Graph({{0, 0, 0}, {100, 0, 0}}, {{0, 1}});
  auto found = FindNearbySegments(g, -30, 40, 150, 6, 50);  // beyond the first node
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].t, 0.0f);
  EXPECT_FLOAT_EQ(found[0].distance, 50.0f);
  found = FindNearbySegments(g, 25, -10, 150, 6, 50);
  EXPECT_FLOAT_EQ(found[0].t, 0.25f);
  EXPECT_EQ(std::make_pair(found[0].x, found[0].z), std::make_pair(25.0f, 0.0f));
  // Ends that share x and z: length 0, t = 0, its first node is the point.
  found = FindNearbySegments(BuildRoadGraph({{5, 0, 5}, {5, 1, 5}}, {{0, 1, 0, RoadType::Link}}), 8, 9, 150, 6, 50);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].t, 0.0f);
  EXPECT_FLOAT_EQ(found[0].distance, 5.0f);
}

TEST(FindNearbySegments, CountAndSlackCutTheCandidates) {
  EXPECT_EQ(Distances(FindNearbySegments(Parallels({65, 10, 61, 40}), 0, 0, 150, 6, 50)), (std::vector<float>{10, 40}));
  EXPECT_EQ(Distances(FindNearbySegments(Parallels({11, 10, 9, 8, 7, 6, 5}), 0, 0, 150, 6, 50)),
            (std::vector<float>{5, 6, 7, 8, 9, 10}));
  EXPECT_EQ(Distances(FindNearbySegments(Parallels({10, 60}), 0, 0, 150, 6, 50)),
            (std::vector<float>{10, 60}));  // + 50 is kept
  EXPECT_EQ(Distances(FindNearbySegments(Parallels({150, 151}), 0, 0, 150, 6, 50)), (std::vector<float>{150}));
}

TEST(PointQueries, ASegmentInFourCellsIsReportedOnce) {
  const RoadGraph g = Graph({{-10, 0, -10}, {10, 0, 10}}, {{0, 1}});
  ASSERT_EQ(CellsOf(g, 0).size(), 4u);
  EXPECT_EQ(FindNearbySegments(g, 0, 0, 150, 6, 50).size(), 1u);
  std::vector<GroundPoint> lines;
  CollectRoadLines(g, 0, 0, 150, lines);
  EXPECT_EQ(lines.size(), 2u);
}

TEST(CollectRoadLines, KeepsSegmentsWithAnEndInsideInSegmentOrder) {
  // s0: first end outside, second inside; s1: both ends outside, though it passes the centre.
  const RoadGraph g =
      Graph({{500, 0, 0}, {90, 0, 0}, {-300, 0, 5}, {300, 0, 5}, {1, 0, 1}, {2, 0, 2}}, {{0, 1}, {2, 3}, {4, 5}});
  std::vector<GroundPoint> lines{{7, 7}};  // appended to
  CollectRoadLines(g, 0, 0, 100, lines);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[1].x, 500.0f);
  EXPECT_EQ(lines[2].x, 90.0f);
  EXPECT_EQ(lines[3].x, 1.0f);
}

TEST(PointQueries, NonsenseQueriesAnswerNothingAndHugeRadiiStayBounded) {
  const RoadGraph g = Parallels({10, 1000});
  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  EXPECT_TRUE(FindNearbySegments(g, nan, 0, 150, 6, 50).empty());
  EXPECT_TRUE(FindNearbySegments(g, 0, inf, 150, 6, 50).empty());
  EXPECT_TRUE(FindNearbySegments(g, 0, 0, nan, 6, 50).empty());
  EXPECT_TRUE(FindNearbySegments(g, 3e38f, -3e38f, 150, 6, 50).empty());
  EXPECT_EQ(FindNearbySegments(g, 0, 0, 1e30f, 6, 1e30f).size(), 2u);
  std::vector<GroundPoint> lines;
  CollectRoadLines(g, 0, 0, inf, lines);
  EXPECT_EQ(lines.size(), 4u);
}

TEST(PointQueries, AgreeWithABruteForceSearchOnRandomGraphs) {
  std::mt19937 random(7);
  std::uniform_real_distribution<float> position(-2000, 2000), offset(-300, 300);
  for (int round = 0; round < 20; ++round) {
    std::vector<RoadNode> nodes;
    std::vector<std::pair<int, int>> ends;
    for (int i = 0; i < 200; ++i) {
      const float x = position(random), z = position(random),
                  reach = i % 10 == 0 ? 10 : 0.2f;  // some across many cells
      nodes.push_back({x, 0, z});
      nodes.push_back({x + offset(random) * reach, 0, z + offset(random) * reach});
      ends.emplace_back(2 * i, 2 * i + 1);
    }
    const RoadGraph g = Graph(nodes, ends);
    for (int q = 0; q < 50; ++q) {
      const float x = position(random), z = position(random), radius = q % 2 ? 150.0f : 500.0f;
      std::vector<double> expected;
      std::vector<float> expectedLines;
      for (const RoadSegment& s : g.segments) {
        const RoadNode &a = g.nodes[static_cast<std::size_t>(s.first)],
                       &b = g.nodes[static_cast<std::size_t>(s.second)];
        const double dx = b.x - a.x, dz = b.z - a.z;
        const double t = std::clamp(((x - a.x) * dx + (z - a.z) * dz) / (dx * dx + dz * dz), 0.0, 1.0);
        if (const double d = std::hypot(x - (a.x + t * dx), z - (a.z + t * dz)); d <= radius) expected.push_back(d);
        if (std::hypot(a.x - x, a.z - z) <= radius || std::hypot(b.x - x, b.z - z) <= radius)
          expectedLines.push_back(a.x);
      }
      std::sort(expected.begin(), expected.end());
      const std::vector<float> found = Distances(FindNearbySegments(g, x, z, radius, 1000, 1e9f));
      ASSERT_EQ(found.size(), expected.size());
      for (std::size_t i = 0; i < found.size(); ++i) EXPECT_NEAR(found[i], expected[i], 1e-3);
      std::vector<GroundPoint> lines;
      CollectRoadLines(g, x, z, radius, lines);
      ASSERT_EQ(lines.size(), 2 * expectedLines.size());
      for (std::size_t i = 0; i < expectedLines.size(); ++i) EXPECT_EQ(lines[2 * i].x, expectedLines[i]);
    }
  }
}

TEST(RoadsPublication, AnEmptyLoadLogsZerosAndNeverBecomesReady) {
  testing::ScratchFolder game;
  ::testing::internal::CaptureStdout();
  LoadRoads(game.Wide());
  const auto messages = testing::LogMessages(::testing::internal::GetCapturedStdout());
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_TRUE(
      testing::IsPrefixAndMilliseconds(messages[0], "Roads: 1 archives, 0 tiles (0 skipped), 0 nodes, 0 segments, "))
      << messages[0];
  EXPECT_FALSE(RoadsAreReady());
  std::vector<GroundPoint> lines;
  CollectRoadLines(0, 0, 1000, lines);
  EXPECT_TRUE(lines.empty());
}

}  // namespace
}  // namespace pathlight
