#include "routing/polyline_nearest.hpp"

#include <algorithm>
#include <limits>

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
    double t = 0.0;
    if (length2 > 0) {
      // A query before the segment's start or past its end clamps to 0 or 1 without the division;
      // for a finite length that is exactly what the division and the clamp give.
      const double along = px * dx + pz * dz;
      const bool finite = length2 <= std::numeric_limits<double>::max();
      if (!(finite && along < 0)) t = finite && along >= length2 ? 1.0 : std::clamp(along / length2, 0.0, 1.0);
    }
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
