// Sections: scratch and colours, strokes and the circle clip, minimap and world map, the ribbon.
#include "render12/route_drawing.hpp"

#include <imgui_internal.h>

#include <algorithm>
#include <cmath>

namespace pathlight {

namespace {

// ---- scratch and colours ------------------------------------------------------------------------

// The lists of the calls that bring no scratch of their own.
DrawingScratch& ThreadScratch() {
  thread_local DrawingScratch scratch;
  return scratch;
}

constexpr ImU32 kRoadDebugColour = 0xDCFFFF00;
constexpr float kRoadDebugWidth = 1.5f;

// A segment this short (squared pixels) has no direction to clip along.
constexpr double kShortestClipSegment2 = 1e-6;
// Both ends of a segment this far inside the circle (squared fraction of its radius) lie so deep in
// it that the exact clip keeps the whole segment: its roots are farther from 0 and 1 than rounding
// can move them.
constexpr double kDeepInside2 = (1 - 1e-4) * (1 - 1e-4);

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
  StrokePolylines(draw, ThreadScratch(), lines, lineWidth, outlineWidth, colour, outlineColour);
}

void StrokePolylines(ImDrawList& draw, DrawingScratch& scratch, std::span<const std::vector<ScreenPoint>> lines,
                     float lineWidth, float outlineWidth, ImU32 colour, ImU32 outlineColour) {
  // Every line of two points or more in Dear ImGui's points once, for both passes.
  std::vector<ImVec2>& points = scratch.stroke;
  std::vector<std::size_t>& ends = scratch.strokeEnds;
  points.clear();
  ends.clear();
  for (const auto& line : lines) {
    if (line.size() < 2) continue;
    for (const ScreenPoint p : line) points.push_back({p.x, p.y});
    ends.push_back(points.size());
  }
  const auto pass = [&](ImU32 c, float thickness) {
    std::size_t begin = 0;
    for (const std::size_t end : ends) {
      draw.AddPolyline(points.data() + begin, static_cast<int>(end - begin), c, ImDrawFlags_None, thickness);
      begin = end;
    }
  };
  // The outline goes first so the colour pass lies over it along the whole line.
  if (outlineWidth > 0) pass(outlineColour, lineWidth + 2 * outlineWidth);
  pass(colour, lineWidth);
}

bool ClipSegmentToCircle(ScreenPoint a, ScreenPoint b, float centerX, float centerY, float radius, SegmentSpan& span) {
  const double dx = static_cast<double>(b.x) - a.x, dy = static_cast<double>(b.y) - a.y;
  const double fx = static_cast<double>(a.x) - centerX, fy = static_cast<double>(a.y) - centerY;
  const double qa = dx * dx + dy * dy;
  if (!(qa >= kShortestClipSegment2) || !std::isfinite(qa)) return false;
  const double r2 = static_cast<double>(radius) * radius;
  const double gx = static_cast<double>(b.x) - centerX, gy = static_cast<double>(b.y) - centerY;
  // Most of a minimap route lies well inside the circle: kept whole without the roots. A radius
  // that is not finite fails here and goes the exact way.
  if (fx * fx + fy * fy < kDeepInside2 * r2 && gx * gx + gy * gy < kDeepInside2 * r2 && std::isfinite(r2)) {
    span = {0.0f, 1.0f};
    return true;
  }
  const double qb = 2 * (dx * fx + dy * fy);
  const double qc = fx * fx + fy * fy - r2;
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
  DrawMinimapRoute(draw, ThreadScratch(), snapshot, polyline, screenHeight, settings, roads);
}

void DrawMinimapRoute(ImDrawList& draw, DrawingScratch& scratch, const GameSnapshot& snapshot,
                      std::span<const GroundPoint> polyline, float screenHeight, const Settings& settings,
                      const RoadLineSource* roads) {
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
  RoundCorners(scratch.projected, CornerSpacing(scale), settings.cornerRadius * scale, scratch.rounded,
               scratch.rounding);
  const std::size_t count =
      ClipPolylineToCircle(scratch.rounded, circle.centerX, circle.centerY, circle.radius, scratch.pieces);
  const float alpha = snapshot.minimapAlpha;
  StrokePolylines(draw, scratch, std::span(scratch.pieces.data(), count), settings.minimapLineWidth * scale,
                  settings.outlineWidth * scale, ScaleAlpha(settings.routeColor, alpha),
                  ScaleAlpha(settings.outlineColor, alpha));
}

void DrawWorldMapRoute(ImDrawList& draw, const GameSnapshot& snapshot, std::span<const GroundPoint> polyline,
                       float screenWidth, float screenHeight, const Settings& settings) {
  DrawWorldMapRoute(draw, ThreadScratch(), snapshot, polyline, screenWidth, screenHeight, settings);
}

void DrawWorldMapRoute(ImDrawList& draw, DrawingScratch& scratch, const GameSnapshot& snapshot,
                       std::span<const GroundPoint> polyline, float screenWidth, float screenHeight,
                       const Settings& settings) {
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
                           CornerSpacing(scale), settings.cornerRadius * scale, scratch.pieces[count++],
                           scratch.rounding);
    }
    start = end;
  }
  StrokePolylines(draw, scratch, std::span(scratch.pieces.data(), count), settings.worldMapLineWidth * scale,
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
    sums.resize(3 * (n + 1));
    double* sx = sums.data();
    double* sy = sx + (n + 1);
    double* sz = sy + (n + 1);
    sx[0] = sy[0] = sz[0] = 0;
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
  BuildRibbonPath(snapshot, route, nearest, settings, out, ThreadScratch().sums);
}

