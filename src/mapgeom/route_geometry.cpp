// Sections: nearest point and the route from the player, corner rounding.
#include "mapgeom/route_geometry.hpp"

#include <algorithm>
#include <cmath>

namespace pathlight {

namespace {

// Segments shorter than this, pixels, are dropped by the resampling: they carry no direction.
constexpr double kShortestSegment = 0.001;

}  // namespace

// ---- nearest point and the route from the player -------------------------------------------------

RouteNearest NearestOnRoute(std::span<const GroundPoint> route, GroundPoint query) {
  RouteNearest nearest;
  if (route.empty()) return nearest;
  nearest.point = route[0];
  double best = 1e30;
  for (std::size_t i = 1; i < route.size(); ++i) {
    const GroundPoint a = route[i - 1], b = route[i];
    const double dx = static_cast<double>(b.x) - a.x, dz = static_cast<double>(b.z) - a.z;
    const double qx = static_cast<double>(query.x) - a.x, qz = static_cast<double>(query.z) - a.z;
    const double length2 = dx * dx + dz * dz;
    const double t = length2 > 0 ? std::clamp((qx * dx + qz * dz) / length2, 0.0, 1.0) : 0.0;
    const double cx = a.x + t * dx, cz = a.z + t * dz;
    const double ex = cx - query.x, ez = cz - query.z;
    const double distance2 = ex * ex + ez * ez;
    // Strictly less: on a tie the earlier segment keeps it.
    if (distance2 < best) {
      best = distance2;
      nearest.point = {static_cast<float>(cx), static_cast<float>(cz)};
      nearest.index = i;
    }
  }
  return nearest;
}

void RouteFromPlayer(std::span<const GroundPoint> route, const GameSnapshot& snapshot, const RouteNearest& nearest,
                     std::vector<GroundPoint>& out) {
  if (!snapshot.playerValid) {
    out.insert(out.end(), route.begin(), route.end());
    return;
  }
  const std::size_t from = std::min(nearest.index, route.size());
  out.reserve(out.size() + 2 + (route.size() - from));
  out.push_back({snapshot.playerX, snapshot.playerZ});
  out.push_back(nearest.point);
  out.insert(out.end(), route.begin() + static_cast<std::ptrdiff_t>(from), route.end());
}

// ---- corner rounding -----------------------------------------------------------------------------

namespace {

// One centred moving-average pass in place; prefix sums in double keep long lines exact enough.
void AveragePass(std::vector<ScreenPoint>& points, std::size_t w, std::vector<double>& sx, std::vector<double>& sy) {
  const std::size_t n = points.size();
  sx.assign(n + 1, 0.0);
  sy.assign(n + 1, 0.0);
  for (std::size_t i = 0; i < n; ++i) {
    sx[i + 1] = sx[i] + points[i].x;
    sy[i + 1] = sy[i] + points[i].y;
  }
  for (std::size_t i = 1; i + 1 < n; ++i) {
    const std::size_t g = std::min({w, i, n - 1 - i});
    const double count = static_cast<double>(2 * g + 1);
    points[i] = {static_cast<float>((sx[i + g + 1] - sx[i - g]) / count), static_cast<float>((sy[i + g + 1] - sy[i - g]) / count)};
  }
}

}  // namespace

void RoundCorners(std::span<const ScreenPoint> polyline, float spacing, float radius, std::vector<ScreenPoint>& out) {
  out.clear();
  // A window wider than the line changes nothing (g is bounded by both ends), so the ratio is capped
  // before it becomes an integer; NaN fails every comparison and leaves the line as it is.
  const double ratio = static_cast<double>(radius) / spacing;
  if (!(spacing > 0) || !(ratio >= 0.5) || polyline.size() < 3) {
    out.assign(polyline.begin(), polyline.end());
    return;
  }
  const std::size_t w = static_cast<std::size_t>(std::lround(std::min(ratio, 1e9)));

  out.reserve(polyline.size());
  out.push_back(polyline[0]);
  std::size_t budget = kRoundCornersExtraPoints;
  for (std::size_t i = 1; i < polyline.size(); ++i) {
    const ScreenPoint a = polyline[i - 1], b = polyline[i];
    const double dx = static_cast<double>(b.x) - a.x, dy = static_cast<double>(b.y) - a.y;
    const double length = std::hypot(dx, dy);
    if (!(length >= kShortestSegment)) continue;  // also drops segments with a NaN end
    // Past the budget a segment is kept as its end point alone; the count is clamped in double so an
    // infinite length never reaches the integer conversion.
    const double wanted = std::ceil(length / spacing);
    const std::size_t c = wanted > static_cast<double>(budget) ? budget + 1 : std::max<std::size_t>(1, static_cast<std::size_t>(wanted));
    budget -= c - 1;
    for (std::size_t j = 1; j < c; ++j) {
      const double t = static_cast<double>(j) / static_cast<double>(c);
      out.push_back({static_cast<float>(a.x + t * dx), static_cast<float>(a.y + t * dy)});
    }
    out.push_back(b);
  }
  if (out.size() < 3) return;
  // The renderers round a line every frame: the sums' capacity stays with the thread.
  thread_local std::vector<double> sx, sy;
  AveragePass(out, w, sx, sy);
  AveragePass(out, w, sx, sy);
}

std::vector<ScreenPoint> RoundCorners(std::span<const ScreenPoint> polyline, float spacing, float radius) {
  std::vector<ScreenPoint> out;
  RoundCorners(polyline, spacing, radius, out);
  return out;
}

}  // namespace pathlight
