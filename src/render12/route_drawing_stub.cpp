// Stand-in drawing routines until the real ones arrive: the route as a plain line in the route
// colour, enough to see the renderer draw. Deleted when route_drawing.cpp is merged.
#include "render12/route_drawing.hpp"

namespace pathlight {

namespace {

void Plain(ImDrawList& draw, const std::vector<ScreenPoint>& points, float width, ImU32 colour) {
  if (points.size() < 2) return;
  std::vector<ImVec2> line;
  for (const ScreenPoint& p : points) line.push_back({p.x, p.y});
  draw.AddPolyline(line.data(), static_cast<int>(line.size()), colour, ImDrawFlags_None, width);
}

}  // namespace

void StrokePolylines(ImDrawList& draw, std::span<const std::vector<ScreenPoint>> lines, float lineWidth,
                     float outlineWidth, ImU32 colour, ImU32 outlineColour) {
  if (outlineWidth > 0) {
    for (const auto& line : lines) Plain(draw, line, lineWidth + 2 * outlineWidth, outlineColour);
  }
  for (const auto& line : lines) Plain(draw, line, lineWidth, colour);
}

void DrawMinimapRoute(ImDrawList& draw, const GameSnapshot& snapshot, std::span<const GroundPoint> polyline,
                      float screenHeight, const Settings& settings, const RoadLineSource*) {
  const MinimapCircle circle = PlaceMinimap(snapshot, screenHeight, settings);
  std::vector<ScreenPoint> points;
  ProjectToMinimap(polyline, snapshot, circle, points);
  CutToMinimapReach(points, circle);
  Plain(draw, points, settings.minimapLineWidth * screenHeight / 1080.0f, settings.routeColor);
}

void DrawWorldMapRoute(ImDrawList& draw, const GameSnapshot& snapshot, std::span<const GroundPoint> polyline,
                       float screenWidth, float screenHeight, const Settings& settings) {
  std::vector<ScreenPoint> points;
  ProjectToWorldMap(polyline, snapshot, screenWidth, screenHeight, settings, points);
  Plain(draw, points, settings.worldMapLineWidth * screenHeight / 1080.0f, settings.routeColor);
}

void DrawWorldRibbon(ImDrawList&, const GameSnapshot&, const Route&, const RouteNearest&, float, float,
                     const Settings&, const RibbonOcclusion&) {}

float RibbonOpacity(const Settings& settings, float) { return settings.worldOpacity; }

}  // namespace pathlight
