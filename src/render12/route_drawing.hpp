// The route drawn into a Dear ImGui draw list inside the game's frame: on the minimap (clipped to
// its circle), on the open world map, and as a ribbon on the ground ahead of the player. Called on
// the presenting thread once per frame with the renderer's own DrawingScratch, whose lists keep
// their capacity from frame to frame, so a steady frame allocates nothing. The overloads without a
// scratch use their thread's.
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
#include "render12/frame_plan.hpp"
#include "routing/route.hpp"

namespace pathlight {

// Road lines around (x, z) within radius, pairs of GroundPoint appended (roads::CollectRoadLines shape).
using RoadLineSource = std::function<void(float x, float z, float radius, std::vector<GroundPoint>& out)>;

// A point of the ribbon's centre line: world position and the distance along it from the player.
struct RibbonPathPoint {
  float x, y, z;
  float distance;
};

// A ribbon point once projected: its four cross-section vertices on screen and their colours.
struct RibbonVertexRow {
  ImVec2 screen[4];
  float inverseDepth[4];
  ImU32 colour[4];
  float alpha;
  bool valid;
};

// Every list a frame's drawings work in, owned by the renderer and kept between frames so that their
// capacity is reused. One scratch serves one thread at a time.
struct DrawingScratch {
  std::vector<GroundPoint> fromPlayer;  // the route from the player
  std::vector<ScreenPoint> projected;
  std::vector<ScreenPoint> rounded;
  std::vector<std::vector<ScreenPoint>> pieces;
  std::vector<GroundPoint> roadLines;
  std::vector<ScreenPoint> roadPoints;
  std::vector<ImVec2> stroke;
  std::vector<std::size_t> strokeEnds;
  std::vector<RibbonPathPoint> path;
  std::vector<double> sums;
  std::vector<RibbonVertexRow> rows;
  RoundingScratch rounding;
};

// Outline pass first (when outlineWidth > 0) then the colour pass; lines of < 2 points skipped.
void StrokePolylines(ImDrawList& draw, std::span<const std::vector<ScreenPoint>> lines, float lineWidth,
                     float outlineWidth, ImU32 colour, ImU32 outlineColour);
void StrokePolylines(ImDrawList& draw, DrawingScratch& scratch, std::span<const std::vector<ScreenPoint>> lines,
                     float lineWidth, float outlineWidth, ImU32 colour, ImU32 outlineColour);

// screenHeight gives the scale (height / 1080) and the minimap's place. roads may be null (no debug view).
void DrawMinimapRoute(ImDrawList& draw, const GameSnapshot& snapshot, std::span<const GroundPoint> polyline,
                      float screenHeight, const Settings& settings, const RoadLineSource* roads);
void DrawMinimapRoute(ImDrawList& draw, DrawingScratch& scratch, const GameSnapshot& snapshot,
                      std::span<const GroundPoint> polyline, float screenHeight, const Settings& settings,
                      const RoadLineSource* roads);

void DrawWorldMapRoute(ImDrawList& draw, const GameSnapshot& snapshot, std::span<const GroundPoint> polyline,
                       float screenWidth, float screenHeight, const Settings& settings);
void DrawWorldMapRoute(ImDrawList& draw, DrawingScratch& scratch, const GameSnapshot& snapshot,
                       std::span<const GroundPoint> polyline, float screenWidth, float screenHeight,
                       const Settings& settings);

// The occlusion callback added before the ribbon's triangles; callback null = no occlusion.
struct RibbonOcclusion {
  ImDrawCallback callback = nullptr;
  void* userData = nullptr;
};

// Nothing is drawn unless nearest.index (k) is at least 1 and inside the route: k = 0 means no
// segment had a finite distance to the player.
void DrawWorldRibbon(ImDrawList& draw, const GameSnapshot& snapshot, const Route& route, const RouteNearest& nearest,
                     float screenWidth, float screenHeight, const Settings& settings, const RibbonOcclusion& occlusion);
void DrawWorldRibbon(ImDrawList& draw, DrawingScratch& scratch, const GameSnapshot& snapshot, const Route& route,
                     const RouteNearest& nearest, float screenWidth, float screenHeight, const Settings& settings,
                     const RibbonOcclusion& occlusion);

// The route views a frame's decisions ask for: the ribbon ahead of the player, and the route from the
// player on the world map when it is open, else on the minimap; the road debug view on its own when
// there is no route to draw. route may be null when decisions.routeUsable is false.
void DrawRouteViews(ImDrawList& draw, DrawingScratch& scratch, const GameSnapshot& snapshot, const Route* route,
                    const FrameDecisions& decisions, float screenWidth, float screenHeight, const Settings& settings,
                    const RoadLineSource* roads, const RibbonOcclusion& occlusion);

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

// The ribbon's longest reach and point count, whatever [World] Distance says.
inline constexpr float kMaxRibbonDistance = 2000.0f;
inline constexpr std::size_t kMaxRibbonPoints = 4096;

// The centre line: from the player through the nearest point and along the route, resampled in
// steps of at most a metre up to [World] Distance and smoothed by [World] CornerRadius. Missing or
// non-finite heights are the player's. Replaces out's contents; empty when k is not in 1 .. last.
void BuildRibbonPath(const GameSnapshot& snapshot, const Route& route, const RouteNearest& nearest,
                     const Settings& settings, std::vector<RibbonPathPoint>& out);
void BuildRibbonPath(const GameSnapshot& snapshot, const Route& route, const RouteNearest& nearest,
                     const Settings& settings, std::vector<RibbonPathPoint>& out, std::vector<double>& sums);

}  // namespace pathlight
