// Sections: nearest point and the route from the player, corner rounding.
#include "mapgeom/route_geometry.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

#include "routing/polyline_nearest.hpp"

namespace pathlight {

namespace {

// Segments shorter than this, pixels, are dropped by the resampling: they carry no direction.
constexpr double kShortestSegment = 0.001;
// No screen or margin is wider than this, pixels: a garbage width keeps the box's arithmetic finite.
constexpr double kScreenLimit = 1 << 20;

}  // namespace

// ---- nearest point and the route from the player -------------------------------------------------

RouteNearest NearestOnRoute(std::span<const GroundPoint> route, GroundPoint query) {
  const PolylineNearest found = NearestOnPolyline(route, query.x, query.z);
  return {{static_cast<float>(found.x), static_cast<float>(found.z)}, found.index};
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
void AveragePass(std::span<ScreenPoint> points, std::size_t w, std::vector<double>& sx, std::vector<double>& sy) {
  const std::size_t n = points.size();
  sx.resize(n + 1);
  sy.resize(n + 1);
  sx[0] = sy[0] = 0;
  for (std::size_t i = 0; i < n; ++i) {
    sx[i + 1] = sx[i] + points[i].x;
    sy[i + 1] = sy[i] + points[i].y;
  }
  for (std::size_t i = 1; i + 1 < n; ++i) {
    const std::size_t g = std::min({w, i, n - 1 - i});
    const double count = static_cast<double>(2 * g + 1);
    points[i] = {static_cast<float>((sx[i + g + 1] - sx[i - g]) / count),
                 static_cast<float>((sy[i + g + 1] - sy[i - g]) / count)};
  }
}

// The averaging window in points, or 0 when the line is to be copied unchanged. A window wider than
// the line changes nothing (g is bounded by both ends), so the ratio is capped before it becomes an
// integer; NaN fails every comparison and leaves the line as it is.
std::size_t Window(float spacing, float radius) {
  const double ratio = static_cast<double>(radius) / spacing;
  if (!(spacing > 0) || !(ratio >= 0.5)) return 0;
  return static_cast<std::size_t>(std::lround(std::min(ratio, 1e9)));
}

// Appends the line resampled and rounded; `budget` is what resampling may still add, shared by
// every piece of one drawing.
void AppendRounded(std::span<const ScreenPoint> polyline, float spacing, std::size_t w, std::size_t& budget,
                   std::vector<ScreenPoint>& out, RoundingScratch& scratch) {
  const std::size_t first = out.size();
  out.push_back(polyline[0]);
  for (std::size_t i = 1; i < polyline.size(); ++i) {
    const ScreenPoint a = polyline[i - 1], b = polyline[i];
    const double dx = static_cast<double>(b.x) - a.x, dy = static_cast<double>(b.y) - a.y;
    const double length = std::hypot(dx, dy);
    if (!(length >= kShortestSegment)) continue;  // also drops segments with a NaN end
    // Past the budget a segment is kept as its end point alone; the count is clamped in double so an
    // infinite length never reaches the integer conversion.
    const double wanted = std::ceil(length / spacing);
    const std::size_t c =
        wanted > static_cast<double>(budget) ? budget + 1 : std::max<std::size_t>(1, static_cast<std::size_t>(wanted));
    budget -= c - 1;
    for (std::size_t j = 1; j < c; ++j) {
      const double t = static_cast<double>(j) / static_cast<double>(c);
      out.push_back({static_cast<float>(a.x + t * dx), static_cast<float>(a.y + t * dy)});
    }
    out.push_back(b);
  }
  const std::span<ScreenPoint> added(out.data() + first, out.size() - first);
  if (added.size() < 3) return;
  AveragePass(added, w, scratch.sx, scratch.sy);
  AveragePass(added, w, scratch.sx, scratch.sy);
}

bool Finite(ScreenPoint p) { return std::isfinite(p.x) && std::isfinite(p.y); }

// The screen grown by the margin, and positions along its edge: clockwise from the top left corner.
struct Box {
  double left, top, right, bottom;
  double Perimeter() const { return 2 * (right - left) + 2 * (bottom - top); }
  double Along(ScreenPoint p) const {
    const double w = right - left, h = bottom - top;
    // The nearest edge: a clipped point lies on one up to rounding.
    const double toTop = std::abs(p.y - top), toRight = std::abs(p.x - right), toBottom = std::abs(p.y - bottom),
                 toLeft = std::abs(p.x - left);
    const double nearest = std::min({toTop, toRight, toBottom, toLeft});
    if (nearest == toTop) return std::clamp(p.x - left, 0.0, w);
    if (nearest == toRight) return w + std::clamp(p.y - top, 0.0, h);
    if (nearest == toBottom) return w + h + std::clamp(right - p.x, 0.0, w);
    return 2 * w + h + std::clamp(bottom - p.y, 0.0, h);
  }
  ScreenPoint Corner(int i) const {
    const double xs[] = {left, right, right, left}, ys[] = {top, top, bottom, bottom};
    return {static_cast<float>(xs[i & 3]), static_cast<float>(ys[i & 3])};
  }
  double CornerAlong(int i) const {
    const double w = right - left, h = bottom - top;
    const double at[] = {0, w, w + h, 2 * w + h};
    return at[i & 3];
  }
};

// Liang-Barsky: the part [t0, t1] of a->b inside the box, false when none.
bool ClipToBox(ScreenPoint a, ScreenPoint b, const Box& box, double& t0, double& t1) {
  const double dx = static_cast<double>(b.x) - a.x, dy = static_cast<double>(b.y) - a.y;
  const double p[] = {-dx, dx, -dy, dy};
  const double q[] = {a.x - box.left, box.right - a.x, a.y - box.top, box.bottom - a.y};
  t0 = 0;
  t1 = 1;
  for (int i = 0; i < 4; ++i) {
    if (p[i] == 0) {
      if (q[i] < 0) return false;
      continue;
    }
    const double t = q[i] / p[i];
    if (p[i] < 0) {
      t0 = std::max(t0, t);
    } else {
      t1 = std::min(t1, t);
    }
  }
  return t0 <= t1;
}

ScreenPoint At(ScreenPoint a, ScreenPoint b, double t) {
  if (t <= 0) return a;
  if (t >= 1) return b;
  return {static_cast<float>(a.x + t * (static_cast<double>(b.x) - a.x)),
          static_cast<float>(a.y + t * (static_cast<double>(b.y) - a.y))};
}

// The corners passed going from one point on the box's edge to another the shorter way round.
void WalkEdge(const Box& box, ScreenPoint from, ScreenPoint to, std::vector<ScreenPoint>& out) {
  const double perimeter = box.Perimeter(), s = box.Along(from);
  const double forward = std::fmod(box.Along(to) - s + perimeter, perimeter);
  const bool clockwise = forward <= perimeter / 2;
  const double span = clockwise ? forward : perimeter - forward;
  std::pair<double, int> passed[4];
  int count = 0;
  for (int i = 0; i < 4; ++i) {
    const double c = box.CornerAlong(i);
    const double d = std::fmod((clockwise ? c - s : s - c) + perimeter, perimeter);
    if (!(d > 0 && d < span)) continue;
    int at = count++;  // in order of distance
    for (; at > 0 && passed[at - 1].first > d; --at) passed[at] = passed[at - 1];
    passed[at] = {d, i};
  }
  for (int k = 0; k < count; ++k) out.push_back(box.Corner(passed[k].second));
}

// The renderers round a line every frame: without a scratch of the caller's, the lists' capacity
// stays with the thread.
RoundingScratch& ThreadRoundingScratch() {
  thread_local RoundingScratch scratch;
  return scratch;
}

}  // namespace

void RoundCorners(std::span<const ScreenPoint> polyline, float spacing, float radius, std::vector<ScreenPoint>& out) {
  RoundCorners(polyline, spacing, radius, out, ThreadRoundingScratch());
}

void RoundCorners(std::span<const ScreenPoint> polyline, float spacing, float radius, std::vector<ScreenPoint>& out,
                  RoundingScratch& scratch) {
  out.clear();
  const std::size_t w = Window(spacing, radius);
  if (w == 0 || polyline.size() < 3) {
    out.assign(polyline.begin(), polyline.end());
    return;
  }
  out.reserve(polyline.size());
  std::size_t budget = kRoundCornersExtraPoints;
  AppendRounded(polyline, spacing, w, budget, out, scratch);
}

void RoundCornersOnScreen(std::span<const ScreenPoint> polyline, float width, float height, float margin, float spacing,
                          float radius, std::vector<ScreenPoint>& out) {
  RoundCornersOnScreen(polyline, width, height, margin, spacing, radius, out, ThreadRoundingScratch());
}

void RoundCornersOnScreen(std::span<const ScreenPoint> polyline, float width, float height, float margin, float spacing,
                          float radius, std::vector<ScreenPoint>& out, RoundingScratch& scratch) {
  out.clear();
  const std::size_t w = Window(spacing, radius);
  if (w == 0 || polyline.size() < 3 || !(width > 0) || !(height > 0)) {
    RoundCorners(polyline, spacing, radius, out, scratch);
    return;
  }
  const double m = std::isfinite(margin) ? std::clamp(static_cast<double>(margin), 0.0, kScreenLimit) : 0.0;
  const Box box{-m, -m, std::min<double>(width, kScreenLimit) + m, std::min<double>(height, kScreenLimit) + m};

  // The pieces inside the box, one after another in `cut`, each ended where the line leaves it.
  std::vector<ScreenPoint>& cut = scratch.cut;
  std::vector<std::size_t>& ends = scratch.ends;
  cut.clear();
  ends.clear();
  bool open = false;
  ScreenPoint previous{};
  bool havePrevious = false;
  for (const ScreenPoint p : polyline) {
    if (!Finite(p)) continue;  // as the resampling does: the line goes on from the next number
    if (!havePrevious) {
      previous = p;
      havePrevious = true;
      continue;
    }
    double t0 = 0, t1 = 0;
    if (!ClipToBox(previous, p, box, t0, t1)) {
      if (open) ends.push_back(cut.size());
      open = false;
    } else {
      if (!open || t0 > 0) {
        if (open) ends.push_back(cut.size());
        cut.push_back(At(previous, p, t0));
        open = true;
      }
      cut.push_back(At(previous, p, t1));
      if (t1 < 1) {
        ends.push_back(cut.size());
        open = false;
      }
    }
    previous = p;
  }
  if (open) ends.push_back(cut.size());

  // Each piece rounded on its own, joined to the next along the box's edge, which lies off the
  // screen by the margin: what the screen shows is what rounding the whole line would show.
  std::size_t budget = kRoundCornersExtraPoints;
  std::size_t begin = 0;
  for (const std::size_t end : ends) {
    const std::span<const ScreenPoint> piece(cut.data() + begin, end - begin);
    begin = end;
    if (piece.size() < 2) continue;
    if (!out.empty()) WalkEdge(box, out.back(), piece.front(), out);
    if (piece.size() < 3) {
      out.insert(out.end(), piece.begin(), piece.end());
    } else {
      AppendRounded(piece, spacing, w, budget, out, scratch);
    }
  }
}

std::vector<ScreenPoint> RoundCorners(std::span<const ScreenPoint> polyline, float spacing, float radius) {
  std::vector<ScreenPoint> out;
  RoundCorners(polyline, spacing, radius, out);
  return out;
}

}  // namespace pathlight
