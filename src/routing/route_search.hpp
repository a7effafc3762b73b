// The route search: an A* search from a start point to a goal point over the road graph plus a
// handful of virtual nodes made per query (the start, the goal, and the points where each is
// snapped onto the nearest roads), with costs of metres times a weight per road type.
//
// RouteSearch owns the scratch arrays and is reused from one search to the next; it is not safe
// to run two searches on one object at once. It also keeps tables made from the graph it last
// searched (its own copy of the graph, in a node order of its own, with costs): they are made
// again when it is given another graph, but a graph changed in place after a search needs a fresh
// RouteSearch (the library's graph never changes once published). FindRoute is the library's
// search over the published graph, with one process-wide RouteSearch, called by the route worker
// thread only.
//
// The search graph of a query is exposed (SearchGraph) so that an independent search, in the
// tests and the benchmark, runs over exactly the same nodes, edges and costs.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <span>
#include <vector>

#include "roads/road_graph.hpp"
#include "routing/route.hpp"

namespace pathlight {

// Snapping: roads within this reach of the start and of the goal, at most this many, none
// farther than the nearest one plus the slack.
inline constexpr float kSnapRadius = 150.0f;
inline constexpr int kSnapCount = 6;
inline constexpr float kSnapSlack = 50.0f;

// The cost standing for "not reached yet".
inline constexpr float kUnreachedCost = 1e30f;

// Horizontal distance, rounded once to float from a double computation, so that every user of
// it (edges, estimates, the oracle) gets the same value for the same two points.
[[nodiscard]] inline float GroundDistance(GroundPoint a, GroundPoint b) {
  const double dx = static_cast<double>(a.x) - b.x, dz = static_cast<double>(a.z) - b.z;
  return static_cast<float>(std::sqrt(dx * dx + dz * dz));
}

struct SearchEdge {
  std::int32_t target;
  float cost;
};

// The nodes and edges of one query. Node numbers: the N road nodes first, then the start (N),
// the goal (N + 1), one node per start candidate, one per goal candidate.
class SearchGraph {
 public:
  const RoadGraph* roads = nullptr;
  RouteWeights weights;
  // The road graph's adjacency with costs: per adjacency entry, its neighbour and its segment's
  // weight times length, in adjacency order (MakeRoadEdges); RoadEdges(n) is one node's row of it.
  const SearchEdge* roadEdgeTable = nullptr;
  float heuristicFactor = 0;  // the smallest weight
  GroundPoint start{};
  GroundPoint goal{};
  std::vector<SnapCandidate> startSnaps;
  std::vector<SnapCandidate> goalSnaps;

  [[nodiscard]] std::int32_t RoadNodeCount() const { return static_cast<std::int32_t>(roads->nodes.size()); }
  [[nodiscard]] std::int32_t StartNode() const { return RoadNodeCount(); }
  [[nodiscard]] std::int32_t GoalNode() const { return RoadNodeCount() + 1; }
  [[nodiscard]] std::int32_t StartSnapNode(std::size_t j) const {
    return RoadNodeCount() + 2 + static_cast<std::int32_t>(j);
  }
  [[nodiscard]] std::int32_t GoalSnapNode(std::size_t k) const {
    return RoadNodeCount() + 2 + static_cast<std::int32_t>(startSnaps.size() + k);
  }
  [[nodiscard]] std::int32_t NodeCount() const { return GoalSnapNode(goalSnaps.size()); }
  [[nodiscard]] bool IsRoadNode(std::int32_t n) const { return n < RoadNodeCount(); }

  [[nodiscard]] GroundPoint Position(std::int32_t n) const;
  // The A* estimate: the smallest weight times the straight distance to the goal.
  [[nodiscard]] float Estimate(std::int32_t n) const { return heuristicFactor * GroundDistance(Position(n), goal); }
  // A road node's adjacency row with costs.
  [[nodiscard]] std::span<const SearchEdge> RoadEdges(std::int32_t n) const {
    const std::int32_t first = roads->rowStarts[static_cast<std::size_t>(n)],
                       last = roads->rowStarts[static_cast<std::size_t>(n) + 1];
    return {roadEdgeTable + first, static_cast<std::size_t>(last - first)};
  }
  // The edges leaving a virtual node (n >= N).
  [[nodiscard]] std::span<const SearchEdge> VirtualEdges(std::int32_t n) const {
    const std::size_t i = static_cast<std::size_t>(n - RoadNodeCount());
    return {virtualEdges_.data() + virtualStarts_[i], virtualStarts_[i + 1] - virtualStarts_[i]};
  }
  // The extra edges from a road node onto goal snap nodes, in the order they were made.
  [[nodiscard]] std::span<const SearchEdge> ExtraEdges(std::int32_t n) const;
  [[nodiscard]] bool MayHaveExtraEdges(std::int32_t n) const {
    const std::uint32_t bit = static_cast<std::uint32_t>(n) & (kExtraFilterBits - 1);
    return (extraFilter_[bit / 64] >> (bit % 64)) & 1u;
  }

