// Where the minimap circle lies on screen and how a world point lands on the minimap and on the
// world map. Pure functions of a snapshot and the settings, shared by every renderer; callable from
// any thread.
//
// Screen points are pixels of the target's client area, x to the right and y downwards. Pixel
// settings ([Minimap] CenterX, CenterY, Radius, line widths, [Style] CornerRadius) are written for a
// screen 1080 pixels high and scaled by ScreenScale.
#pragma once

#include <span>
#include <vector>

#include "game/game_snapshot.hpp"
#include "roads/road_graph.hpp"
#include "settings/settings.hpp"

namespace pathlight {

// A point on the target, pixels. Kept apart from GroundPoint (world metres) so a world point can
// only reach the screen through a projection below.
struct ScreenPoint {
  float x;
  float y;
};

// The minimap disc on screen: centre and radius in pixels, and the map's scale there.
struct MinimapCircle {
  float centerX = 0;
  float centerY = 0;
  float radius = 0;
  float pixelsPerMeter = 0;
};

// The game fades its minimap out rather than hiding it at once: below this alpha no view is drawn
// over or beside it (a line over an almost invisible minimap would float on its own).
inline constexpr float kLeastMinimapAlpha = 0.05f;

// The screen height the pixel settings are written for.
inline constexpr float kReferenceScreenHeight = 1080.0f;

// s = screen height / 1080.
[[nodiscard]] float ScreenScale(float screenHeight);

// From the minimap widget the game reports ([Minimap] AutoCalibrate, widgetSize > 0), else from the
// configured centre and radius moved and scaled by the widget's offset and scale.
[[nodiscard]] MinimapCircle PlaceMinimap(const GameSnapshot& snapshot, float screenHeight, const Settings& settings);

// The minimap turns with minimapRotation (degrees) about the player, who sits at the centre; at
// rotation 0 world +z points up the screen.
[[nodiscard]] ScreenPoint ProjectToMinimap(GroundPoint p, const GameSnapshot& snapshot, const MinimapCircle& circle);
// The whole polyline, replacing out's contents.
void ProjectToMinimap(std::span<const GroundPoint> points, const GameSnapshot& snapshot, const MinimapCircle& circle,
                      std::vector<ScreenPoint>& out);

// Shortens the line to end one point after its last point within 1.5 radii of the centre; empties a
// line that never comes that near. The exact cut at the rim is the drawing's circular clip.
void CutToMinimapReach(std::vector<ScreenPoint>& polyline, const MinimapCircle& circle);

// The road debug view's reach around the player, metres: the minimap's radius at its zoom and a
// margin, never beyond kMaxRoadLinesRadius (a zoom of 0 read from the game would otherwise ask for
// the whole world every frame); 0 for garbage.
inline constexpr float kMaxRoadLinesRadius = 2000.0f;
[[nodiscard]] float MinimapRoadLinesRadius(const Settings& settings, const GameSnapshot& snapshot);

// The open world map, centred on (worldMapCenterX, worldMapCenterY) at worldMapZoom over
// [WorldMap] ZoomDivisor.
[[nodiscard]] ScreenPoint ProjectToWorldMap(GroundPoint p, const GameSnapshot& snapshot, float screenWidth,
                                            float screenHeight, const Settings& settings);
// The whole polyline, replacing out's contents.
void ProjectToWorldMap(std::span<const GroundPoint> points, const GameSnapshot& snapshot, float screenWidth,
                       float screenHeight, const Settings& settings, std::vector<ScreenPoint>& out);

}  // namespace pathlight
