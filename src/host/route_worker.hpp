// The route worker: keeps one route from the player to the map waypoint up to date. Every 50 ms it
// reads the game, decides whether the route it has still serves (the keep rule), searches a new
// one when it does not, and publishes it as the current route, which the renderers pick up on
// their next frame without ever waiting for a search (routing/current_route.hpp).
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "game/game_snapshot.hpp"
#include "routing/current_route.hpp"
#include "routing/route.hpp"
#include "routing/route_weights.hpp"
#include "settings/run_flags.hpp"
#include "settings/settings.hpp"

namespace pathlight {

inline constexpr std::uint32_t kRouteWorkerPollMs = 50;
inline constexpr std::uint32_t kRoadsWaitPollMs = 200;

// Least distance in the ground plane from (x, z) to the route's line; 1e15 for a route of fewer
// than two points, which no reroute distance keeps.
[[nodiscard]] double DistanceToRoute(const Route& route, float x, float z);

using RouteSearchFunction =
    std::function<std::vector<GroundPoint>(GroundPoint start, GroundPoint goal, const RouteWeights& weights,
                                           float directMaxDistance, std::vector<float>* heights)>;

// What one pass needs besides the snapshot: the search (FindRoute in the library), the clock, the
// settings in force and the reroute request (the library's record and flag unless replaced).
struct RoutePassServices {
  RouteSearchFunction search;
  std::function<std::uint32_t()> tickCount;
  std::function<SettingsPtr()> settings = [] { return CurrentSettings(); };
  Flag* rerouteRequested = &Flags().RerouteRequested;
};

// One pass of the worker over a fresh snapshot, with one settings record taken once, after the
// reroute request: publishes an empty route when player or waypoint is unknown (the request then
// waits), keeps the current route when it still serves, else searches, logs the "Route:" line and
// publishes. Returns true when it searched.
bool RunRoutePass(const GameSnapshot& snapshot, const RoutePassServices& services);

// The thread's services, replaceable so tests drive passes without real sleeps or a game.
struct RouteWorkerServices {
  std::function<void(GameSnapshot&)> readSnapshot;
  std::function<void(std::uint32_t)> sleep;
  std::function<bool()> roadsReady;
  // Once the roads are ready, before the first pass: what the search makes once per road graph.
  std::function<void()> prepare = [] {};
  RoutePassServices pass;
  // The thread never stops; tests end the loop by answering false.
  std::function<bool()> keepRunning = [] { return true; };
};

// The library's services: FindRoute, PrepareRouteSearch, TickCount, SleepMs, RoadsAreReady, and the
// given reader.
[[nodiscard]] RouteWorkerServices LibraryRouteWorkerServices(std::function<void(GameSnapshot&)> readSnapshot);

// The worker thread's body: waits for the roads (200 ms polls), prepares the search, then runs a
// pass every 50 ms. An exception from a pass (out of memory in a search) is dropped with that pass.
void RunRouteWorker(const RouteWorkerServices& services);

}  // namespace pathlight