  // Every edge leaving n, in search order: a road node's adjacency row, then its extra edges.
  template <class F> void ForEachEdge(std::int32_t n, F&& visit) const {
    if (IsRoadNode(n)) {
      for (const SearchEdge& e : RoadEdges(n)) visit(e.target, e.cost);
      if (MayHaveExtraEdges(n)) {
        for (const SearchEdge& e : ExtraEdges(n)) visit(e.target, e.cost);
      }
    } else {
      for (const SearchEdge& e : VirtualEdges(n)) visit(e.target, e.cost);
    }
  }

 private:
  friend bool BuildSearchGraph(const RoadGraph&, GroundPoint, GroundPoint, const RouteWeights&, const SearchEdge*,
                               float, SearchGraph&);
  std::vector<std::uint32_t> virtualStarts_;
  std::vector<SearchEdge> virtualEdges_;
  // Sorted by road node, each node's edges in the order made; few (two per goal candidate).
  std::vector<std::int32_t> extraNodes_;
  std::vector<SearchEdge> extraEdges_;
  // Bit (node mod 4096) set for every node with extra edges: a cheap test before the look-up,
  // which almost every expanded road node fails.
  static constexpr std::uint32_t kExtraFilterBits = 4096;
  std::array<std::uint64_t, kExtraFilterBits / 64> extraFilter_{};
};

// Snaps start and goal and makes the virtual nodes and edges; false when either has no road
// within reach (the search then answers the straight line). roadEdgeTable: the table of
// MakeRoadEdges for these roads and weights.
[[nodiscard]] bool BuildSearchGraph(const RoadGraph& roads, GroundPoint start, GroundPoint goal,
                                    const RouteWeights& weights, const SearchEdge* roadEdgeTable,
                                    float directMaxDistance, SearchGraph& out);

// Every adjacency entry as (neighbour, weight of its segment's type times the segment's length),
// so that a search reads a row's costs in the row instead of fetching each segment.
void MakeRoadEdges(const RoadGraph& roads, const RouteWeights& weights, std::vector<SearchEdge>& edges);

struct RouteSearchResult {
  std::vector<GroundPoint> points;                   // start first, goal last
  std::vector<float> heights;                        // one per point; NaN at both ends
  bool found = false;                                // false: the straight line [start, goal]
  float cost = NAN;                                  // the best cost at the goal; NaN for the straight line
  std::array<float, kRoadTypeCount> lengthByType{};  // metres of road per type along the route
  std::size_t settled = 0;                           // nodes expanded
};

class RouteSearch {
 public:
  [[nodiscard]] RouteSearchResult Find(const RoadGraph& roads, GroundPoint start, GroundPoint goal,
                                       const RouteWeights& weights, float directMaxDistance);
  // Makes the search's own copy of these roads (below) but for its costs, the bulk of what the
  // first search over them would otherwise make (about a third of a second for two million nodes):
  // the route worker calls it once the roads are published, so that its first route does not wait
  // for it. The costs under a set of weights are made by the first search with them.
  void Prepare(const RoadGraph& roads);
  // The search graph of the last query (meaningful when its result was found), in the road graph's
  // own node numbering; its costed adjacency is made on the first call after the roads or the
  // weights changed (only the tests and the benchmark ask for it).
  [[nodiscard]] const SearchGraph& Graph() const;

