// The search benchmark: random start/goal pairs drawn from the whole map, each searched by the
// library's RouteSearch and then by BGL's A* over the very same search graph (same nodes, edges,
// costs and estimate), so the ratio of the two compares the searches on this machine in this run.
#include <algorithm>
#include <ctime>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "bench_row.hpp"
#include "route_outputs.hpp"
#include "search_graph_bgl.hpp"

namespace pathlight::tool {

namespace {

struct Figures {
  std::vector<double> ms;
  std::size_t settled = 0;
  double totalMs = 0;
  void Add(double milliseconds, std::size_t nodes) {
    ms.push_back(milliseconds);
    totalMs += milliseconds;
    settled += nodes;
  }
  [[nodiscard]] double Percentile(double p) const {
    std::vector<double> sorted = ms;
    std::sort(sorted.begin(), sorted.end());
    if (sorted.empty()) return 0;
    // Nearest rank: the smallest value with at least p of all values at or below it.
    const auto rank = static_cast<std::size_t>(std::ceil(p * static_cast<double>(sorted.size())));
    return sorted[std::min(sorted.size() - 1, rank > 0 ? rank - 1 : 0)];
  }
  [[nodiscard]] double SettledPerSecond() const {
    return totalMs > 0 ? static_cast<double>(settled) / (totalMs / 1000.0) : 0;
  }
};

// The thread's processor time, not the wall clock: on a shared machine the wall clock also counts
// the time other processes had the processor, which would blur both searches alike.
double ThreadMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

}  // namespace

std::size_t RunRouteBench(const RoadGraph& roads, const RouteWeights& weights, float directMaxDistance, int count,
                          std::uint32_t seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<std::size_t> anyNode(0, roads.nodes.size() - 1);
  // A player stands near a road, rarely on it.
  std::uniform_real_distribution<float> offset(-20.0f, 20.0f);
  RouteSearch search;
  bgl::Scratch<float> scratch;
  Figures ours, theirs;
  std::size_t disagreements = 0, straight = 0;
  // Dijkstra on the first routed queries only: it settles most of the map each time, and a few
  // dozen queries give the ratio of settled nodes well enough.
  constexpr std::size_t kDijkstraQueries = 40;
  std::size_t astarSettled = 0, dijkstraSettled = 0, dijkstraQueries = 0;
  for (int q = 0; q < count; ++q) {
    const RoadNode& a = roads.nodes[anyNode(random)];
    const RoadNode& b = roads.nodes[anyNode(random)];
    const GroundPoint start{a.x + offset(random), a.z + offset(random)};
    const GroundPoint goal{b.x + offset(random), b.z + offset(random)};

    double begin = ThreadMilliseconds();
    const RouteSearchResult result = search.Find(roads, start, goal, weights, directMaxDistance);
    const double ourMs = ThreadMilliseconds() - begin;
    if (!result.found) {
      ++straight;
      continue;
    }
    // The search graph in the road graph's numbering is made on the first call: not BGL's time.
    const SearchGraph& graph = search.Graph();
    begin = ThreadMilliseconds();
    const bgl::IndependentResult independent = bgl::AStar(graph, scratch);
    const double theirMs = ThreadMilliseconds() - begin;
    ours.Add(ourMs, result.settled);
    theirs.Add(theirMs, independent.settled);
    if (dijkstraQueries < kDijkstraQueries) {
      astarSettled += result.settled;
      dijkstraSettled += bgl::Dijkstra(graph, scratch).settled;
      ++dijkstraQueries;
    }
    if (!independent.found || std::fabs(independent.cost - result.cost) > 1e-4 * std::max(1.0, independent.cost)) {
      ++disagreements;
      std::printf("Bench: query %d (%.1f,%.1f) -> (%.1f,%.1f): cost %.3f, BGL %.3f\n", q, static_cast<double>(start.x),
                  static_cast<double>(start.z), static_cast<double>(goal.x), static_cast<double>(goal.z),
                  static_cast<double>(result.cost), independent.cost);
    }
  }
  std::printf("Bench: %d queries on %zu nodes, %zu segments (seed %u): %zu routed, %zu straight lines\n", count,
              roads.nodes.size(), roads.segments.size(), seed, ours.ms.size(), straight);
  std::printf("Bench: search times are the thread's processor time per query\n");
  std::printf("Bench: FindRoute  median %7.2f ms, p95 %7.2f ms, %6.2f M settled nodes/s\n", ours.Percentile(0.5),
              ours.Percentile(0.95), ours.SettledPerSecond() / 1e6);
  std::printf("Bench: BGL A*     median %7.2f ms, p95 %7.2f ms, %6.2f M settled nodes/s\n", theirs.Percentile(0.5),
              theirs.Percentile(0.95), theirs.SettledPerSecond() / 1e6);
  const double medianRatio = theirs.Percentile(0.5) > 0 ? ours.Percentile(0.5) / theirs.Percentile(0.5) : 0;
  const double p95Ratio = theirs.Percentile(0.95) > 0 ? ours.Percentile(0.95) / theirs.Percentile(0.95) : 0;
  std::printf("Bench: ratio FindRoute/BGL median %.2f, p95 %.2f; %zu cost disagreements\n", medianRatio, p95Ratio,
              disagreements);
  if (dijkstraQueries > 0) {
    const double share =
        dijkstraSettled > 0 ? static_cast<double>(astarSettled) / static_cast<double>(dijkstraSettled) : 0.0;
    std::printf("Bench: settled nodes on the first %zu queries: FindRoute's A* %zu, BGL's Dijkstra %zu (%.2f)\n",
                dijkstraQueries, astarSettled, dijkstraSettled, share);
  }
  const std::string size = bench::WorldSizeLabel(static_cast<double>(roads.nodes.size()));
  const auto row = [&](const char* what, const char* path, double figure, double baseline, const char* unit,
                       const char* baselineIs) {
    const std::string id = "route." + std::string(what) + "." + size;
    const std::string text = std::string(path) + ", " + size + " nodes";
    bench::PrintBenchRow(id.c_str(), text.c_str(), figure, baseline, unit, baselineIs);
  };
  const auto nsPerSettled = [](const Figures& f) {
    return f.settled > 0 ? f.totalMs * 1e6 / static_cast<double>(f.settled) : 0.0;
  };
  row("median", "route search, median", ours.Percentile(0.5), theirs.Percentile(0.5), "ms",
      "BGL's A* on the same search graphs (median)");
  row("p95", "route search, 95th percentile", ours.Percentile(0.95), theirs.Percentile(0.95), "ms",
      "BGL's A* (95th percentile)");
  row("ns_per_settled", "route search, time per settled node", nsPerSettled(ours), nsPerSettled(theirs), "ns",
      "BGL's A* per settled node");
  if (dijkstraQueries > 0) {
    row("settled", "route search, A*'s settled nodes a query",
        static_cast<double>(astarSettled) / static_cast<double>(dijkstraQueries),
        static_cast<double>(dijkstraSettled) / static_cast<double>(dijkstraQueries), "nodes",
        "BGL's Dijkstra on the same queries");
  }
  return disagreements;
}

}  // namespace pathlight::tool
