// The route as the maps draw it: cut at the player and with rounded corners. Pure functions,
// callable from any thread.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "game/game_snapshot.hpp"
#include "mapgeom/map_projection.hpp"
#include "roads/road_graph.hpp"

namespace pathlight {

// The point of a route nearest a query, and the index of the end point of the segment it lies on.
struct RouteNearest {
  GroundPoint point{0, 0};
  std::size_t index = 0;
};

// Over a route of at least two points (fewer gives its first point, or (0, 0), at index 0). On equal
// distances the earlier segment wins, so a query on a shared point gives that point's index.
[[nodiscard]] RouteNearest NearestOnRoute(std::span<const GroundPoint> route, GroundPoint query);

// Appends the route as seen from the player: the player, the nearest point, then the route from
// nearest.index on. Without a valid player, the whole route.
void RouteFromPlayer(std::span<const GroundPoint> route, const GameSnapshot& snapshot, const RouteNearest& nearest,
                     std::vector<GroundPoint>& out);

// The spacing and radius every renderer rounds its screen lines with, for screen scale s.
[[nodiscard]] inline float CornerSpacing(float screenScale) { return 1.5f * screenScale; }

// Resampling never makes more than this many points beyond the input's own: a line stretched by a
// garbage zoom is resampled coarsely instead of into millions of points.
inline constexpr std::size_t kRoundCornersExtraPoints = 16384;

// The working lists of the rounding below, kept by a caller that rounds every frame so that their
// capacity is reused. The overloads without one use their thread's.
struct RoundingScratch {
  std::vector<double> sx, sy;
  std::vector<ScreenPoint> cut;
  std::vector<std::size_t> ends;
};

// Resamples the line at about `spacing` pixels and smooths it twice with a centred moving average of
// up to 2w + 1 points, w = round(radius / spacing); the end points stay. A line of fewer than three
// points, or a w below 1, is copied unchanged. Replaces out's contents (out must not be the input).
void RoundCorners(std::span<const ScreenPoint> polyline, float spacing, float radius, std::vector<ScreenPoint>& out);
void RoundCorners(std::span<const ScreenPoint> polyline, float spacing, float radius, std::vector<ScreenPoint>& out,
                  RoundingScratch& scratch);
[[nodiscard]] std::vector<ScreenPoint> RoundCorners(std::span<const ScreenPoint> polyline, float spacing, float radius);

// How far beyond the screen a line is rounded for it: the averages' reach on both passes and the
// stroke (its whole width), with a few pixels to spare.
[[nodiscard]] inline float OffScreenMargin(float radius, float strokeWidth) { return 2 * radius + strokeWidth + 4; }

// Rounds only what comes within `margin` of the screen (0..width, 0..height): the line is cut where
// it leaves that box, each piece inside is rounded as RoundCorners does (one budget for them all),
// and consecutive pieces are joined along the box's edge, the shorter way round. With a margin from
// OffScreenMargin the screen shows what rounding the whole line shows, while a route many screens
// long is resampled only where it can be seen. Points that are not numbers are passed over.
void RoundCornersOnScreen(std::span<const ScreenPoint> polyline, float width, float height, float margin, float spacing,
                          float radius, std::vector<ScreenPoint>& out);
void RoundCornersOnScreen(std::span<const ScreenPoint> polyline, float width, float height, float margin, float spacing,
                          float radius, std::vector<ScreenPoint>& out, RoundingScratch& scratch);

}  // namespace pathlight
