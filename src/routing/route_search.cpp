// Sections: the search graph of a query, the heap, the search, the walk back, FindRoute.
#include "routing/route_search.hpp"

#include <algorithm>
#include <limits>

#include "host/log.hpp"
#include "host/settings.hpp"
#include "roads/road_loader.hpp"

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

bool BuildSearchGraph(const RoadGraph& roads, GroundPoint start, GroundPoint goal, const RouteWeights& weights, float directMaxDistance,
                      SearchGraph& out) {
  out.roads = &roads;
  out.weights = weights;
  out.heuristicFactor = weights.Smallest();
  out.start = start;
  out.goal = goal;
  out.startSnaps = FindNearbySegments(roads, start.x, start.z, kSnapRadius, kSnapCount, kSnapSlack);
  out.goalSnaps = FindNearbySegments(roads, goal.x, goal.z, kSnapRadius, kSnapCount, kSnapSlack);
  out.virtualStarts_.clear();
  out.virtualEdges_.clear();
  out.extraNodes_.clear();
  out.extraEdges_.clear();
  out.extraMask_ = 0;
  if (out.startSnaps.empty() || out.goalSnaps.empty()) return false;

  const auto segmentCost = [&](const SnapCandidate& c) {
    const RoadSegment& s = roads.segments[static_cast<std::size_t>(c.segment)];
    return weights.Road(s.type) * s.length;
  };
  const auto startNode = [&]() {
    out.virtualStarts_.push_back(static_cast<std::uint32_t>(out.virtualEdges_.size()));
  };

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
      if (out.goalSnaps[k].segment == c.segment) out.virtualEdges_.push_back({out.GoalSnapNode(k), cost * std::fabs(c.t - out.goalSnaps[k].t)});
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
    out.extraMask_ |= std::uint64_t{1} << (static_cast<std::uint32_t>(node) & 63u);
  }
  return true;
}

// ---- heap -----------------------------------------------------------------------------------------
//
// A binary min-heap ordered by estimate, then by the smaller node number.

namespace {

struct Before {
  template <class E>
  bool operator()(const E& a, const E& b) const {
    return a.estimate < b.estimate || (a.estimate == b.estimate && a.node < b.node);
  }
};

}  // namespace

void RouteSearch::Push(HeapEntry entry) {
  std::size_t at = heap_.size();
  heap_.push_back(entry);
  while (at > 0) {
    const std::size_t parent = (at - 1) / 2;
    if (!Before{}(entry, heap_[parent])) break;
    heap_[at] = heap_[parent];
    at = parent;
  }
  heap_[at] = entry;
}

RouteSearch::HeapEntry RouteSearch::Pop() {
  const HeapEntry top = heap_.front();
  const HeapEntry last = heap_.back();
  heap_.pop_back();
  const std::size_t size = heap_.size();
  if (size == 0) return top;
  std::size_t at = 0;
  for (;;) {
    std::size_t child = 2 * at + 1;
    if (child >= size) break;
    if (child + 1 < size && Before{}(heap_[child + 1], heap_[child])) ++child;
    if (!Before{}(heap_[child], last)) break;
    heap_[at] = heap_[child];
    at = child;
  }
  heap_[at] = last;
  return top;
}

// ---- search ---------------------------------------------------------------------------------------

RouteSearchResult RouteSearch::Find(const RoadGraph& roads, GroundPoint start, GroundPoint goal, const RouteWeights& weights,
                                    float directMaxDistance) {
  RouteSearchResult result;
  result.points = {start, goal};
  result.heights = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::quiet_NaN()};
  if (!BuildSearchGraph(roads, start, goal, weights, directMaxDistance, graph_)) return result;
  const SearchGraph& g = graph_;

  const std::size_t count = static_cast<std::size_t>(g.NodeCount());
  best_.assign(count, kUnreachedCost);
  predecessor_.assign(count, -1);
  heap_.clear();

  const std::int32_t roadCount = g.RoadNodeCount(), goalNode = g.GoalNode();
  const RoadNode* const nodes = roads.nodes.data();
  const RoadSegment* const segments = roads.segments.data();
  const float m = g.heuristicFactor;
  float* const best = best_.data();
  std::int32_t* const predecessor = predecessor_.data();

  std::int32_t from = 0;
  float fromCost = 0;
  const auto relax = [&](std::int32_t v, float cost, GroundPoint position) {
    const float c = fromCost + cost;
    if (best[v] > c) {
      best[v] = c;
      predecessor[v] = from;
      Push({m * GroundDistance(position, goal) + c, v, c});
    }
  };

  best[g.StartNode()] = 0;
  Push({g.Estimate(g.StartNode()), g.StartNode(), 0});
  while (!heap_.empty()) {
    const HeapEntry top = Pop();
    if (top.node == goalNode) break;
    // Each push carries the cost it was made for, and best() only ever falls: an entry is stale
    // exactly when a cheaper push for its node came after it. (Comparing the estimate minus the
    // node's estimate against best() with a fixed tolerance fails once estimates grow past a few
    // thousand metres: float rounding of the sum exceeds the tolerance and live entries are lost.)
    if (top.cost != best[top.node]) continue;
    ++result.settled;
    from = top.node;
    fromCost = top.cost;
    if (from < roadCount) {
      for (const AdjacencyEntry& e : roads.Row(from)) {
        const RoadSegment& s = segments[e.segment];
        const RoadNode& v = nodes[e.neighbour];
        relax(e.neighbour, weights.Road(s.type) * s.length, {v.x, v.z});
      }
      if (g.MayHaveExtraEdges(from)) {
        for (const SearchEdge& e : g.ExtraEdges(from)) relax(e.target, e.cost, g.Position(e.target));
      }
    } else {
      for (const SearchEdge& e : g.VirtualEdges(from)) relax(e.target, e.cost, g.Position(e.target));
    }
  }
  if (predecessor[goalNode] < 0) return result;

  // ---- walk back ----------------------------------------------------------------------------------
  result.points.clear();
  result.heights.clear();
  const std::size_t startSnapCount = g.startSnaps.size();
  for (std::int32_t n = goalNode, steps = 0; n >= 0 && steps <= g.NodeCount(); n = predecessor[n], ++steps) {
    result.points.push_back(g.Position(n));
    float height = std::numeric_limits<float>::quiet_NaN();
    if (n < roadCount) {
      height = nodes[n].y;
      const std::int32_t p = predecessor[n];
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
  result.cost = best[goalNode];
  return result;
}

void LogRoadTypeLengths(const std::array<float, kRoadTypeCount>& m) {
  Log("Route: by road type (m): main %.0f, wide %.0f, wagon %.0f, horse %.0f, sidewalk %.0f, to-sidewalk %.0f, link %.0f",
      static_cast<double>(m[0]), static_cast<double>(m[1]), static_cast<double>(m[2]), static_cast<double>(m[3]),
      static_cast<double>(m[4]), static_cast<double>(m[5]), static_cast<double>(m[6]));
}

// ---- FindRoute ------------------------------------------------------------------------------------

std::vector<GroundPoint> FindRoute(GroundPoint start, GroundPoint goal, const RouteWeights& weights, std::vector<float>* heights,
                                   RouteSearchResult* details) {
  // One search at a time: the route worker is the only caller.
  static RouteSearch search;
  RouteSearchResult result;
  if (RoadsAreReady()) {
    result = search.Find(PublishedRoadGraph(), start, goal, weights, g_settings.directMaxDistance);
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
