// The route search's graph of one query as a Boost Graph Library graph (incidence and vertex
// list), so that BGL's own Dijkstra and A* run over exactly the nodes, edges and costs the
// library's search walks: the independent search of the route oracle test and of the benchmark.
#pragma once

#include <boost/graph/astar_search.hpp>
#include <boost/graph/dijkstra_shortest_paths_no_color_map.hpp>
#include <boost/graph/graph_traits.hpp>
#include <boost/iterator/counting_iterator.hpp>
#include <boost/iterator/iterator_facade.hpp>
#include <boost/property_map/function_property_map.hpp>
#include <boost/property_map/property_map.hpp>

#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "routing/route_search.hpp"

namespace pathlight::bgl {

struct SearchGraphView {
  const SearchGraph* graph;
};

struct Edge {
  std::int32_t source = -1;
  std::int32_t target = -1;
  float cost = 0;
  bool operator==(const Edge& other) const {
    return source == other.source && target == other.target && cost == other.cost;
  }
};

// A road node's costed adjacency row, then its extra edges; a virtual node's edge list alone.
class OutEdgeIterator : public boost::iterator_facade<OutEdgeIterator, Edge, std::forward_iterator_tag, Edge> {
 public:
  OutEdgeIterator() = default;
  OutEdgeIterator(std::int32_t source, const SearchEdge* row, const SearchEdge* rowEnd, const SearchEdge* edge)
      : source_(source), row_(row), rowEnd_(rowEnd), edge_(edge) {}

 private:
  friend class boost::iterator_core_access;
  [[nodiscard]] Edge dereference() const {
    const SearchEdge& e = row_ != rowEnd_ ? *row_ : *edge_;
    return {source_, e.target, e.cost};
  }
  void increment() {
    if (row_ != rowEnd_) {
      ++row_;
    } else {
      ++edge_;
    }
  }
  [[nodiscard]] bool equal(const OutEdgeIterator& other) const { return row_ == other.row_ && edge_ == other.edge_; }

  std::int32_t source_ = -1;
  const SearchEdge* row_ = nullptr;
  const SearchEdge* rowEnd_ = nullptr;
  const SearchEdge* edge_ = nullptr;
};

}  // namespace pathlight::bgl

namespace boost {

template <> struct graph_traits<pathlight::bgl::SearchGraphView> {
  using vertex_descriptor = std::int32_t;
  using edge_descriptor = pathlight::bgl::Edge;
  using directed_category = directed_tag;
  using edge_parallel_category = allow_parallel_edge_tag;
  struct traversal_category : incidence_graph_tag, vertex_list_graph_tag {};
  using out_edge_iterator = pathlight::bgl::OutEdgeIterator;
  using vertex_iterator = counting_iterator<std::int32_t>;
  using degree_size_type = std::size_t;
  using vertices_size_type = std::size_t;
  using edges_size_type = std::size_t;
  using in_edge_iterator = void;
  using adjacency_iterator = void;
  using edge_iterator = void;
  static vertex_descriptor null_vertex() { return -1; }
};

}  // namespace boost

