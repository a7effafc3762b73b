// Sections: the search graph of a query, the heap, the search, the walk back, FindRoute.
#include "routing/route_search.hpp"

#include <algorithm>
#include <limits>

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
// An array-based min-heap with four children per entry (half the levels of a binary heap, and the
// four children of an entry share a cache line or two), ordered by estimate, then by the smaller
// node number. The order of the entries it hands out is that order alone, whatever the arity.

namespace {

constexpr std::size_t kHeapArity = 4;

struct Before {
  template <class E> bool operator()(const E& a, const E& b) const {
    return a.estimate < b.estimate || (a.estimate == b.estimate && a.node < b.node);
  }
};

}  // namespace

void RouteSearch::Push(HeapEntry entry) {
  std::size_t at = heap_.size();
  heap_.push_back(entry);
  HeapEntry* const heap = heap_.data();
  while (at > 0) {
    const std::size_t parent = (at - 1) / kHeapArity;
    if (!Before{}(entry, heap[parent])) break;
    heap[at] = heap[parent];
    at = parent;
  }
  heap[at] = entry;
}

RouteSearch::HeapEntry RouteSearch::Pop() {
  const HeapEntry top = heap_.front();
  const HeapEntry last = heap_.back();
  heap_.pop_back();
  const std::size_t size = heap_.size();
  if (size == 0) return top;
  HeapEntry* const heap = heap_.data();
  std::size_t at = 0;
  for (;;) {
    const std::size_t first = kHeapArity * at + 1;
    if (first >= size) break;
    std::size_t child = first;
    const std::size_t end = std::min(first + kHeapArity, size);
    for (std::size_t c = first + 1; c < end; ++c) {
      if (Before{}(heap[c], heap[child])) child = c;
    }
    if (!Before{}(heap[child], last)) break;
    heap[at] = heap[child];
    at = child;
  }
  heap[at] = last;
  return top;
}

// ---- search ---------------------------------------------------------------------------------------

void RouteSearch::PrepareTables(const RoadGraph& roads, const RouteWeights& weights) {
  if (roadEdgesGraph_ != &roads || roadEdgesEntries_ != roads.adjacency.size() ||
      roadEdgesAdjacency_ != roads.adjacency.data() || roadEdgesWeights_.road != weights.road) {
    MakeRoadEdges(roads, weights, roadEdges_);
    roadEdgesGraph_ = &roads;
    roadEdgesEntries_ = roads.adjacency.size();
    roadEdgesAdjacency_ = roads.adjacency.data();
    roadEdgesWeights_ = weights;
  }
  if (stateGraph_ != &roads || stateNodes_ != roads.nodes.size() || stateNodeData_ != roads.nodes.data()) {
    touched_.clear();
    state_.clear();
    state_.reserve(roads.nodes.size() + 2 + 2 * kSnapCount);
    for (const RoadNode& n : roads.nodes) state_.push_back({kUnreachedCost, -1, n.x, n.z});
    stateGraph_ = &roads;
    stateNodes_ = roads.nodes.size();
    stateNodeData_ = roads.nodes.data();
  }
}

RouteSearchResult RouteSearch::Find(const RoadGraph& roads, GroundPoint start, GroundPoint goal,
                                    const RouteWeights& weights, float directMaxDistance) {
  RouteSearchResult result;
  result.points = {start, goal};
  result.heights = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::quiet_NaN()};
  // What the last search touched is reset now rather than at its end, so that a search cut short
  // by an exception (out of memory) leaves nothing behind either.
  for (const std::int32_t n : touched_) {
    state_[static_cast<std::size_t>(n)].best = kUnreachedCost;
    state_[static_cast<std::size_t>(n)].predecessor = -1;
  }
  touched_.clear();
  PrepareTables(roads, weights);
  if (!BuildSearchGraph(roads, start, goal, weights, roadEdges_.data(), directMaxDistance, graph_)) return result;
  const SearchGraph& g = graph_;

  // The virtual nodes follow the road nodes, with this query's positions.
  const std::size_t count = static_cast<std::size_t>(g.NodeCount());
  state_.resize(count, NodeState{kUnreachedCost, -1, 0, 0});
  for (std::int32_t n = g.RoadNodeCount(); n < g.NodeCount(); ++n) {
    const GroundPoint p = g.Position(n);
    state_[static_cast<std::size_t>(n)] = {kUnreachedCost, -1, p.x, p.z};
  }
  heap_.clear();

  const std::int32_t roadCount = g.RoadNodeCount(), goalNode = g.GoalNode();
  const RoadNode* const nodes = roads.nodes.data();
  const RoadSegment* const segments = roads.segments.data();
  const SearchEdge* const roadEdges = roadEdges_.data();
  const std::int32_t* const rowStarts = roads.rowStarts.data();
  const float m = g.heuristicFactor;
  NodeState* const state = state_.data();

  std::int32_t from = 0;
  float fromCost = 0;
  const auto relax = [&](std::int32_t v, float cost) {
    const float c = fromCost + cost;
    NodeState& sv = state[v];
    if (sv.best > c) {
      if (sv.best == kUnreachedCost) touched_.push_back(v);
      sv.best = c;
      sv.predecessor = from;
      Push({m * GroundDistance({sv.x, sv.z}, goal) + c, v, c});
    }
  };

  touched_.push_back(g.StartNode());
  state[g.StartNode()].best = 0;
  Push({g.Estimate(g.StartNode()), g.StartNode(), 0});
  while (!heap_.empty()) {
    const HeapEntry top = Pop();
    if (top.node == goalNode) break;
    // The search is bound by cache misses on nodes scattered over the graph: start fetching what
    // the next expansion reads while this one runs.
    if (!heap_.empty()) {
      const std::int32_t next = heap_.front().node;
      __builtin_prefetch(&state[next]);
      if (next < roadCount) __builtin_prefetch(&rowStarts[next]);
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
      const std::int32_t first = rowStarts[from], end = rowStarts[from + 1];
      for (std::int32_t i = first; i < end; ++i) __builtin_prefetch(&state[roadEdges[i].target]);
      for (std::int32_t i = first; i < end; ++i) relax(roadEdges[i].target, roadEdges[i].cost);
      if (g.MayHaveExtraEdges(from)) {
        for (const SearchEdge& e : g.ExtraEdges(from)) relax(e.target, e.cost);
      }
    } else {
      for (const SearchEdge& e : g.VirtualEdges(from)) relax(e.target, e.cost);
    }
  }
  return WalkBack(roads, segments, nodes, result);
}

RouteSearchResult RouteSearch::WalkBack(const RoadGraph& roads, const RoadSegment* segments, const RoadNode* nodes,
                                        RouteSearchResult& result) const {
  const SearchGraph& g = graph_;
  const NodeState* const state = state_.data();
  const std::int32_t roadCount = g.RoadNodeCount(), goalNode = g.GoalNode();
  if (state[goalNode].predecessor < 0) return std::move(result);

  // ---- walk back ----------------------------------------------------------------------------------
  result.points.clear();
  result.heights.clear();
  const std::size_t startSnapCount = g.startSnaps.size();
  for (std::int32_t n = goalNode, steps = 0; n >= 0 && steps <= g.NodeCount(); n = state[n].predecessor, ++steps) {
    result.points.push_back(g.Position(n));
    float height = std::numeric_limits<float>::quiet_NaN();
    if (n < roadCount) {
      height = nodes[n].y;
      const std::int32_t p = state[n].predecessor;
      if (p >= 0 && p < roadCount) {
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
  result.cost = state[goalNode].best;
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

}  // namespace pathlight
