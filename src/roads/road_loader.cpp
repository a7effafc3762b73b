#include "roads/road_loader.hpp"

#include <atomic>
#include <chrono>

#include "platform/folders.hpp"
#include "platform/log.hpp"
#include "roads/graph_builder.hpp"

namespace pathlight {

namespace {

// The roads' state: the graph, written only by the loader before RoadsReady is raised and never
// again afterwards, and the flag that publishes it.
struct RoadsState {
  RoadGraph graph;
  std::atomic<bool> RoadsReady{false};
};

RoadsState g_roads;

}  // namespace

LoadedRoads LoadRoadNetwork(const std::wstring& gameFolder) {
  const auto start = std::chrono::steady_clock::now();
  LoadedRoads loaded;
  GraphBuilder builder;
  ReadRoadFiles(gameFolder, builder, loaded);
  builder.ReleaseMergeMap();
  loaded.graph = BuildRoadGraph(builder.TakeNodes(), builder.TakeSegments());

  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  Log("Roads: %zu archives, %d tiles (%d skipped), %zu nodes, %zu segments, %lu ms", loaded.archives, loaded.tiles,
      loaded.skipped, loaded.graph.nodes.size(), loaded.graph.segments.size(), static_cast<unsigned long>(ms));
  return loaded;
}

std::size_t LoadRoads(const std::wstring& gameFolder) {
  LoadedRoads loaded = LoadRoadNetwork(gameFolder);
  g_roads.graph = std::move(loaded.graph);
  // Sequentially consistent, so a reader that sees true also sees every array written above.
  g_roads.RoadsReady.exchange(!g_roads.graph.segments.empty(), std::memory_order_seq_cst);
  return loaded.indexesRead;
}

void LoadRoads() { (void)LoadRoads(GetGameFolder()); }

bool RoadsAreReady() { return g_roads.RoadsReady.load(); }

const RoadGraph& RoadNetwork() { return g_roads.graph; }

std::vector<SnapCandidate> FindNearbySegments(float x, float z, float radius, int maxCount, float slack) {
  if (!RoadsAreReady()) return {};
  return FindNearbySegments(g_roads.graph, x, z, radius, maxCount, slack);
}

void CollectRoadLines(float x, float z, float radius, std::vector<GroundPoint>& out) {
  if (!RoadsAreReady()) return;
  CollectRoadLines(g_roads.graph, x, z, radius, out);
}

}  // namespace pathlight
