#include "mapgeom/map_projection.hpp"

#include <algorithm>
#include <cmath>

namespace pathlight {

namespace {

// The reference layout the auto-calibrated placement is measured from: the configured centre is an
// offset from a widget of this size at this position on a 1080-line screen.
constexpr float kCalibrationWidgetX = 150.0f;
constexpr float kCalibrationWidgetY = 945.0f;
constexpr float kCalibrationWidgetSize = 200.0f;

// A point is near the minimap within this many radii of its centre.
constexpr double kReachRadii = 1.5;

constexpr float kDegreesToRadians = 3.1415927f / 180.0f;

}  // namespace

float ScreenScale(float screenHeight) { return screenHeight / kReferenceScreenHeight; }

MinimapCircle PlaceMinimap(const GameSnapshot& snapshot, float screenHeight, const Settings& settings) {
  MinimapCircle circle;
  if (settings.minimapAutoCalibrate && snapshot.widgetSize > 0) {
    // The widget's own size carries the screen scale, so s cancels out.
    const float u = snapshot.widgetSize / kCalibrationWidgetSize;
    circle.centerX = (settings.minimapCenterX - kCalibrationWidgetX) * u + snapshot.widgetX;
    circle.centerY = (settings.minimapCenterY - kCalibrationWidgetY) * u + snapshot.widgetY;
    circle.radius = settings.minimapRadius * u;
    circle.pixelsPerMeter = settings.minimapPixelsPerMeter * snapshot.minimapZoom * u;
    return circle;
  }
  const float s = ScreenScale(screenHeight);
  circle.centerX = (settings.minimapCenterX + snapshot.widgetOffsetX) * s;
  // The minimap is anchored to the bottom edge: its distance from there scales, not its y.
  circle.centerY = screenHeight - (kReferenceScreenHeight - settings.minimapCenterY - snapshot.widgetOffsetY) * s;
  circle.radius = snapshot.widgetScale * settings.minimapRadius * s;
  circle.pixelsPerMeter = settings.minimapPixelsPerMeter * snapshot.minimapZoom * snapshot.widgetScale * s;
  return circle;
}

namespace {

// The minimap's projection with its sine and cosine taken once for a whole line, and every number
// it needs held apart from the output, which the compiler must otherwise assume they share.
struct MinimapTurn {
  float c, s, playerX, playerZ, pixelsPerMeter, centerX, centerY;
  MinimapTurn(const GameSnapshot& snapshot, const MinimapCircle& circle)
      : playerX(snapshot.playerX),
        playerZ(snapshot.playerZ),
        pixelsPerMeter(circle.pixelsPerMeter),
        centerX(circle.centerX),
        centerY(circle.centerY) {
    const float theta = snapshot.minimapRotation * kDegreesToRadians;
    c = std::cos(theta);
    s = std::sin(theta);
  }
  ScreenPoint Project(GroundPoint p) const {
    const float dx = p.x - playerX, dz = p.z - playerZ;
    // Screen y grows downwards, so world +z (north at rotation 0) is negative y.
    return {(dx * c - dz * s) * pixelsPerMeter + centerX, (-dx * s - dz * c) * pixelsPerMeter + centerY};
  }
};

}  // namespace

ScreenPoint ProjectToMinimap(GroundPoint p, const GameSnapshot& snapshot, const MinimapCircle& circle) {
  return MinimapTurn(snapshot, circle).Project(p);
}

void ProjectToMinimap(std::span<const GroundPoint> points, const GameSnapshot& snapshot, const MinimapCircle& circle,
                      std::vector<ScreenPoint>& out) {
  const MinimapTurn turn(snapshot, circle);
  out.resize(points.size());
  for (std::size_t i = 0; i < points.size(); ++i) out[i] = turn.Project(points[i]);
}

void CutToMinimapReach(std::vector<ScreenPoint>& polyline, const MinimapCircle& circle) {
  const double reach = kReachRadii * circle.radius;
  const double reach2 = reach * reach;
  std::size_t keep = 0;
  for (std::size_t i = polyline.size(); i-- > 0;) {
    const double dx = static_cast<double>(polyline[i].x) - circle.centerX;
    const double dy = static_cast<double>(polyline[i].y) - circle.centerY;
    // Written so a NaN point or radius is never near.
    if (dx * dx + dy * dy < reach2 && reach >= 0) {
      keep = i + 2;
      break;
    }
  }
  if (keep < polyline.size()) polyline.resize(keep);
}

float MinimapRoadLinesRadius(const Settings& settings, const GameSnapshot& snapshot) {
  const float radius = settings.minimapRadius / (snapshot.minimapZoom * settings.minimapPixelsPerMeter) + 5.0f;
  if (!(radius > 0)) return 0;  // NaN too
  return std::min(radius, kMaxRoadLinesRadius);
}

ScreenPoint ProjectToWorldMap(GroundPoint p, const GameSnapshot& snapshot, float screenWidth, float screenHeight,
                              const Settings& settings) {
  const float f = snapshot.worldMapZoom / settings.worldMapZoomDivisor * ScreenScale(screenHeight);
  return {(p.x - snapshot.worldMapCenterX) * f + screenWidth / 2,
          screenHeight / 2 - (p.z - snapshot.worldMapCenterY) * f};
}

void ProjectToWorldMap(std::span<const GroundPoint> points, const GameSnapshot& snapshot, float screenWidth,
                       float screenHeight, const Settings& settings, std::vector<ScreenPoint>& out) {
  out.resize(points.size());
  for (std::size_t i = 0; i < points.size(); ++i)
    out[i] = ProjectToWorldMap(points[i], snapshot, screenWidth, screenHeight, settings);
}

}  // namespace pathlight
