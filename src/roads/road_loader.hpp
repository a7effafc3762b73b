// The road loader: reads every archive index's road tiles and the base game's fielddefault into
// one graph, logs the "Roads:" summary, and publishes the graph with the RoadsReady flag. After
// publication the graph never changes, so readers that saw RoadsAreReady() use it without a lock.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "roads/road_files.hpp"
#include "roads/road_graph.hpp"

namespace pathlight {

// The counts of ReadRoadFiles and the graph built from what it read.
struct LoadedRoads : RoadFileCounts {
  RoadGraph graph;
};

// The whole load of one game folder, ending with the summary line; publishes nothing.
[[nodiscard]] LoadedRoads LoadRoadNetwork(const std::wstring& gameFolder);

// The road loader thread's body: loads the game folder's roads and publishes them. Runs once per
// process; RoadsReady stays false for good when no segment was found.
void LoadRoads();
// The same with a given game folder (the native tools); returns how many archive indexes were read.
std::size_t LoadRoads(const std::wstring& gameFolder);

[[nodiscard]] bool RoadsAreReady();
// The published graph; only meaningful once RoadsAreReady().
[[nodiscard]] const RoadGraph& RoadNetwork();

// The two point queries on the published graph. The route search calls FindNearbySegments only
// once roads are ready; CollectRoadLines appends nothing until then.
[[nodiscard]] std::vector<SnapCandidate> FindNearbySegments(float x, float z, float radius, int maxCount, float slack);
void CollectRoadLines(float x, float z, float radius, std::vector<GroundPoint>& out);

}  // namespace pathlight
