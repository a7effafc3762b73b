// Sections: the grid builder, BuildRoadGraph, ValidateRoadGraph, the cell walk shared by the two
// point queries, FindNearbySegments, CollectRoadLines.
#include "roads/road_graph.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <optional>
#include <utility>

#include "roads/graph_builder.hpp"

namespace pathlight {

namespace {

// A segment is entered in the whole rectangle of cells between its ends while that rectangle is
// small, which is every road the game has. A longer diagonal would fill a rectangle that grows with
// the square of its length, so it is entered only in the cells along its line (with one cell to
// spare each side): the queries find it in exactly the same cases, as both only look at cells a
// segment can reach.
constexpr std::int64_t kMaxRectangleCells = 64;

bool IsGridCoordinate(float v) { return std::isfinite(v) && std::fabs(v) < kMaxGroundCoordinate; }

template <class F> void ForEachSegmentCell(const RoadNode& a, const RoadNode& b, F&& visit) {
  if (!IsGridCoordinate(a.x) || !IsGridCoordinate(a.z) || !IsGridCoordinate(b.x) || !IsGridCoordinate(b.z)) return;
  const std::int32_t x0 = RoadGridCell(std::min(a.x, b.x)), x1 = RoadGridCell(std::max(a.x, b.x));
  const std::int32_t z0 = RoadGridCell(std::min(a.z, b.z)), z1 = RoadGridCell(std::max(a.z, b.z));
  if (static_cast<std::int64_t>(x1 - x0 + 1) * (z1 - z0 + 1) <= kMaxRectangleCells) {
    for (std::int32_t cx = x0; cx <= x1; ++cx) {
      for (std::int32_t cz = z0; cz <= z1; ++cz) visit(cx, cz);
    }
    return;
  }
  const double ax = a.x, az = a.z, dx = static_cast<double>(b.x) - a.x, dz = static_cast<double>(b.z) - a.z;
  for (std::int32_t cx = x0; cx <= x1; ++cx) {
    double lowZ = std::min(a.z, b.z), highZ = std::max(a.z, b.z);
    if (dx != 0) {
      // The part of the segment inside this column of cells.
      const double columnLeft = std::max(cx * kRoadGridCellSize, std::min(ax, ax + dx));
      const double columnRight = std::min((cx + 1) * kRoadGridCellSize, std::max(ax, ax + dx));
      const double zLeft = az + dz * (columnLeft - ax) / dx, zRight = az + dz * (columnRight - ax) / dx;
      lowZ = std::min(zLeft, zRight);
      highZ = std::max(zLeft, zRight);
    }
    const std::int32_t from = std::max(z0, FloorCell(lowZ, kRoadGridCellSize) - 1);
    const std::int32_t to = std::min(z1, FloorCell(highZ, kRoadGridCellSize) + 1);
    for (std::int32_t cz = from; cz <= to; ++cz) visit(cx, cz);
  }
}

// Calls visit(segment) for the segments of every grid cell within the square of cells around the
// point's cell that covers radius, each cell once; returns false for a query that cannot match
// anything (a point or radius that is not a number).
template <class F> bool ForEachNearbyCellSegment(const RoadGrid& grid, float x, float z, float radius, F&& visit) {
  if (!std::isfinite(x) || !std::isfinite(z) || !(radius >= 0)) return false;
  const double reach = std::ceil(std::min(static_cast<double>(radius), 4.0 * kMaxGroundCoordinate) / kRoadGridCellSize);
  const std::int64_t r = static_cast<std::int64_t>(reach);
  const std::int64_t cx = FloorCell(x, kRoadGridCellSize), cz = FloorCell(z, kRoadGridCellSize);
  const std::int64_t side = 2 * r + 1;
  if (static_cast<double>(side) * static_cast<double>(side) > static_cast<double>(grid.CellCount())) {
    // A square larger than the grid itself: walking the grid's own cells is cheaper and bounded.
    grid.ForEachCell([&](std::int32_t gx, std::int32_t gz, std::span<const std::int32_t> segments) {
      if (gx < cx - r || gx > cx + r || gz < cz - r || gz > cz + r) return;
      for (const std::int32_t s : segments) visit(s);
    });
    return true;
  }
  for (std::int64_t gx = cx - r; gx <= cx + r; ++gx) {
    for (std::int64_t gz = cz - r; gz <= cz + r; ++gz) {
      for (const std::int32_t s : grid.SegmentsInCell(static_cast<std::int32_t>(gx), static_cast<std::int32_t>(gz)))
        visit(s);
    }
  }
  return true;
}

double GroundDistance(double ax, double az, double bx, double bz) { return std::hypot(ax - bx, az - bz); }

// static_cast<float>(GroundDistance(...)) of two nodes, mostly without hypot's careful and slow
// path: the plain square root lies within a few units of the last place of a double from the
// exact distance, as hypot's own result does, so when every value that near rounds to one float,
// that float is hypot's too. Only a distance on the edge between two floats asks hypot.
float SegmentLength(const RoadNode& a, const RoadNode& b) {
  const double dx = static_cast<double>(a.x) - b.x, dz = static_cast<double>(a.z) - b.z;
  const double root = std::sqrt(dx * dx + dz * dz);
  const auto low = static_cast<float>(root * (1 - 1e-12)), high = static_cast<float>(root * (1 + 1e-12));
  return low == high ? low : static_cast<float>(std::hypot(dx, dz));
}

}  // namespace

class RoadGridBuilder {
 public:
  static void Build(const std::vector<RoadNode>& nodes, const std::vector<RoadSegment>& segments, RoadGrid& grid) {
    // Each cell a segment lies in is counted in segment order; then the cells' lists are laid out
    // as slices of one array, each in ascending segment order. Consecutive segments mostly share
    // their square, so the squares found last are tried first.
    struct Visit {
      std::uint32_t cell;
      std::int32_t segment;
    };
    std::vector<Visit> visits;
    visits.reserve(segments.size() + segments.size() / 2);
    std::vector<std::uint32_t> counts;
    // By the low bits of the squares' coordinates: a road along a square's edge enters two by turns.
    struct Recent {
      bool found = false;
      std::uint64_t key = 0;
      std::uint32_t square = 0;
    };
    std::array<Recent, 16> recent{};
    for (std::size_t j = 0; j < segments.size(); ++j) {
      ForEachSegmentCell(nodes[segments[j].first], nodes[segments[j].second], [&](std::int32_t cx, std::int32_t cz) {
        const std::uint64_t key = RoadGrid::SquareKey(cx, cz);
        Recent& seen = recent[static_cast<std::size_t>((((cx >> RoadGrid::kSquareShift) & 3) << 2) |
                                                       ((cz >> RoadGrid::kSquareShift) & 3))];
        if (!seen.found || seen.key != key) {
          const auto [square, inserted] =
              grid.squares_.TryEmplace(key, static_cast<std::uint32_t>(counts.size() / RoadGrid::kSquareCells));
          if (inserted) counts.resize(counts.size() + RoadGrid::kSquareCells, 0);
          seen = {true, key, *square};
        }
        const std::uint32_t cell = seen.square * RoadGrid::kSquareCells + RoadGrid::LocalCell(cx, cz);
        grid.cellCount_ += counts[cell] == 0 ? 1 : 0;
        ++counts[cell];
        visits.push_back({cell, static_cast<std::int32_t>(j)});
      });
    }
    grid.starts_.resize(counts.size() + 1);
    grid.starts_[0] = 0;
    for (std::size_t c = 0; c < counts.size(); ++c) grid.starts_[c + 1] = grid.starts_[c] + counts[c];
    // counts becomes each cell's cursor.
    std::copy(grid.starts_.begin(), grid.starts_.end() - 1, counts.begin());
    grid.segments_.resize(grid.starts_.back());
    for (const Visit& v : visits) grid.segments_[counts[v.cell]++] = v.segment;
  }
};

std::span<const std::int32_t> RoadGrid::SegmentsInCell(std::int32_t cellX, std::int32_t cellZ) const {
  const std::uint32_t* square = squares_.Find(SquareKey(cellX, cellZ));
  if (square == nullptr) return {};
  return Segments(*square * kSquareCells + LocalCell(cellX, cellZ));
}

std::size_t RoadGrid::MemoryBytes() const {
  return squares_.MemoryBytes() + starts_.capacity() * sizeof(std::uint32_t) +
         segments_.capacity() * sizeof(std::int32_t);
}

std::size_t RoadGraph::MemoryBytes() const {
  return nodes.capacity() * sizeof(RoadNode) + segments.capacity() * sizeof(RoadSegment) +
         rowStarts.capacity() * sizeof(std::int32_t) + adjacency.capacity() * sizeof(AdjacencyEntry) +
         grid.MemoryBytes();
}

std::int32_t RoadGridCell(float v) { return FloorCell(v, kRoadGridCellSize); }

RoadGraph BuildRoadGraph(std::vector<RoadNode> nodes, std::vector<RoadSegment> segments) {
  RoadGraph graph;
  graph.nodes = std::move(nodes);
  graph.segments = std::move(segments);
  const std::size_t nodeCount = graph.nodes.size();

  // The rows in place: entry n + 1 counts node n's segments, then holds where its row starts and
  // serves as its cursor while the row fills, ending where the next row starts.
  std::vector<std::int32_t>& rows = graph.rowStarts;
  rows.assign(nodeCount + 1, 0);
  for (const RoadSegment& s : graph.segments) {
    ++rows[static_cast<std::size_t>(s.first) + 1];
    ++rows[static_cast<std::size_t>(s.second) + 1];
  }
  std::int32_t start = 0;
  for (std::size_t n = 0; n < nodeCount; ++n) start += std::exchange(rows[n + 1], start);

  graph.adjacency.resize(static_cast<std::size_t>(start));
  for (std::size_t j = 0; j < graph.segments.size(); ++j) {
    RoadSegment& s = graph.segments[j];
    const RoadNode& a = graph.nodes[static_cast<std::size_t>(s.first)];
    const RoadNode& b = graph.nodes[static_cast<std::size_t>(s.second)];
    s.length = SegmentLength(a, b);
    graph.adjacency[static_cast<std::size_t>(rows[static_cast<std::size_t>(s.first) + 1]++)] = {
        s.second, static_cast<std::int32_t>(j)};
    graph.adjacency[static_cast<std::size_t>(rows[static_cast<std::size_t>(s.second) + 1]++)] = {
        s.first, static_cast<std::int32_t>(j)};
  }
  RoadGridBuilder::Build(graph.nodes, graph.segments, graph.grid);
  return graph;
}

namespace {

class Fnv1a {
 public:
  template <class T> void Add(const T& value) {
    unsigned char bytes[sizeof value];
    std::memcpy(bytes, &value, sizeof value);
    for (const unsigned char b : bytes) hash_ = (hash_ ^ b) * 0x100000001b3ull;
  }
  [[nodiscard]] std::uint64_t value() const { return hash_; }

