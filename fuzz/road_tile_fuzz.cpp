// Any bytes as a road tile, then whatever it yields carried on through nodes, the graph's grid
// and a point query, where untrusted coordinates become cells.
#include <cstddef>
#include <cstdint>
#include <stdexcept>

#include "roads/road_graph.hpp"
#include "roads/road_tile.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::byte> bytes(reinterpret_cast<const std::byte*>(data), size);
  pathlight::TileVertexMap vertices;
  pathlight::TileRoadList roads;
  try {
    pathlight::ParseRoadTile(bytes, vertices, roads);
  } catch (const std::runtime_error&) {}
  pathlight::GraphBuilder builder;
  pathlight::AssembleTileRoads(vertices, roads, builder);
  const pathlight::RoadGraph graph = pathlight::BuildRoadGraph(builder.TakeNodes(), builder.TakeSegments());
  if (!graph.nodes.empty()) {
    const pathlight::RoadNode& n = graph.nodes.front();
    (void)pathlight::FindNearbySegments(graph, n.x, n.z, 150, 6, 50);
  }
  return 0;
}
