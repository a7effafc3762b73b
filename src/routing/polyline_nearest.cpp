#include "routing/polyline_nearest.hpp"

#include <algorithm>

namespace pathlight {

PolylineNearest NearestOnPolyline(std::span<const GroundPoint> line, double x, double z) {
  PolylineNearest nearest;
  if (line.empty()) return nearest;
  nearest.x = line[0].x;
  nearest.z = line[0].z;
  for (std::size_t i = 1; i < line.size(); ++i) {
    const GroundPoint a = line[i - 1], b = line[i];
    const double dx = static_cast<double>(b.x) - a.x, dz = static_cast<double>(b.z) - a.z;
    // Relative to the segment's start: the difference of two floats is exact in double.
    const double px = x - a.x, pz = z - a.z;
    const double length2 = dx * dx + dz * dz;
    const double t = length2 > 0 ? std::clamp((px * dx + pz * dz) / length2, 0.0, 1.0) : 0.0;
    const double ex = px - t * dx, ez = pz - t * dz;
    const double distance2 = ex * ex + ez * ez;
    // Strictly less: on a tie the earlier segment keeps it, and NaN never wins.
    if (distance2 < nearest.distance2) {
      nearest.distance2 = distance2;
      nearest.x = a.x + t * dx;
      nearest.z = a.z + t * dz;
      nearest.index = i;
    }
  }
  return nearest;
}

}  // namespace pathlight
