#include "roads/graph_builder.hpp"

namespace pathlight {

std::int32_t GraphBuilder::NodeForPosition(float x, float y, float z) {
  const auto next = static_cast<std::int32_t>(nodes_.size());
  const auto [node, inserted] = nodeMap_.TryEmplace(RoundToMetre(x), RoundToMetre(z), next);
  if (inserted) nodes_.push_back({x, y, z});
  return node;
}

}  // namespace pathlight