 private:
  std::uint64_t hash_ = 0xcbf29ce484222325ull;
};

}  // namespace

std::uint64_t RoadGraphDigest(const RoadGraph& graph) {
  Fnv1a h;
  for (const RoadNode& n : graph.nodes) h.Add(n.x), h.Add(n.y), h.Add(n.z);
  for (const RoadSegment& s : graph.segments) h.Add(s.first), h.Add(s.second), h.Add(s.length), h.Add(s.type);
  for (const std::int32_t r : graph.rowStarts) h.Add(r);
  for (const AdjacencyEntry& e : graph.adjacency) h.Add(e.neighbour), h.Add(e.segment);
  std::vector<std::pair<std::uint64_t, std::vector<std::int32_t>>> cells;
  graph.grid.ForEachCell([&](std::int32_t x, std::int32_t z, std::span<const std::int32_t> segments) {
    cells.push_back({PairKey(x, z), {segments.begin(), segments.end()}});
  });
  std::sort(cells.begin(), cells.end());
  h.Add(std::uint64_t{cells.size()});
  for (const auto& [key, segments] : cells) {
    h.Add(key), h.Add(std::uint64_t{segments.size()});
    for (const std::int32_t s : segments) h.Add(s);
  }
  return h.value();
}

std::string ValidateRoadGraph(const RoadGraph& graph) {
  const auto nodeCount = static_cast<std::int64_t>(graph.nodes.size());
  if (graph.rowStarts.size() != graph.nodes.size() + 1) return "row starts: not node count + 1 entries";
  if (graph.rowStarts.front() != 0 || graph.rowStarts.back() != static_cast<std::int64_t>(2 * graph.segments.size()))
    return "row starts: do not run from 0 to twice the segment count";
  if (graph.adjacency.size() != 2 * graph.segments.size()) return "adjacency: not two entries per segment";
  std::vector<int> seen(graph.segments.size(), 0);
  for (std::int64_t n = 0; n < nodeCount; ++n) {
    if (graph.rowStarts[n + 1] < graph.rowStarts[n]) return "row starts: decreasing at node " + std::to_string(n);
    std::int32_t previous = -1;
    for (const AdjacencyEntry& e : graph.Row(static_cast<std::int32_t>(n))) {
      if (e.segment < 0 || static_cast<std::size_t>(e.segment) >= graph.segments.size())
        return "adjacency: bad segment index";
      if (e.segment <= previous)
        return "adjacency: row of node " + std::to_string(n) + " not in ascending segment order";
      previous = e.segment;
      const RoadSegment& s = graph.segments[static_cast<std::size_t>(e.segment)];
      const bool fromFirst = s.first == n && s.second == e.neighbour,
                 fromSecond = s.second == n && s.first == e.neighbour;
      if (!fromFirst && !fromSecond) return "adjacency: entry does not match segment " + std::to_string(e.segment);
      ++seen[static_cast<std::size_t>(e.segment)];
    }
  }
  for (std::size_t j = 0; j < graph.segments.size(); ++j) {
    const RoadSegment& s = graph.segments[j];
    if (s.first < 0 || s.first >= nodeCount || s.second < 0 || s.second >= nodeCount)
      return "segment " + std::to_string(j) + ": bad node";
    if (s.first == s.second) return "segment " + std::to_string(j) + ": joins a node to itself";
    if (seen[j] != 2) return "segment " + std::to_string(j) + ": not twice in the adjacency";
    if (static_cast<int>(s.type) >= kRoadTypeCount) return "segment " + std::to_string(j) + ": bad type";
    const RoadNode& a = graph.nodes[static_cast<std::size_t>(s.first)];
    const RoadNode& b = graph.nodes[static_cast<std::size_t>(s.second)];
    if (std::fabs(s.length - GroundDistance(a.x, a.z, b.x, b.z)) > 1e-3 * (1 + s.length))
      return "segment " + std::to_string(j) + ": length";
    for (const RoadNode* end : {&a, &b}) {
      const auto cell = graph.grid.SegmentsInCell(RoadGridCell(end->x), RoadGridCell(end->z));
      if (!std::binary_search(cell.begin(), cell.end(), static_cast<std::int32_t>(j)))
        return "segment " + std::to_string(j) + ": missing from the grid cell of an end";
    }
  }
  return {};
}

std::vector<SnapCandidate> FindNearbySegments(const RoadGraph& graph, float x, float z, float radius, int maxCount,
                                              float slack) {
  std::vector<std::int32_t> found;
  if (maxCount <= 0 || !ForEachNearbyCellSegment(graph.grid, x, z, radius, [&](std::int32_t s) { found.push_back(s); }))
    return {};
  // A segment in several cells is looked at once.
  std::sort(found.begin(), found.end());
  found.erase(std::unique(found.begin(), found.end()), found.end());

  std::vector<SnapCandidate> accepted;
  for (const std::int32_t j : found) {
    const RoadSegment& s = graph.segments[static_cast<std::size_t>(j)];
    const RoadNode& a = graph.nodes[static_cast<std::size_t>(s.first)];
    const RoadNode& b = graph.nodes[static_cast<std::size_t>(s.second)];
    const double dx = static_cast<double>(b.x) - a.x, dz = static_cast<double>(b.z) - a.z;
    const double lengthSquared = dx * dx + dz * dz;
    double t = 0;
    if (lengthSquared > 0) t = std::clamp(((x - a.x) * dx + (z - a.z) * dz) / lengthSquared, 0.0, 1.0);
    const double qx = a.x + t * dx, qz = a.z + t * dz;
    const double distance = GroundDistance(x, z, qx, qz);
    if (distance <= radius) {
      accepted.push_back(
          {j, static_cast<float>(t), static_cast<float>(distance), static_cast<float>(qx), static_cast<float>(qz)});
    }
  }
  // Stable, so equal distances keep ascending segment order and a query always answers alike.
  std::stable_sort(accepted.begin(), accepted.end(),
                   [](const SnapCandidate& l, const SnapCandidate& r) { return l.distance < r.distance; });
  std::vector<SnapCandidate> out;
  for (const SnapCandidate& c : accepted) {
    if (static_cast<int>(out.size()) >= maxCount || c.distance > accepted.front().distance + slack) break;
    out.push_back(c);
  }
  return out;
}

void CollectRoadLines(const RoadGraph& graph, float x, float z, float radius, std::vector<GroundPoint>& out) {
  std::vector<std::int32_t> found;
  ForEachNearbyCellSegment(graph.grid, x, z, radius, [&](std::int32_t j) {
    const RoadSegment& s = graph.segments[static_cast<std::size_t>(j)];
    const RoadNode& a = graph.nodes[static_cast<std::size_t>(s.first)];
    const RoadNode& b = graph.nodes[static_cast<std::size_t>(s.second)];
    if (GroundDistance(a.x, a.z, x, z) <= radius || GroundDistance(b.x, b.z, x, z) <= radius) found.push_back(j);
  });
  std::sort(found.begin(), found.end());
  found.erase(std::unique(found.begin(), found.end()), found.end());
  for (const std::int32_t j : found) {
    const RoadSegment& s = graph.segments[static_cast<std::size_t>(j)];
    const RoadNode& a = graph.nodes[static_cast<std::size_t>(s.first)];
    const RoadNode& b = graph.nodes[static_cast<std::size_t>(s.second)];
    out.push_back({a.x, a.z});
    out.push_back({b.x, b.z});
  }
}

}  // namespace pathlight
