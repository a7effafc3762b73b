// The road graph: nodes, segments, adjacency in compressed rows, and a grid of 64 m cells over the
// segments for the two point queries (snapping to the network, collecting lines to draw). Built
// once by the road loader; immutable afterwards, so any thread may query a published graph without
// a lock.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "roads/flat_map.hpp"
#include "roads/road_types.hpp"

namespace pathlight {

inline constexpr double kRoadGridCellSize = 64.0;

struct AdjacencyEntry {
  std::int32_t neighbour;
  std::int32_t segment;
};

// Cell -> segment indices in ascending order, all cells' lists in one array. The cells are kept in
// squares of 8 x 8 (512 m): a square found by its coordinates holds where each of its cells' lists
// starts, so the roads of one stretch of land are near each other in memory, and one look-up
// serves the 64 cells of a square.
class RoadGrid {
 public:
  [[nodiscard]] std::span<const std::int32_t> SegmentsInCell(std::int32_t cellX, std::int32_t cellZ) const;
  // Cells holding at least one segment.
  [[nodiscard]] std::size_t CellCount() const { return cellCount_; }
  // Every cell with its segments (never an empty one), in no particular order.
  template <class F> void ForEachCell(F&& visit) const {
    squares_.ForEach([&](std::uint64_t key, std::uint32_t square) {
      const auto squareX = static_cast<std::int32_t>(key >> 32);
      const auto squareZ = static_cast<std::int32_t>(static_cast<std::uint32_t>(key));
      for (std::uint32_t local = 0; local < kSquareCells; ++local) {
        const std::span<const std::int32_t> segments = Segments(square * kSquareCells + local);
        if (!segments.empty())
          visit(squareX * kSquareSide + static_cast<std::int32_t>(local / kSquareSide),
                squareZ * kSquareSide + static_cast<std::int32_t>(local % kSquareSide), segments);
      }
    });
  }
  [[nodiscard]] std::size_t MemoryBytes() const;

 private:
  friend class RoadGridBuilder;
  static constexpr std::int32_t kSquareShift = 3;
  static constexpr std::int32_t kSquareSide = 1 << kSquareShift;
  static constexpr std::uint32_t kSquareCells = kSquareSide * kSquareSide;
  static std::uint64_t SquareKey(std::int32_t cellX, std::int32_t cellZ) {
    return PairKey(cellX >> kSquareShift, cellZ >> kSquareShift);
  }
  static std::uint32_t LocalCell(std::int32_t cellX, std::int32_t cellZ) {
    return static_cast<std::uint32_t>(((cellX & (kSquareSide - 1)) << kSquareShift) | (cellZ & (kSquareSide - 1)));
  }
  [[nodiscard]] std::span<const std::int32_t> Segments(std::uint32_t cell) const {
    return {segments_.data() + starts_[cell], starts_[cell + 1] - starts_[cell]};
  }
  FlatMap64<std::uint32_t> squares_;   // key: square x high, square z low; value: the square's number
  std::vector<std::uint32_t> starts_;  // cell square * 64 + local cell, then one past the last
  std::vector<std::int32_t> segments_;
  std::size_t cellCount_ = 0;
};

struct RoadGraph {
  std::vector<RoadNode> nodes;
  std::vector<RoadSegment> segments;
  std::vector<std::int32_t> rowStarts;    // nodes + 1 entries
  std::vector<AdjacencyEntry> adjacency;  // rows in ascending segment order
  RoadGrid grid;

  [[nodiscard]] std::span<const AdjacencyEntry> Row(std::int32_t node) const {
    return {adjacency.data() + rowStarts[node], static_cast<std::size_t>(rowStarts[node + 1] - rowStarts[node])};
  }
  // Bytes held by the graph's arrays and grid.
  [[nodiscard]] std::size_t MemoryBytes() const;
};

// Segment lengths, adjacency and grid for the loaded nodes and segments (whose ends must be valid,
// distinct node indices).
[[nodiscard]] RoadGraph BuildRoadGraph(std::vector<RoadNode> nodes, std::vector<RoadSegment> segments);

// The grid cell of a ground coordinate: floor(v / 64).
[[nodiscard]] std::int32_t RoadGridCell(float v);

// FNV-1a over every array of the graph, the grid's cells in key order: two loads of the same files
// gave the same graph, field by field, when their digests agree.
[[nodiscard]] std::uint64_t RoadGraphDigest(const RoadGraph& graph);

// Empty when the graph keeps its invariants, else a description of the first broken one. Checked
// by the tests on every graph they build.
[[nodiscard]] std::string ValidateRoadGraph(const RoadGraph& graph);

struct SnapCandidate {
  std::int32_t segment;
  float t;         // along the segment from its first node, 0..1
  float distance;  // metres from the query point
  float x;         // nearest point of the segment
  float z;
};

// Segments within radius of (x, z), nearest first: at most maxCount, and none farther than the
// nearest one's distance + slack.
[[nodiscard]] std::vector<SnapCandidate> FindNearbySegments(const RoadGraph& graph, float x, float z, float radius,
                                                            int maxCount, float slack);

struct GroundPoint {
  float x;
  float z;
};

// Appends both ends of every segment with at least one end within radius of (x, z), as line
// pieces, segments in ascending order.
void CollectRoadLines(const RoadGraph& graph, float x, float z, float radius, std::vector<GroundPoint>& out);

}  // namespace pathlight