namespace pathlight::bgl {

inline std::pair<OutEdgeIterator, OutEdgeIterator> out_edges(std::int32_t n, const SearchGraphView& view) {
  const SearchGraph& g = *view.graph;
  if (g.IsRoadNode(n)) {
    const auto row = g.RoadEdges(n);
    const auto extra = g.MayHaveExtraEdges(n) ? g.ExtraEdges(n) : std::span<const SearchEdge>{};
    const SearchEdge* const rowEnd = row.data() + row.size();
    return {OutEdgeIterator(n, row.data(), rowEnd, extra.data()),
            OutEdgeIterator(n, rowEnd, rowEnd, extra.data() + extra.size())};
  }
  const auto edges = g.VirtualEdges(n);
  return {OutEdgeIterator(n, nullptr, nullptr, edges.data()),
          OutEdgeIterator(n, nullptr, nullptr, edges.data() + edges.size())};
}
inline std::size_t out_degree(std::int32_t n, const SearchGraphView& view) {
  const auto [first, last] = out_edges(n, view);
  return static_cast<std::size_t>(std::distance(first, last));
}
inline std::int32_t source(const Edge& e, const SearchGraphView&) { return e.source; }
inline std::int32_t target(const Edge& e, const SearchGraphView&) { return e.target; }
inline std::pair<boost::counting_iterator<std::int32_t>, boost::counting_iterator<std::int32_t>> vertices(
    const SearchGraphView& view) {
  return {boost::counting_iterator<std::int32_t>(0), boost::counting_iterator<std::int32_t>(view.graph->NodeCount())};
}
inline std::size_t num_vertices(const SearchGraphView& view) {
  return static_cast<std::size_t>(view.graph->NodeCount());
}

struct FoundGoal {};

// Counts the nodes taken from the queue and stops the search at the goal; `Base` is the search's
// default visitor (Dijkstra's or A*'s).
template <class Base> struct StopAtGoal : Base {
  std::int32_t goal;
  std::size_t* settled;
  void examine_vertex(std::int32_t n, const SearchGraphView&) const {
    ++*settled;
    if (n == goal) throw FoundGoal{};
  }
};

struct IndependentResult {
  bool found = false;
  double cost = 0;
  std::size_t settled = 0;
};

// Scratch arrays kept between runs, as the library's search keeps its own.
template <class Cost> struct Scratch {
  std::vector<Cost> distance;
  std::vector<std::int32_t> predecessor;
  std::vector<Cost> rank;
  std::vector<boost::default_color_type> colour;
};

inline auto WeightMap() {
  return boost::make_function_property_map<Edge, float>([](const Edge& e) { return e.cost; });
}

// The goal's cost as the search left it; "not found" while it is still infinite.
template <class Cost>
IndependentResult WithGoalCost(const SearchGraph& graph, const Scratch<Cost>& scratch, IndependentResult result) {
  const Cost cost = scratch.distance[static_cast<std::size_t>(graph.GoalNode())];
  result.found = cost < std::numeric_limits<Cost>::max();
  result.cost = static_cast<double>(cost);
  return result;
}

// What both searches are given: the edge costs, the node numbers as the index, the scratch's
// distances and predecessors, and the cost type's infinity and zero.
template <class Cost> auto SearchParams(Scratch<Cost>& scratch) {
  const auto index = boost::typed_identity_property_map<std::int32_t>();
  return boost::weight_map(WeightMap())
      .vertex_index_map(index)
      .distance_map(boost::make_iterator_property_map(scratch.distance.begin(), index))
      .predecessor_map(boost::make_iterator_property_map(scratch.predecessor.begin(), index))
      .distance_inf(std::numeric_limits<Cost>::max())
      .distance_zero(Cost(0));
}

// BGL's Dijkstra (no heuristic) from the start to the goal of the query.
template <class Cost> IndependentResult Dijkstra(const SearchGraph& graph, Scratch<Cost>& scratch) {
  const SearchGraphView view{&graph};
  const std::size_t count = num_vertices(view);
  scratch.distance.assign(count, std::numeric_limits<Cost>::max());
  scratch.predecessor.resize(count);
  IndependentResult result;
  try {
    boost::dijkstra_shortest_paths_no_color_map(
        view, graph.StartNode(),
        SearchParams(scratch).visitor(
            StopAtGoal<boost::default_dijkstra_visitor>{{}, graph.GoalNode(), &result.settled}));
  } catch (const FoundGoal&) {}
  return WithGoalCost(graph, scratch, result);
}

template <class Cost> struct Estimate : boost::astar_heuristic<SearchGraphView, Cost> {
  const SearchGraph* graph;
  explicit Estimate(const SearchGraph* g) : graph(g) {}
  Cost operator()(std::int32_t n) const { return static_cast<Cost>(graph->Estimate(n)); }
};

// BGL's A* with the library's estimate.
template <class Cost> IndependentResult AStar(const SearchGraph& graph, Scratch<Cost>& scratch) {
  const SearchGraphView view{&graph};
  const std::size_t count = num_vertices(view);
  scratch.distance.resize(count);
  scratch.predecessor.resize(count);
  scratch.rank.resize(count);
  scratch.colour.resize(count);
  IndependentResult result;
  const auto index = boost::typed_identity_property_map<std::int32_t>();
  try {
    boost::astar_search(view, graph.StartNode(), Estimate<Cost>(&graph),
                        SearchParams(scratch)
                            .rank_map(boost::make_iterator_property_map(scratch.rank.begin(), index))
                            .color_map(boost::make_iterator_property_map(scratch.colour.begin(), index))
                            .visitor(StopAtGoal<boost::default_astar_visitor>{{}, graph.GoalNode(), &result.settled}));
  } catch (const FoundGoal&) {}
  return WithGoalCost(graph, scratch, result);
}

}  // namespace pathlight::bgl
