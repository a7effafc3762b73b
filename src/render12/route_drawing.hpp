// The route drawn into a Dear ImGui draw list inside the game's frame: on the minimap (clipped to
// its circle), on the open world map, and as a ribbon on the ground ahead of the player. Called on
// the presenting thread once per frame; the point lists are scratch of the calling thread, so a
// steady frame allocates nothing.
//
// Pixel sizes in the settings are written for a 1080-line screen and scaled by the frame's height.
// Numbers from the game may be garbage: every point count is bounded and non-finite points are
// left out, never looped over without end.
#pragma once

#include <imgui.h>

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "game/game_snapshot.hpp"
#include "settings/settings.hpp"
#include "mapgeom/map_projection.hpp"
#include "mapgeom/route_geometry.hpp"
#include "routing/route.hpp"

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
struct RibbonOcclusion {
  ImDrawCallback callback = nullptr;
  void* userData = nullptr;
};

// Nothing is drawn unless nearest.index (k) is at least 1 and inside the route: k = 0 means no
// segment had a finite distance to the player.
void DrawWorldRibbon(ImDrawList& draw, const GameSnapshot& snapshot, const Route& route, const RouteNearest& nearest,
                     float screenWidth, float screenHeight, const Settings& settings, const RibbonOcclusion& occlusion);

// [World] Opacity blended toward NightOpacity by the time of day.
[[nodiscard]] float RibbonOpacity(const Settings& settings, float clockHours);

// ---- the pieces, for the renderer's tests and benchmarks -------------------------------------------

// The colour with its alpha byte multiplied by factor and truncated; a factor outside 0..1 (NaN
// too) is held inside it, so the byte never overflows.
[[nodiscard]] ImU32 ScaleAlpha(ImU32 colour, float factor);

// Where the segment a -> b runs inside the circle, as the parameters t0 < t1 in 0..1 of its ends
// there. False for a segment shorter than 1e-3 pixels, one that misses or only touches the circle,
// and any non-finite input.
struct SegmentSpan {
  float t0 = 0, t1 = 0;
};
[[nodiscard]] bool ClipSegmentToCircle(ScreenPoint a, ScreenPoint b, float centerX, float centerY, float radius,
                                       SegmentSpan& span);

// The parts of the polyline inside the circle; a part that crosses the rim ends exactly on it.
// Fills pieces[0 .. count) and returns count; the vectors beyond stay for reuse, so a steady
// caller allocates nothing.
[[nodiscard]] std::size_t ClipPolylineToCircle(std::span<const ScreenPoint> polyline, float centerX, float centerY,
                                               float radius, std::vector<std::vector<ScreenPoint>>& pieces);

// A point of the ribbon's centre line: world position and the distance along it from the player.
struct RibbonPathPoint {
  float x, y, z;
  float distance;
};

// The ribbon's longest reach and point count, whatever [World] Distance says.
inline constexpr float kMaxRibbonDistance = 2000.0f;
inline constexpr std::size_t kMaxRibbonPoints = 4096;

// The centre line: from the player through the nearest point and along the route, resampled in
// steps of at most a metre up to [World] Distance and smoothed by [World] CornerRadius. Missing or
// non-finite heights are the player's. Replaces out's contents; empty when k is not in 1 .. last.
void BuildRibbonPath(const GameSnapshot& snapshot, const Route& route, const RouteNearest& nearest,
                     const Settings& settings, std::vector<RibbonPathPoint>& out);

}  // namespace pathlight
