// Any bytes as a fielddefault file, over a few tile nodes to link to; then the graph and a query.
#include <cstddef>
#include <cstdint>
#include <stdexcept>

#include "roads/field_default.hpp"
#include "roads/road_graph.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::byte> bytes(reinterpret_cast<const std::byte*>(data), size);
  pathlight::GraphBuilder builder;
  for (int i = 0; i < 16; ++i)
    builder.NodeForPosition(static_cast<float>(i * 4 - 30), 0.0f, static_cast<float>(i % 4 * 3));
  try {
    pathlight::AddFieldDefault(bytes, builder);
  } catch (const std::runtime_error&) {}
  const pathlight::RoadGraph graph = pathlight::BuildRoadGraph(builder.TakeNodes(), builder.TakeSegments());
  (void)pathlight::FindNearbySegments(graph, 0, 0, 150, 6, 50);
  return 0;
}
