// Sections: scratch and colours, strokes and the circle clip, minimap and world map, the ribbon.
#include "render12/route_drawing.hpp"

#include <imgui_internal.h>

#include <algorithm>
#include <cmath>

namespace pathlight {

namespace {

// ---- scratch and colours ------------------------------------------------------------------------

// A ribbon point once projected: its four cross-section vertices on screen.
struct RibbonVertexRow {
  ImVec2 screen[4];
  float inverseDepth[4];
  float alpha;
  bool valid;
};

// The point lists of one thread's frames, kept between frames so their capacity is reused.
struct DrawingScratch {
  std::vector<ScreenPoint> projected;
  std::vector<ScreenPoint> rounded;
  std::vector<std::vector<ScreenPoint>> pieces;
  std::vector<GroundPoint> roadLines;
  std::vector<ScreenPoint> roadPoints;
  std::vector<ImVec2> stroke;
  std::vector<RibbonPathPoint> path;
  std::vector<double> sums;
  std::vector<RibbonVertexRow> rows;
};

DrawingScratch& Scratch() {
  thread_local DrawingScratch scratch;
  return scratch;
}

constexpr ImU32 kRoadDebugColour = 0xDCFFFF00;
constexpr float kRoadDebugWidth = 1.5f;

// A segment this short (squared pixels) has no direction to clip along.
constexpr double kShortestClipSegment2 = 1e-6;

// Ribbon cross-section: lateral offsets in widths, and the alpha of each vertex; the outer pair is
// transparent so the ribbon's edges are soft.
constexpr float kCrossOffsets[4] = {-0.5f, -0.2f, 0.2f, 0.5f};
constexpr float kCrossAlpha[4] = {0.0f, 1.0f, 1.0f, 0.0f};
// Nearer than this (metres of view depth) a vertex would project far off screen or flip over.
constexpr float kNearestDepth = 0.3f;
constexpr double kShortestRibbonSegment = 0.001;
constexpr float kShortestDirection = 0.0001f;
// A pair of points both fainter than this is not worth its triangles.
constexpr float kFaintestAlpha = 0.003f;

bool Finite(ScreenPoint p) { return std::isfinite(p.x) && std::isfinite(p.y); }

}  // namespace

ImU32 ScaleAlpha(ImU32 colour, float factor) {
  const float held = factor > 0 ? std::min(factor, 1.0f) : 0.0f;  // NaN gives 0
  const auto alpha = static_cast<ImU32>(static_cast<float>(colour >> 24) * held);
  return (colour & 0x00FFFFFFu) | (std::min<ImU32>(alpha, 255) << 24);
}

// ---- strokes and the circle clip ----------------------------------------------------------------

void StrokePolylines(ImDrawList& draw, std::span<const std::vector<ScreenPoint>> lines, float lineWidth,
                     float outlineWidth, ImU32 colour, ImU32 outlineColour) {
  std::vector<ImVec2>& points = Scratch().stroke;
  const auto stroke = [&](const std::vector<ScreenPoint>& line, ImU32 c, float thickness) {
    points.clear();
    for (const ScreenPoint p : line) points.push_back({p.x, p.y});
    draw.AddPolyline(points.data(), static_cast<int>(points.size()), c, ImDrawFlags_None, thickness);
  };
  // The outline goes first so the colour pass lies over it along the whole line.
  if (outlineWidth > 0) {
    for (const auto& line : lines) {
      if (line.size() >= 2) stroke(line, outlineColour, lineWidth + 2 * outlineWidth);
    }
  }
  for (const auto& line : lines) {
    if (line.size() >= 2) stroke(line, colour, lineWidth);
  }
}

bool ClipSegmentToCircle(ScreenPoint a, ScreenPoint b, float centerX, float centerY, float radius, SegmentSpan& span) {
  const double dx = static_cast<double>(b.x) - a.x, dy = static_cast<double>(b.y) - a.y;
  const double fx = static_cast<double>(a.x) - centerX, fy = static_cast<double>(a.y) - centerY;
  const double qa = dx * dx + dy * dy;
  if (!(qa >= kShortestClipSegment2) || !std::isfinite(qa)) return false;
  const double qb = 2 * (dx * fx + dy * fy);
  const double qc = fx * fx + fy * fy - static_cast<double>(radius) * radius;
  const double disc = qb * qb - 4 * qa * qc;
  // Written so NaN fails: a touching or missing line draws nothing.
  if (!(disc > 0) || !std::isfinite(disc)) return false;
  const double root = std::sqrt(disc);
  const double t0 = std::max(0.0, (-qb - root) / (2 * qa));
  const double t1 = std::min(1.0, (-qb + root) / (2 * qa));
  if (!(t1 > t0)) return false;
  span = {static_cast<float>(t0), static_cast<float>(t1)};
  return true;
}

std::size_t ClipPolylineToCircle(std::span<const ScreenPoint> polyline, float centerX, float centerY, float radius,
                                 std::vector<std::vector<ScreenPoint>>& pieces) {
  std::size_t count = 0;
  const auto next = [&] {
    if (count == pieces.size()) pieces.emplace_back();
    pieces[count++].clear();
  };
  // Ends the current piece; an empty one is reused as the next.
  const auto endPiece = [&] {
    if (!pieces[count - 1].empty()) next();
  };
  next();
  for (std::size_t i = 1; i < polyline.size(); ++i) {
    const ScreenPoint a = polyline[i - 1], b = polyline[i];
    SegmentSpan s;
    if (!ClipSegmentToCircle(a, b, centerX, centerY, radius, s)) {
      endPiece();
      continue;
    }
    const auto at = [&](float t) { return ScreenPoint{a.x + t * (b.x - a.x), a.y + t * (b.y - a.y)}; };
    // A segment entering from outside starts afresh on the rim; one continuing from inside joins on.
    if (pieces[count - 1].empty() || s.t0 > 0) {
      endPiece();
      pieces[count - 1].push_back(at(s.t0));
    }
    pieces[count - 1].push_back(s.t1 < 1 ? at(s.t1) : b);
    if (s.t1 < 1) endPiece();
  }
  if (pieces[count - 1].empty()) --count;
  return count;
}

// ---- minimap and world map ----------------------------------------------------------------------

void DrawMinimapRoute(ImDrawList& draw, const GameSnapshot& snapshot, std::span<const GroundPoint> polyline,
                      float screenHeight, const Settings& settings, const RoadLineSource* roads) {
  DrawingScratch& scratch = Scratch();
  const float scale = ScreenScale(screenHeight);
  const MinimapCircle circle = PlaceMinimap(snapshot, screenHeight, settings);

  if (settings.debug.drawRoads && roads != nullptr && *roads) {
    const float radius = MinimapRoadLinesRadius(settings, snapshot);
    scratch.roadLines.clear();
    if (radius > 0) (*roads)(snapshot.playerX, snapshot.playerZ, radius, scratch.roadLines);
    ProjectToMinimap(scratch.roadLines, snapshot, circle, scratch.roadPoints);
    const std::vector<ScreenPoint>& ends = scratch.roadPoints;
    for (std::size_t i = 0; i + 1 < ends.size(); i += 2) {
      const ScreenPoint a = ends[i], b = ends[i + 1];
      SegmentSpan s;
      if (!ClipSegmentToCircle(a, b, circle.centerX, circle.centerY, circle.radius, s)) continue;
      const ImVec2 d{b.x - a.x, b.y - a.y};
      draw.AddLine({a.x + s.t0 * d.x, a.y + s.t0 * d.y}, {a.x + s.t1 * d.x, a.y + s.t1 * d.y}, kRoadDebugColour,
                   kRoadDebugWidth * scale);
    }
  }

  ProjectToMinimap(polyline, snapshot, circle, scratch.projected);
  CutToMinimapReach(scratch.projected, circle);
  RoundCorners(scratch.projected, CornerSpacing(scale), settings.cornerRadius * scale, scratch.rounded);
  const std::size_t count =
      ClipPolylineToCircle(scratch.rounded, circle.centerX, circle.centerY, circle.radius, scratch.pieces);
  const float alpha = snapshot.minimapAlpha;
  StrokePolylines(draw, std::span(scratch.pieces.data(), count), settings.minimapLineWidth * scale,
                  settings.outlineWidth * scale, ScaleAlpha(settings.routeColor, alpha),
                  ScaleAlpha(settings.outlineColor, alpha));
}

void DrawWorldMapRoute(ImDrawList& draw, const GameSnapshot& snapshot, std::span<const GroundPoint> polyline,
                       float screenWidth, float screenHeight, const Settings& settings) {
  DrawingScratch& scratch = Scratch();
  const float scale = ScreenScale(screenHeight);
  ProjectToWorldMap(polyline, snapshot, screenWidth, screenHeight, settings, scratch.projected);
  // A garbage zoom or centre can leave points that are not numbers; each finite run is rounded
  // and drawn on its own rather than letting one such point spread through the averages.
  const std::vector<ScreenPoint>& projected = scratch.projected;
  const float margin =
      OffScreenMargin(settings.cornerRadius * scale, (settings.worldMapLineWidth + 2 * settings.outlineWidth) * scale);
  std::size_t count = 0;
  for (std::size_t start = 0; start < projected.size();) {
    if (!Finite(projected[start])) {
      ++start;
      continue;
    }
    std::size_t end = start + 1;
    while (end < projected.size() && Finite(projected[end])) ++end;
    if (end - start >= 2) {
      if (count == scratch.pieces.size()) scratch.pieces.emplace_back();
      RoundCornersOnScreen(std::span(projected).subspan(start, end - start), screenWidth, screenHeight, margin,
                           CornerSpacing(scale), settings.cornerRadius * scale, scratch.pieces[count++]);
    }
    start = end;
  }
  StrokePolylines(draw, std::span(scratch.pieces.data(), count), settings.worldMapLineWidth * scale,
                  settings.outlineWidth * scale, settings.routeColor, settings.outlineColor);
}

// ---- the ribbon ---------------------------------------------------------------------------------

float RibbonOpacity(const Settings& settings, float clockHours) {
  const float day = settings.worldOpacity, night = settings.worldNightOpacity;
  // No night value, or no clock read: the day's opacity throughout. NaN counts as neither.
  if (!(night >= 0) || !(clockHours >= 0)) return day;
  const float h = clockHours;
  float n = 0;
  if (h >= 21 || h < 4) {
    n = 1;
  } else if (h < 6) {
    n = 1 - (h - 4) * 0.5f;  // dawn
  } else if (h >= 19) {
    n = (h - 19) * 0.5f;  // dusk
  }
  return day + (night - day) * n;
}

namespace {

// Two passes of a centred moving average over up to 2w + 1 points in x, y and z; the ends and the
// distances stay. Prefix sums keep it linear whatever the radius.
void SmoothRibbonPath(std::vector<RibbonPathPoint>& path, std::size_t w, std::vector<double>& sums) {
  const std::size_t n = path.size();
  for (int pass = 0; pass < 2 && n >= 3; ++pass) {
    sums.assign(3 * (n + 1), 0.0);
    double* sx = sums.data();
    double* sy = sx + (n + 1);
    double* sz = sy + (n + 1);
    for (std::size_t i = 0; i < n; ++i) {
      sx[i + 1] = sx[i] + path[i].x;
      sy[i + 1] = sy[i] + path[i].y;
      sz[i + 1] = sz[i] + path[i].z;
    }
    for (std::size_t i = 1; i + 1 < n; ++i) {
      const std::size_t g = std::min({w, i, n - 1 - i});
      const double count = static_cast<double>(2 * g + 1);
      path[i].x = static_cast<float>((sx[i + g + 1] - sx[i - g]) / count);
      path[i].y = static_cast<float>((sy[i + g + 1] - sy[i - g]) / count);
      path[i].z = static_cast<float>((sz[i + g + 1] - sz[i - g]) / count);
    }
  }
}

// [World] Distance as the ribbon uses it: 0 for garbage, never beyond the ribbon's longest reach.
float RibbonReach(const Settings& settings) {
  return settings.worldDistance > 0 ? std::min(settings.worldDistance, kMaxRibbonDistance) : 0.0f;
}

float Dot(const float a[3], const float b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

}  // namespace

void BuildRibbonPath(const GameSnapshot& snapshot, const Route& route, const RouteNearest& nearest,
                     const Settings& settings, std::vector<RibbonPathPoint>& out) {
  out.clear();
  const std::vector<GroundPoint>& points = route.points;
  const std::size_t k = nearest.index;
  if (k < 1 || k >= points.size()) return;

  const auto height = [&](std::size_t i) {
    return i < route.heights.size() && std::isfinite(route.heights[i]) ? route.heights[i] : snapshot.playerY;
  };
  // The nearest point's height lies between its segment's ends, by its distance along it.
  const GroundPoint a = points[k - 1], b = points[k];
  const double segment = std::hypot(static_cast<double>(b.x) - a.x, static_cast<double>(b.z) - a.z);
  const double along =
      std::hypot(static_cast<double>(nearest.point.x) - a.x, static_cast<double>(nearest.point.z) - a.z);
  double t = segment > 0 ? along / segment : 0.0;
  t = t > 0 ? std::min(t, 1.0) : 0.0;  // NaN too
  const float nearestY = static_cast<float>(height(k - 1) + t * (height(k) - height(k - 1)));

  // The path is the player, the nearest point, then the route from k on; visited lazily, as only its
  // first Distance metres are used.
  const std::size_t pathCount = 2 + (points.size() - k);
  const auto pathPoint = [&](std::size_t i) -> RibbonPathPoint {
    if (i == 0) return {snapshot.playerX, snapshot.playerY, snapshot.playerZ, 0};
    if (i == 1) return {nearest.point.x, nearestY, nearest.point.z, 0};
    const std::size_t r = k + (i - 2);
    return {points[r].x, height(r), points[r].z, 0};
  };

  const double reach = RibbonReach(settings);
  out.push_back(pathPoint(0));
  double distance = 0;
  for (std::size_t i = 1; i < pathCount && distance < reach && out.size() < kMaxRibbonPoints; ++i) {
    const RibbonPathPoint p = pathPoint(i - 1), q = pathPoint(i);
    const double dx = static_cast<double>(q.x) - p.x, dy = static_cast<double>(q.y) - p.y,
                 dz = static_cast<double>(q.z) - p.z;
    const double length = std::hypot(dx, dz);
    // Non-finite ends give a non-finite length and are passed over like a point too close.
    if (!(length >= kShortestRibbonSegment) || !std::isfinite(length) || !std::isfinite(dy)) continue;
    const double steps = std::max(1.0, std::ceil(length));
    for (double j = 1; j <= steps && distance < reach && out.size() < kMaxRibbonPoints; ++j) {
      distance += length / steps;
      const double f = j / steps;
      out.push_back({static_cast<float>(p.x + f * dx), static_cast<float>(p.y + f * dy),
                     static_cast<float>(p.z + f * dz), static_cast<float>(distance)});
    }
  }

  const float radius = settings.worldCornerRadius;
  if (radius >= 0.5f) {  // rounds to at least 1; NaN fails
    const auto w = static_cast<std::size_t>(std::lround(std::min(radius, static_cast<float>(kMaxRibbonPoints))));
    SmoothRibbonPath(out, w, Scratch().sums);
  }
}

void DrawWorldRibbon(ImDrawList& draw, const GameSnapshot& snapshot, const Route& route, const RouteNearest& nearest,
                     float screenWidth, float screenHeight, const Settings& settings,
                     const RibbonOcclusion& occlusion) {
  DrawingScratch& scratch = Scratch();
  if (nearest.index < 1 || nearest.index >= route.points.size()) return;
  BuildRibbonPath(snapshot, route, nearest, settings, scratch.path);
  const std::vector<RibbonPathPoint>& path = scratch.path;

  const float opacity = RibbonOpacity(settings, snapshot.clockHours);
  const float reach = RibbonReach(settings), half = reach / 2, fadeNear = settings.worldFadeNear;
  const float width = settings.worldWidth, lift = settings.worldLift;
  const float halfWidth = screenWidth / 2, halfHeight = screenHeight / 2;
  const float* eye = snapshot.cameraPosition;
  const float* right = snapshot.cameraColumn0;
  const float* up = snapshot.cameraColumn1;
  const float* forward = snapshot.cameraColumn2;

  std::vector<RibbonVertexRow>& rows = scratch.rows;
  rows.resize(path.size());
  const std::size_t last = path.size() - 1;
  for (std::size_t i = 0; i < path.size(); ++i) {
    RibbonVertexRow& row = rows[i];
    row.valid = false;
    row.alpha = 0;
    const RibbonPathPoint& p = path[i];
    const RibbonPathPoint& ahead = path[std::min(i + 1, last)];
    const RibbonPathPoint& behind = path[i > 0 ? i - 1 : 0];
    const float dx = ahead.x - behind.x, dz = ahead.z - behind.z;
    const float length = std::sqrt(dx * dx + dz * dz);
    if (!(length >= kShortestDirection)) continue;
    const float sideX = -dz / length * width, sideZ = dx / length * width;

    float f = fadeNear > 0 ? std::min(1.0f, p.distance / fadeNear) : 1.0f;
    if (p.distance > half) f *= std::max(0.0f, (reach - p.distance) / half);
    row.alpha = (3 - 2 * f) * f * f * opacity;

    bool valid = true;
    for (int v = 0; v < 4 && valid; ++v) {
      const float r[3] = {p.x + sideX * kCrossOffsets[v] - eye[0], p.y + lift - eye[1],
                          p.z + sideZ * kCrossOffsets[v] - eye[2]};
      const float depth = Dot(r, forward);
      if (!(depth >= kNearestDepth)) {
        valid = false;
        break;
      }
      const float x = (Dot(r, right) * snapshot.cameraProjX / depth + 1) * halfWidth;
      const float y = (1 - Dot(r, up) * snapshot.cameraProjY / depth) * halfHeight;
      if (!std::isfinite(x) || !std::isfinite(y)) valid = false;
      row.screen[v] = {x, y};
      row.inverseDepth[v] = 1 / depth;
    }
    row.valid = valid;
  }

  const bool occluded = occlusion.callback != nullptr;
  if (occluded) draw.AddCallback(occlusion.callback, occlusion.userData);
  const ImVec2 white = draw._Data->TexUvWhitePixel;
  for (std::size_t i = 1; i < rows.size(); ++i) {
    const RibbonVertexRow& a = rows[i - 1];
    const RibbonVertexRow& b = rows[i];
    if (!a.valid || !b.valid || !(a.alpha > kFaintestAlpha || b.alpha > kFaintestAlpha)) continue;
    for (int j = 0; j < 3; ++j) {
      draw.PrimReserve(6, 4);
      const auto first = static_cast<ImDrawIdx>(draw._VtxCurrentIdx);
      for (const int v : {0, 1, 2, 0, 2, 3}) draw.PrimWriteIdx(static_cast<ImDrawIdx>(first + v));
      const auto vertex = [&](const RibbonVertexRow& row, int c) {
        const ImVec2 uv = occluded ? ImVec2(row.inverseDepth[c], 0) : white;
        draw.PrimWriteVtx(row.screen[c], uv, ScaleAlpha(settings.worldColor, kCrossAlpha[c] * row.alpha));
      };
      vertex(a, j);
      vertex(a, j + 1);
      vertex(b, j + 1);
      vertex(b, j);
    }
  }
  // The occlusion pipeline stays bound until the backend's own state is set again.
  if (occluded) draw.AddCallback(ImDrawCallback_ResetRenderState, nullptr);
}

}  // namespace pathlight