void BuildRibbonPath(const GameSnapshot& snapshot, const Route& route, const RouteNearest& nearest,
                     const Settings& settings, std::vector<RibbonPathPoint>& out, std::vector<double>& sums) {
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
    SmoothRibbonPath(out, w, sums);
  }
}

void DrawWorldRibbon(ImDrawList& draw, const GameSnapshot& snapshot, const Route& route, const RouteNearest& nearest,
                     float screenWidth, float screenHeight, const Settings& settings,
                     const RibbonOcclusion& occlusion) {
  DrawWorldRibbon(draw, ThreadScratch(), snapshot, route, nearest, screenWidth, screenHeight, settings, occlusion);
}

void DrawWorldRibbon(ImDrawList& draw, DrawingScratch& scratch, const GameSnapshot& snapshot, const Route& route,
                     const RouteNearest& nearest, float screenWidth, float screenHeight, const Settings& settings,
                     const RibbonOcclusion& occlusion) {
  if (nearest.index < 1 || nearest.index >= route.points.size()) return;
  BuildRibbonPath(snapshot, route, nearest, settings, scratch.path, scratch.sums);
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

    // All four vertices without an early exit; the row is drawn only if every one lies beyond the
    // near plane and lands on finite pixels.
    float depth[4], x[4], y[4];
    for (int v = 0; v < 4; ++v) {
      const float r[3] = {p.x + sideX * kCrossOffsets[v] - eye[0], p.y + lift - eye[1],
                          p.z + sideZ * kCrossOffsets[v] - eye[2]};
      depth[v] = Dot(r, forward);
      x[v] = (Dot(r, right) * snapshot.cameraProjX / depth[v] + 1) * halfWidth;
      y[v] = (1 - Dot(r, up) * snapshot.cameraProjY / depth[v]) * halfHeight;
    }
    // x * 0 + y * 0 is 0 exactly when both are finite (NaN for infinities and NaN).
    bool valid = true;
    for (int v = 0; v < 4; ++v) valid &= (depth[v] >= kNearestDepth) & (x[v] * 0.0f + y[v] * 0.0f == 0.0f);
    if (!valid) continue;
    for (int v = 0; v < 4; ++v) {
      row.screen[v] = {x[v], y[v]};
      row.inverseDepth[v] = 1 / depth[v];
      row.colour[v] = ScaleAlpha(settings.worldColor, kCrossAlpha[v] * row.alpha);
    }
    row.valid = true;
  }

  // Between two drawn rows, three quads: outer left, middle, outer right.
  const auto drawn = [&](const RibbonVertexRow& a, const RibbonVertexRow& b) {
    return a.valid && b.valid && (a.alpha > kFaintestAlpha || b.alpha > kFaintestAlpha);
  };
  int quads = 0;
  for (std::size_t i = 1; i < rows.size(); ++i) quads += drawn(rows[i - 1], rows[i]) ? 3 : 0;

  const bool occluded = occlusion.callback != nullptr;
  if (occluded) draw.AddCallback(occlusion.callback, occlusion.userData);
  // One reservation for the whole ribbon when its indices stay below 16 bits' limit, where quad by
  // quad reservations would not have started a new vertex offset either; else quad by quad as they
  // do. The vertices and indices are the same both ways.
  const bool reserveOnce =
      sizeof(ImDrawIdx) > 2 || static_cast<std::size_t>(draw._VtxCurrentIdx) + 4 * quads < (std::size_t{1} << 16);
  if (reserveOnce && quads > 0) draw.PrimReserve(6 * quads, 4 * quads);
  const ImVec2 white = draw._Data->TexUvWhitePixel;
  // Written through local pointers: the colours' stores could otherwise alias the list's counters.
  const auto quad = [&](const RibbonVertexRow& a, const RibbonVertexRow& b, int j) {
    ImDrawIdx* idx = draw._IdxWritePtr;
    ImDrawVert* vtx = draw._VtxWritePtr;
    const auto first = static_cast<ImDrawIdx>(draw._VtxCurrentIdx);
    idx[0] = first;
    idx[1] = static_cast<ImDrawIdx>(first + 1);
    idx[2] = static_cast<ImDrawIdx>(first + 2);
    idx[3] = first;
    idx[4] = static_cast<ImDrawIdx>(first + 2);
    idx[5] = static_cast<ImDrawIdx>(first + 3);
    const auto put = [&](ImDrawVert& out, const RibbonVertexRow& row, int c) {
      out.pos = row.screen[c];
      out.uv = occluded ? ImVec2(row.inverseDepth[c], 0) : white;
      out.col = row.colour[c];
    };
    put(vtx[0], a, j);
    put(vtx[1], a, j + 1);
    put(vtx[2], b, j + 1);
    put(vtx[3], b, j);
    draw._IdxWritePtr = idx + 6;
    draw._VtxWritePtr = vtx + 4;
    draw._VtxCurrentIdx += 4;
  };
  for (std::size_t i = 1; i < rows.size(); ++i) {
    const RibbonVertexRow& a = rows[i - 1];
    const RibbonVertexRow& b = rows[i];
    if (!drawn(a, b)) continue;
    for (int j = 0; j < 3; ++j) {
      if (!reserveOnce) draw.PrimReserve(6, 4);
      quad(a, b, j);
    }
  }
  // The occlusion pipeline stays bound until the backend's own state is set again.
  if (occluded) draw.AddCallback(ImDrawCallback_ResetRenderState, nullptr);
}

