// One tick's preparation for the fallback renderers: a fresh snapshot, what is to be drawn, and the
// route from the player in world points. The Present renderer does the same steps inside its frame
// with the operations of map_projection.hpp and route_geometry.hpp.
//
// A MapFrame belongs to its renderer's thread; PrepareMapFrame is callable from any thread with a
// frame of its own.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "game/game_snapshot.hpp"
#include "mapgeom/minimap_smoothing.hpp"
#include "roads/road_graph.hpp"
#include "routing/route.hpp"
#include "settings/settings.hpp"

namespace pathlight {

struct MapFrame {
  GameSnapshot snapshot;
  std::uint8_t drawMinimap = 0;
  std::uint8_t drawWorldMap = 0;
  // World points from the player along the route; emptied and refilled by every preparation, so
  // its capacity is reused from tick to tick.
  std::vector<GroundPoint> routePolyline;
};

// What a preparation reads besides the settings, passed in so tests drive it without a game.
struct MapFrameServices {
  std::function<void(GameSnapshot&)> readSnapshot;
  std::function<RoutePtr()> currentRoute;
  std::function<double()> nowMs;            // the smoothing clock
  std::function<bool()> minimapRouteShown;  // the run-time minimap toggle
  MinimapSmoother* smoother = nullptr;      // none: no smoothing
};

// The library's services: the given reader, GetCurrentRoute, PerformanceMs, MinimapRouteShown and
// the process's smoother.
[[nodiscard]] MapFrameServices LibraryMapFrameServices(std::function<void(GameSnapshot&)> readSnapshot);

// Fills the frame from a fresh snapshot and the current route, with one settings record for the
// whole tick. True when there is something to draw: a route of at least two points, or the road
// debug view ([Debug] DrawRoads) over a drawn minimap.
[[nodiscard]] bool PrepareMapFrame(MapFrame& frame, const Settings& settings, const MapFrameServices& services);

}  // namespace pathlight
