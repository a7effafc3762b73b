// Sections: the search graph of a query, the heap, the search's copy of the graph, the search, the
// walk back, FindRoute.
#include "routing/route_search.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <utility>

#include "platform/log.hpp"
#include "roads/road_loader.hpp"
#include "routing/routing_state.hpp"
#include "settings/settings.hpp"

namespace pathlight {

// ---- search graph ---------------------------------------------------------------------------------

GroundPoint SearchGraph::Position(std::int32_t n) const {
  const std::int32_t roadCount = RoadNodeCount();
  if (n < roadCount) {
    const RoadNode& node = roads->nodes[static_cast<std::size_t>(n)];
    return {node.x, node.z};
  }
  if (n == StartNode()) return start;
  if (n == GoalNode()) return goal;
  const std::size_t snap = static_cast<std::size_t>(n - roadCount - 2);
  const SnapCandidate& c = snap < startSnaps.size() ? startSnaps[snap] : goalSnaps[snap - startSnaps.size()];
  return {c.x, c.z};
}

std::span<const SearchEdge> SearchGraph::ExtraEdges(std::int32_t n) const {
  const auto first = std::lower_bound(extraNodes_.begin(), extraNodes_.end(), n);
  const auto last = std::upper_bound(first, extraNodes_.end(), n);
  return {extraEdges_.data() + (first - extraNodes_.begin()), static_cast<std::size_t>(last - first)};
}

void MakeRoadEdges(const RoadGraph& roads, const RouteWeights& weights, std::vector<SearchEdge>& edges) {
  edges.resize(roads.adjacency.size());
  for (std::size_t i = 0; i < roads.adjacency.size(); ++i) {
    const RoadSegment& s = roads.segments[static_cast<std::size_t>(roads.adjacency[i].segment)];
    edges[i] = {roads.adjacency[i].neighbour, weights.Factor(s.type) * s.length};
  }
}

bool BuildSearchGraph(const RoadGraph& roads, GroundPoint start, GroundPoint goal, const RouteWeights& weights,
                      const SearchEdge* roadEdgeTable, float directMaxDistance, SearchGraph& out) {
  out.roads = &roads;
  out.weights = weights;
  out.roadEdgeTable = roadEdgeTable;
  out.heuristicFactor = weights.Smallest();
  out.start = start;
  out.goal = goal;
  out.startSnaps = FindNearbySegments(roads, start.x, start.z, kSnapRadius, kSnapCount, kSnapSlack);
  out.goalSnaps = FindNearbySegments(roads, goal.x, goal.z, kSnapRadius, kSnapCount, kSnapSlack);
  out.virtualStarts_.clear();
  out.virtualEdges_.clear();
  out.extraNodes_.clear();
  out.extraEdges_.clear();
  out.extraFilter_.fill(0);
  if (out.startSnaps.empty() || out.goalSnaps.empty()) return false;

  const auto segmentCost = [&](const SnapCandidate& c) {
    const RoadSegment& s = roads.segments[static_cast<std::size_t>(c.segment)];
    return weights.Factor(s.type) * s.length;
  };
  const auto startNode = [&]() { out.virtualStarts_.push_back(static_cast<std::uint32_t>(out.virtualEdges_.size())); };

  // The start: the direct leg first, then one leg onto each start candidate.
  startNode();
  const float direct = GroundDistance(start, goal);
  if (direct <= directMaxDistance) out.virtualEdges_.push_back({out.GoalNode(), direct * weights.offRoad});
  for (std::size_t j = 0; j < out.startSnaps.size(); ++j)
    out.virtualEdges_.push_back({out.StartSnapNode(j), weights.offRoad * out.startSnaps[j].distance});
  // The goal: nothing leaves it.
  startNode();
  // Each start snap: both ends of its segment, and the goal snaps on the same segment.
  for (const SnapCandidate& c : out.startSnaps) {
    startNode();
    const RoadSegment& s = roads.segments[static_cast<std::size_t>(c.segment)];
    const float cost = segmentCost(c);
    out.virtualEdges_.push_back({s.first, cost * c.t});
    out.virtualEdges_.push_back({s.second, cost * (1 - c.t)});
    for (std::size_t k = 0; k < out.goalSnaps.size(); ++k) {
      if (out.goalSnaps[k].segment == c.segment)
        out.virtualEdges_.push_back({out.GoalSnapNode(k), cost * std::fabs(c.t - out.goalSnaps[k].t)});
    }
  }
  // Each goal snap: its leg to the goal; and the road ends of its segment lead onto it.
  std::vector<std::pair<std::int32_t, SearchEdge>> extras;
  for (std::size_t k = 0; k < out.goalSnaps.size(); ++k) {
    const SnapCandidate& c = out.goalSnaps[k];
    startNode();
    out.virtualEdges_.push_back({out.GoalNode(), weights.offRoad * c.distance});
    const RoadSegment& s = roads.segments[static_cast<std::size_t>(c.segment)];
    const float cost = segmentCost(c);
    extras.push_back({s.first, {out.GoalSnapNode(k), cost * c.t}});
    extras.push_back({s.second, {out.GoalSnapNode(k), cost * (1 - c.t)}});
  }
  out.virtualStarts_.push_back(static_cast<std::uint32_t>(out.virtualEdges_.size()));
  std::stable_sort(extras.begin(), extras.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  for (const auto& [node, edge] : extras) {
    out.extraNodes_.push_back(node);
    out.extraEdges_.push_back(edge);
    const std::uint32_t bit = static_cast<std::uint32_t>(node) & (SearchGraph::kExtraFilterBits - 1);
    out.extraFilter_[bit / 64] |= std::uint64_t{1} << (bit % 64);
  }
  return true;
}

// ---- heap -----------------------------------------------------------------------------------------
//
// An array-based min-heap with four children per entry (half the levels of a binary heap), ordered
// by key: the estimate, then the smaller road node number. An entry is 16 bytes and the heap starts
// one entry before a 64-byte line, so the four children of an entry fill one line. The order of the
// entries it hands out is that order alone, whatever the arity.

namespace {

constexpr std::size_t kHeapArity = 4;
constexpr std::size_t kLineBytes = 64;

// Puts `entry` into the hole at `at`, or as far up as its key belongs, moving the parents it
// passes down.
template <class Entry> void RiseFrom(Entry* heap, std::size_t at, Entry entry) {
  while (at > 0) {
    const std::size_t parent = (at - 1) / kHeapArity;
    if (entry.key >= heap[parent].key) break;
    heap[at] = heap[parent];
    at = parent;
  }
  heap[at] = entry;
}

}  // namespace

void RouteSearch::GrowHeap() {
  std::vector<HeapEntry> bigger(std::max<std::size_t>(4096, 2 * heapStore_.size()));
  const auto address = reinterpret_cast<std::uintptr_t>(bigger.data()) + sizeof(HeapEntry);
  const std::size_t offset = (kLineBytes - address % kLineBytes) % kLineBytes / sizeof(HeapEntry);
  std::copy(heap_, heap_ + heapSize_, bigger.data() + offset);
  heapStore_.swap(bigger);
  heap_ = heapStore_.data() + offset;
  heapCapacity_ = heapStore_.size() - offset;
}

void RouteSearch::HeapPush(HeapEntry entry) {
  if (heapSize_ == heapCapacity_) GrowHeap();
  RiseFrom(heap_, heapSize_++, entry);
}

RouteSearch::HeapEntry RouteSearch::HeapPop() {
  HeapEntry* const heap = heap_;
  const HeapEntry top = heap[0];
  const std::size_t size = --heapSize_;
  if (size == 0) return top;
  const HeapEntry last = heap[size];
  // The hole goes down the smaller children all the way to the bottom, and the last entry, which
  // belongs near the bottom, rises from there: no comparison with it on the way down, whose
  // outcome the processor could not foresee.
  std::size_t at = 0;
  for (;;) {
    const std::size_t first = kHeapArity * at + 1;
    std::size_t child = first;
    if (first + kHeapArity <= size) {
      // All four children: the first smallest of each pair, then of the two, in arithmetic: which
      // child is smallest is a coin toss, so a branch on it would be mispredicted half the time.
      const std::uint64_t k0 = heap[first].key, k1 = heap[first + 1].key;
      const std::uint64_t k2 = heap[first + 2].key, k3 = heap[first + 3].key;
      const std::uint64_t s1 = k1 < k0, s3 = k3 < k2;
      const std::uint64_t ka = k0 ^ ((k0 ^ k1) & (0 - s1)), kb = k2 ^ ((k2 ^ k3) & (0 - s3));
      const std::uint64_t sb = kb < ka;
      child = first + s1 + ((2 + s3 - s1) & (0 - sb));
    } else if (first < size) {
      for (std::size_t c = first + 1; c < size; ++c) {
        if (heap[c].key < heap[child].key) child = c;
      }
    } else {
      break;
    }
    heap[at] = heap[child];
    at = child;
  }
  RiseFrom(heap, at, last);
  return top;
}

// ---- the search's copy of the graph ---------------------------------------------------------------

namespace {

// The map on a grid of 4096 x 4096 cells, numbered along a Hilbert curve.
constexpr std::uint32_t kGridBits = 12;
constexpr std::uint32_t kGridMask = (1u << kGridBits) - 1;

std::uint32_t HilbertIndex(std::uint32_t x, std::uint32_t y) {
  std::uint32_t index = 0;
  for (std::uint32_t s = 1u << (kGridBits - 1); s > 0; s >>= 1) {
    const std::uint32_t rx = (x & s) != 0 ? 1 : 0, ry = (y & s) != 0 ? 1 : 0;
    index += s * s * ((3 * rx) ^ ry);
    // In the lower half: mirrored when on the right, then x and y swapped.
    const std::uint32_t mirror = ry == 0 && rx == 1 ? kGridMask : 0;
    x ^= mirror;
    y ^= mirror;
    const std::uint32_t swap = ry == 0 ? x ^ y : 0;
    x ^= swap;
    y ^= swap;
  }
  return index;
}

// 0..4095 over [low, low + extent].
std::uint32_t GridCoordinate(float v, double low, double scale) {
  const double g = (static_cast<double>(v) - low) * scale;
  return g >= 0 && g <= kGridMask ? static_cast<std::uint32_t>(g) : (g > kGridMask ? kGridMask : 0u);
}

// Sorts (cell << 32 | node) by cell, keeping the order of equal cells: two passes of 12 bits.
void SortByCell(std::vector<std::uint64_t>& keys) {
  std::vector<std::uint64_t> sorted(keys.size());
  std::vector<std::uint32_t> starts(std::size_t{1} << kGridBits);
  for (const std::uint32_t shift : {32u, 32u + kGridBits}) {
    std::fill(starts.begin(), starts.end(), 0u);
    for (const std::uint64_t k : keys) ++starts[(k >> shift) & kGridMask];
    std::uint32_t sum = 0;
    for (std::uint32_t& s : starts) sum += std::exchange(s, sum);
    for (const std::uint64_t k : keys) sorted[starts[(k >> shift) & kGridMask]++] = k;
    keys.swap(sorted);
  }
}

}  // namespace

void RouteSearch::MakeNodeOrder(const RoadGraph& roads) {
  const std::size_t count = roads.nodes.size();
  double minX = 0, minZ = 0, maxX = 0, maxZ = 0;
  if (count > 0) {
    minX = maxX = roads.nodes[0].x;
    minZ = maxZ = roads.nodes[0].z;
  }
  for (const RoadNode& n : roads.nodes) {
    minX = std::min<double>(minX, n.x), maxX = std::max<double>(maxX, n.x);
    minZ = std::min<double>(minZ, n.z), maxZ = std::max<double>(maxZ, n.z);
  }
  const double extent = std::max(maxX - minX, maxZ - minZ);
  const double scale = extent > 0 && std::isfinite(extent) ? kGridMask / extent : 0.0;
  // Cell above road node, sorted; nodes of one cell keep the road graph's order.
  std::vector<std::uint64_t> keys(count);
  for (std::size_t i = 0; i < count; ++i) {
    const RoadNode& n = roads.nodes[i];
    const std::uint32_t h = HilbertIndex(GridCoordinate(n.x, minX, scale), GridCoordinate(n.z, minZ, scale));
    keys[i] = (std::uint64_t{h} << 32) | i;
  }
  SortByCell(keys);

  rank_.resize(count);
  state_.clear();
  state_.reserve(count + 2 + 2 * kSnapCount);
  marks_.resize(count);
  std::int32_t row = 0;
  for (std::size_t n = 0; n < count; ++n) {
    const auto road = static_cast<std::int32_t>(keys[n] & 0xffffffffu);
    const RoadNode& node = roads.nodes[static_cast<std::size_t>(road)];
    rank_[static_cast<std::size_t>(road)] = static_cast<std::int32_t>(n);
    state_.push_back({kUnreachedCost, road, node.x, node.z});
    marks_[n] = {0, row};
    row += static_cast<std::int32_t>(roads.Row(road).size());
  }
  edges_.resize(roads.adjacency.size());
  for (std::size_t n = 0; n < count; ++n) {
    SearchEdge* out = edges_.data() + marks_[n].rowStart;
    for (const AdjacencyEntry& e : roads.Row(state_[n].roadNode))
      (out++)->target = rank_[static_cast<std::size_t>(e.neighbour)];
  }
  predecessors_.assign(count, -1);
  edgeCostsValid_ = false;
}

void RouteSearch::MakeEdgeCosts(const RoadGraph& roads, const RouteWeights& weights) {
  const std::size_t count = roads.nodes.size();
  for (std::size_t r = 0; r < count; ++r) {
    SearchEdge* out = edges_.data() + marks_[static_cast<std::size_t>(rank_[r])].rowStart;
    for (const AdjacencyEntry& e : roads.Row(static_cast<std::int32_t>(r))) {
      const RoadSegment& s = roads.segments[static_cast<std::size_t>(e.segment)];
      (out++)->cost = weights.Factor(s.type) * s.length;
    }
  }
}

void RouteSearch::Prepare(const RoadGraph& roads) {
  if (orderGraph_ != &roads || orderNodes_ != roads.nodes.size() || orderNodeData_ != roads.nodes.data() ||
      orderEntries_ != roads.adjacency.size() || orderAdjacency_ != roads.adjacency.data()) {
    orderGraph_ = nullptr;  // until made whole: an exception part way leaves no usable copy
    MakeNodeOrder(roads);
    orderGraph_ = &roads;
    orderNodes_ = roads.nodes.size();
    orderNodeData_ = roads.nodes.data();
    orderEntries_ = roads.adjacency.size();
    orderAdjacency_ = roads.adjacency.data();
  }
}

void RouteSearch::PrepareTables(const RoadGraph& roads, const RouteWeights& weights) {
  Prepare(roads);
  if (!edgeCostsValid_ || edgeWeights_.road != weights.road) {
    MakeEdgeCosts(roads, weights);
    edgeWeights_ = weights;
    edgeCostsValid_ = true;
  }
}

const SearchGraph& RouteSearch::Graph() const {
  if (graph_.roads == nullptr) return graph_;
  const RoadGraph& roads = *graph_.roads;
  if (roadEdgesGraph_ != &roads || roadEdgesEntries_ != roads.adjacency.size() ||
      roadEdgesAdjacency_ != roads.adjacency.data() || roadEdgesWeights_.road != graph_.weights.road) {
    MakeRoadEdges(roads, graph_.weights, roadEdges_);
    roadEdgesGraph_ = &roads;
    roadEdgesEntries_ = roads.adjacency.size();
    roadEdgesAdjacency_ = roads.adjacency.data();
    roadEdgesWeights_ = graph_.weights;
  }
  graph_.roadEdgeTable = roadEdges_.data();
  return graph_;
}

// ---- search ---------------------------------------------------------------------------------------

RouteSearchResult RouteSearch::Find(const RoadGraph& roads, GroundPoint start, GroundPoint goal,
                                    const RouteWeights& weights, float directMaxDistance) {
  RouteSearchResult result;
  result.points = {start, goal};
  result.heights = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::quiet_NaN()};
  PrepareTables(roads, weights);
  if (!BuildSearchGraph(roads, start, goal, weights, nullptr, directMaxDistance, graph_)) return result;
  const SearchGraph& g = graph_;

  // The virtual nodes follow the road nodes, with this query's positions.
  const std::size_t count = static_cast<std::size_t>(g.NodeCount());
  state_.resize(count, NodeState{kUnreachedCost, 0, 0, 0});
  const auto tableEnd = static_cast<std::int32_t>(edges_.size());
  marks_.resize(count, Mark{0, tableEnd});
  predecessors_.resize(count, -1);
  if (++search_ == 0) {
    // The numbers wrapped: no mark may carry the new one.
    for (Mark& mark : marks_) mark.search = 0;
    search_ = 1;
  }
  const std::uint32_t number = search_;
  for (std::int32_t n = g.RoadNodeCount(); n < g.NodeCount(); ++n) {
    const GroundPoint p = g.Position(n);
    state_[static_cast<std::size_t>(n)] = {kUnreachedCost, n, p.x, p.z};
  }
  heapSize_ = 0;

  const std::int32_t roadCount = g.RoadNodeCount(), goalNode = g.GoalNode();
  const SearchEdge* const edges = edges_.data();
  const std::int32_t* const rank = rank_.data();
  const float m = g.heuristicFactor;
  NodeState* const state = state_.data();
  Mark* const marks = marks_.data();
  std::int32_t* const predecessors = predecessors_.data();
  // Estimates are >= 0 (weights are), and a float >= 0 orders as its bits do.
  const auto key = [](float estimate, std::int32_t roadNode) {
    return (std::uint64_t{std::bit_cast<std::uint32_t>(estimate)} << 32) | static_cast<std::uint32_t>(roadNode);
  };

  std::int32_t from = 0;
  float fromCost = 0;
  const auto relax = [&](std::int32_t v, float cost) {
    const float c = fromCost + cost;
    NodeState& sv = state[v];
    Mark& mv = marks[v];
    if ((mv.search == number ? sv.best : kUnreachedCost) > c) {
      mv.search = number;
      predecessors[v] = from;
      sv.best = c;
      // v is likely the next node expanded (road rows are mostly chains): fetch its row now.
      __builtin_prefetch(&edges[mv.rowStart]);
      HeapPush({key(m * GroundDistance({sv.x, sv.z}, goal) + c, sv.roadNode), v, c});
    }
  };

  const std::int32_t startNode = g.StartNode();
  state[startNode].best = 0;
  marks[startNode].search = number;
  predecessors[startNode] = -1;
  HeapPush({key(g.Estimate(startNode), startNode), startNode, 0});
  while (heapSize_ > 0) {
    const HeapEntry top = HeapPop();
    if (top.node == goalNode) break;
    // The search is bound by cache misses: start fetching what the next expansion reads while this
    // one runs.
    // The heap's top is the next node taken most of the time; its row was fetched when it was
    // pushed, so its neighbours' records can be asked for now.
    if (heapSize_ > 0) {
      const std::int32_t next = heap_[0].node;
      __builtin_prefetch(&state[next]);
      if (next < roadCount) {
        for (std::int32_t i = marks[next].rowStart, end = marks[next + 1].rowStart; i < end; ++i) {
          __builtin_prefetch(&state[edges[i].target]);
          __builtin_prefetch(&marks[edges[i].target]);
        }
      }
    }
    // Each push carries the cost it was made for, and best() only ever falls: an entry is stale
    // exactly when a cheaper push for its node came after it. (Comparing the estimate minus the
    // node's estimate against best() with a fixed tolerance fails once estimates grow past a few
    // thousand metres: float rounding of the sum exceeds the tolerance and live entries are lost.)
    if (top.cost != state[top.node].best) continue;
    ++result.settled;
    from = top.node;
    fromCost = top.cost;
    if (from < roadCount) {
      const std::int32_t first = marks[from].rowStart, end = marks[from + 1].rowStart;
      for (std::int32_t i = first; i < end; ++i) {
        __builtin_prefetch(&state[edges[i].target]);
        __builtin_prefetch(&marks[edges[i].target]);
      }
      for (std::int32_t i = first; i < end; ++i) relax(edges[i].target, edges[i].cost);
      // The extra edges lead onto goal snap nodes, whose numbers are their own.
      const auto road = static_cast<std::int32_t>(top.key & 0xffffffffu);
      if (g.MayHaveExtraEdges(road)) {
        for (const SearchEdge& e : g.ExtraEdges(road)) relax(e.target, e.cost);
      }
    } else {
      for (const SearchEdge& e : g.VirtualEdges(from)) relax(e.target < roadCount ? rank[e.target] : e.target, e.cost);
    }
  }
  return WalkBack(roads, result);
}

RouteSearchResult RouteSearch::WalkBack(const RoadGraph& roads, RouteSearchResult& result) const {
  const SearchGraph& g = graph_;
  const RoadNode* const nodes = roads.nodes.data();
  const RoadSegment* const segments = roads.segments.data();
  const std::int32_t roadCount = g.RoadNodeCount(), goalNode = g.GoalNode();
  if (!Reached(goalNode)) return std::move(result);

  // ---- walk back ----------------------------------------------------------------------------------
  // Over search nodes; each is read in the road graph's numbering.
  result.points.clear();
  result.heights.clear();
  const std::size_t startSnapCount = g.startSnaps.size();
  for (std::int32_t at = goalNode, steps = 0; at >= 0 && steps <= g.NodeCount();
       at = predecessors_[static_cast<std::size_t>(at)], ++steps) {
    const std::int32_t n = RoadNodeOf(at);
    result.points.push_back(g.Position(n));
    float height = std::numeric_limits<float>::quiet_NaN();
    if (n < roadCount) {
      height = nodes[n].y;
      const std::int32_t before = predecessors_[static_cast<std::size_t>(at)];
      if (before >= 0 && before < roadCount) {
        const std::int32_t p = RoadNodeOf(before);
        for (const AdjacencyEntry& e : roads.Row(n)) {
          if (e.neighbour != p) continue;
          const RoadSegment& s = segments[e.segment];
          result.lengthByType[static_cast<std::size_t>(s.type)] += s.length;
          break;
        }
      }
    } else if (n >= g.StartSnapNode(0)) {
      const std::size_t snap = static_cast<std::size_t>(n - roadCount - 2);
      const SnapCandidate& c = snap < startSnapCount ? g.startSnaps[snap] : g.goalSnaps[snap - startSnapCount];
      const RoadSegment& s = segments[c.segment];
      const float ya = nodes[s.first].y, yb = nodes[s.second].y;
      height = ya + (yb - ya) * c.t;
    }
    result.heights.push_back(height);
  }
  std::reverse(result.points.begin(), result.points.end());
  std::reverse(result.heights.begin(), result.heights.end());
  result.found = true;
  result.cost = state_[static_cast<std::size_t>(goalNode)].best;
  return std::move(result);
}

void LogRoadTypeLengths(const std::array<float, kRoadTypeCount>& m) {
  Log("Route: by road type (m): main %.0f, wide %.0f, wagon %.0f, horse %.0f, sidewalk %.0f, to-sidewalk %.0f, link "
      "%.0f",
      static_cast<double>(m[0]), static_cast<double>(m[1]), static_cast<double>(m[2]), static_cast<double>(m[3]),
      static_cast<double>(m[4]), static_cast<double>(m[5]), static_cast<double>(m[6]));
}

// ---- FindRoute ------------------------------------------------------------------------------------

std::vector<GroundPoint> FindRoute(GroundPoint start, GroundPoint goal, const RouteWeights& weights,
                                   float directMaxDistance, std::vector<float>* heights, RouteSearchResult* details) {
  RouteSearchResult result;
  if (RoadsAreReady()) {
    result = Routing().search.Find(RoadNetwork(), start, goal, weights, directMaxDistance);
  } else {
    result.points = {start, goal};
    result.heights = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::quiet_NaN()};
  }
  if (result.found) LogRoadTypeLengths(result.lengthByType);
  if (details != nullptr) *details = result;
  if (heights != nullptr) *heights = std::move(result.heights);
  return std::move(result.points);
}

void PrepareRouteSearch() {
  if (RoadsAreReady()) Routing().search.Prepare(RoadNetwork());
}

}  // namespace pathlight