// ---- the frame's route views --------------------------------------------------------------------

void DrawRouteViews(ImDrawList& draw, DrawingScratch& scratch, const GameSnapshot& snapshot, const Route* route,
                    const FrameDecisions& decisions, float screenWidth, float screenHeight, const Settings& settings,
                    const RoadLineSource* roads, const RibbonOcclusion& occlusion) {
  const bool views = decisions.minimap || decisions.worldMap || decisions.ribbon;
  if (decisions.routeUsable && route != nullptr && views) {
    const RouteNearest nearest = NearestOnRoute(route->points, {snapshot.playerX, snapshot.playerZ});
    // Index 0 means no segment had a finite distance: there is no "ahead" to lay a ribbon on.
    if (decisions.ribbon && nearest.index >= 1) {
      DrawWorldRibbon(draw, scratch, snapshot, *route, nearest, screenWidth, screenHeight, settings, occlusion);
    }
    if (decisions.minimap || decisions.worldMap) {
      std::vector<GroundPoint>& polyline = scratch.fromPlayer;
      polyline.clear();
      RouteFromPlayer(route->points, snapshot, nearest, polyline);
      if (snapshot.worldMapOpen) {
        DrawWorldMapRoute(draw, scratch, snapshot, polyline, screenWidth, screenHeight, settings);
      } else {
        DrawMinimapRoute(draw, scratch, snapshot, polyline, screenHeight, settings, roads);
      }
    }
  } else if (decisions.roadDebug) {
    DrawMinimapRoute(draw, scratch, snapshot, {}, screenHeight, settings, roads);
  }
}

}  // namespace pathlight