 private:
  // key: the estimate's bits (a float >= 0 orders as its bits do) above the node's number in the
  // road graph, so that one comparison orders by estimate, then by the smaller node number.
  struct alignas(16) HeapEntry {
    std::uint64_t key;
    std::int32_t node;  // in the search's own numbering
    float cost;         // best(node) when pushed: a later improvement makes the entry stale
  };
  // What a relaxation reads about a node, but for its mark (below), in one 16-byte record: best
  // cost, the node's number in the road graph (the heap's tie order), and the ground position the
  // estimate needs.
  struct NodeState {
    float best;
    std::int32_t roadNode;
    float x;
    float z;
  };
  void HeapPush(HeapEntry entry);
  HeapEntry HeapPop();
  void GrowHeap();
  void MakeNodeOrder(const RoadGraph& roads);
  void MakeEdgeCosts(const RoadGraph& roads, const RouteWeights& weights);
  void PrepareTables(const RoadGraph& roads, const RouteWeights& weights);
  [[nodiscard]] std::int32_t RoadNodeOf(std::int32_t n) const { return state_[static_cast<std::size_t>(n)].roadNode; }
  RouteSearchResult WalkBack(const RoadGraph& roads, RouteSearchResult& result) const;

  // The query's graph; roadEdgeTable is filled in by Graph().
  mutable SearchGraph graph_;

  // The search's own copy of the road graph: its nodes in the order of a Hilbert curve over the
  // map, so that nodes near each other on the ground, which one search settles one after another,
  // lie near each other in memory; made once per road graph (MakeNodeOrder), the costs once per
  // weights (MakeEdgeCosts). Numbers in it are "search nodes": road node r is search node rank_[r]
  // and search node n is road node state_[n].roadNode; the virtual nodes keep their numbers. The
  // rows keep the road graph's adjacency order, and the heap orders by road node numbers, so the
  // search expands the same nodes in the same order as it would over the road graph itself.
  const RoadGraph* orderGraph_ = nullptr;
  std::size_t orderNodes_ = 0;
  const RoadNode* orderNodeData_ = nullptr;
  std::size_t orderEntries_ = 0;
  const AdjacencyEntry* orderAdjacency_ = nullptr;
  std::vector<std::int32_t> rank_;
  std::vector<SearchEdge> edges_;  // targets are search nodes
  bool edgeCostsValid_ = false;
  RouteWeights edgeWeights_{};

  // A node's best cost and predecessor are its own only while its mark carries this search's
  // number; with any other it is unreached. So a search starts without resetting what the last one
  // reached (nor leaves anything behind when an exception cuts it short). Beside the number, the
  // mark holds where the node's row starts in edges_ (its row ends where the next node's starts;
  // every virtual node's is the table's end), so that the relaxation that reads the mark can fetch
  // the row without another look-up.
  struct Mark {
    std::uint32_t search;
    std::int32_t rowStart;
  };
  [[nodiscard]] bool Reached(std::int32_t n) const { return marks_[static_cast<std::size_t>(n)].search == search_; }
  std::vector<NodeState> state_;
  std::vector<Mark> marks_;
  std::vector<std::int32_t> predecessors_;  // written on each improvement, read by the walk back
  std::uint32_t search_ = 0;

  // A four-ary heap whose four children of an entry share one 64-byte line: heap_ points into
  // heapStore_ where entry 1 starts a line.
  std::vector<HeapEntry> heapStore_;
  HeapEntry* heap_ = nullptr;
  std::size_t heapSize_ = 0;
  std::size_t heapCapacity_ = 0;

  // The costed adjacency in the road graph's numbering, for Graph().
  mutable std::vector<SearchEdge> roadEdges_;
  mutable const RoadGraph* roadEdgesGraph_ = nullptr;
  mutable std::size_t roadEdgesEntries_ = 0;
  mutable const AdjacencyEntry* roadEdgesAdjacency_ = nullptr;
  mutable RouteWeights roadEdgesWeights_{};
};

// "Route: by road type (m): main %.0f, ..." for a found route's lengths.
void LogRoadTypeLengths(const std::array<float, kRoadTypeCount>& lengths);

// The library's search over the published graph, with the pass's [Routing] DirectMaxDistance:
// the straight line [start, goal] while roads are not ready. heights (when given)
// receives one height per returned point; details (when given) the whole result. Logs the
// per-type line for a found route. Route worker thread only.
[[nodiscard]] std::vector<GroundPoint> FindRoute(GroundPoint start, GroundPoint goal, const RouteWeights& weights,
                                                 float directMaxDistance, std::vector<float>* heights,
                                                 RouteSearchResult* details = nullptr);

// RouteSearch::Prepare of the library's search for the published graph; nothing while roads are
// not ready. Route worker thread only.
void PrepareRouteSearch();

}  // namespace pathlight
