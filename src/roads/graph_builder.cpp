#include "roads/graph_builder.hpp"

#include <cmath>

namespace pathlight {

std::int32_t RoundToMetre(float value) {
  const double rounded = std::round(static_cast<double>(value));  // halves away from zero
  if (!std::isfinite(rounded) || rounded < -2147483648.0 || rounded > 2147483647.0) return 0;
  return static_cast<std::int32_t>(rounded);
}

std::int32_t GraphBuilder::NodeForPosition(float x, float y, float z) {
  const auto next = static_cast<std::int32_t>(nodes_.size());
  const auto [node, inserted] = nodeMap_.TryEmplace(PairKey(RoundToMetre(x), RoundToMetre(z)), next);
  if (inserted) nodes_.push_back({x, y, z});
  return *node;
}

}  // namespace pathlight
