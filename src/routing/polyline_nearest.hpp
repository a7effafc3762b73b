// The point of a polyline nearest a query point, in world metres: the one routine behind the route
// worker's "is the player still on the route" and the maps' cut of the route at the player. Pure,
// callable from any thread.
#pragma once

#include <cstddef>
#include <span>

#include "roads/road_graph.hpp"

namespace pathlight {

struct PolylineNearest {
  // The nearest point, unrounded; the first point of a line without a segment.
  double x = 0;
  double z = 0;
  // Its squared distance from the query; 1e30 for a line of fewer than two points.
  double distance2 = 1e30;
  // The end point of the segment it lies on; 0 when no segment was nearer than 1e30.
  std::size_t index = 0;
};

// In double throughout. On equal distances the earlier segment wins, so a query on a shared point
// gives that point's index; a zero-length segment measures from its point; a segment whose distance
// is not a number never wins.
[[nodiscard]] PolylineNearest NearestOnPolyline(std::span<const GroundPoint> line, double x, double z);

}  // namespace pathlight
