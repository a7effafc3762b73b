// The three drawing routines the in-frame renderer calls once per frame with a Dear ImGui draw
// list: the route on the minimap, on the open world map, and the ribbon in the 3D world.
#pragma once

#include <imgui.h>

#include <functional>
#include <span>
#include <vector>

#include "game/game_snapshot.hpp"
#include "host/settings.hpp"
#include "mapgeom/map_projection.hpp"   // ScreenPoint, MinimapCircle, PlaceMinimap, ...
#include "mapgeom/route_geometry.hpp"   // RouteNearest, RoundCorners, NearestOnRoute, RouteFromPlayer
#include "routing/route.hpp"            // Route { points, heights }

namespace pathlight {
// Road lines around (x, z) within radius, pairs of GroundPoint appended (roads::CollectRoadLines shape).
using RoadLineSource = std::function<void(float x, float z, float radius, std::vector<GroundPoint>& out)>;
// Outline pass first (when outlineWidth > 0) then the colour pass; lines of < 2 points skipped.
void StrokePolylines(ImDrawList& draw, std::span<const std::vector<ScreenPoint>> lines, float lineWidth,
                     float outlineWidth, ImU32 colour, ImU32 outlineColour);
// screenHeight gives the scale (height / 1080) and the minimap's place. roads may be null (no debug view).
void DrawMinimapRoute(ImDrawList& draw, const GameSnapshot& snapshot, std::span<const GroundPoint> polyline,
                      float screenHeight, const Settings& settings, const RoadLineSource* roads);
void DrawWorldMapRoute(ImDrawList& draw, const GameSnapshot& snapshot, std::span<const GroundPoint> polyline,
                       float screenWidth, float screenHeight, const Settings& settings);
// The occlusion callback added before the ribbon's triangles; callback null = no occlusion.
struct RibbonOcclusion { ImDrawCallback callback = nullptr; void* userData = nullptr; };
void DrawWorldRibbon(ImDrawList& draw, const GameSnapshot& snapshot, const Route& route, const RouteNearest& nearest,
                     float screenWidth, float screenHeight, const Settings& settings, const RibbonOcclusion& occlusion);
// [World] Opacity blended toward NightOpacity by the time of day.
[[nodiscard]] float RibbonOpacity(const Settings& settings, float clockHours);
}
