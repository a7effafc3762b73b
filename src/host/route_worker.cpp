// Sections: DistanceToRoute, one pass (keep rule, search, heights, log), the thread body.
#include "host/route_worker.hpp"

#include <algorithm>
#include <cmath>

#include "platform/log.hpp"
#include "platform/ticks.hpp"
#include "roads/road_loader.hpp"
#include "routing/current_route.hpp"
#include "routing/polyline_nearest.hpp"
#include "routing/route_search.hpp"
#include "settings/run_flags.hpp"
#include "settings/settings.hpp"

namespace pathlight {

namespace {

// A waypoint that moved by more than this is a new waypoint, metres.
constexpr double kGoalMovedDistance = 1.0;

}  // namespace

// ---- DistanceToRoute ------------------------------------------------------------------------------

double DistanceToRoute(const Route& route, float x, float z) {
  // 1e15 (the square root of the squared distance's start) for a route of fewer than two points.
  return std::sqrt(NearestOnPolyline(route.points, x, z).distance2);
}

// ---- one pass -------------------------------------------------------------------------------------

bool RunRoutePass(const GameSnapshot& snapshot, const RoutePassServices& services) {
  if (!snapshot.playerValid || !snapshot.waypointValid) {
    // The route is no longer drawn; a pending reload request waits for the next known position.
    if (GetCurrentRoute()) PublishRoute(nullptr);
    return false;
  }
  const RoutePtr current = GetCurrentRoute();
  // The request before the record: a reload publishes its record and then raises the request, so
  // the search it asks for uses that record or a newer one. One record for the whole pass: a
  // reload on the keys thread takes effect at the next one.
  const bool reroute = services.rerouteRequested->exchange(0) != 0;
  const SettingsPtr settings = services.settings();
  const bool wagon = settings->wagonRoutingEnabled && snapshot.mountState == kMountWagon;

  const bool keep = !reroute && current &&
                    std::hypot(static_cast<double>(current->goalX) - snapshot.waypointX,
                               static_cast<double>(current->goalZ) - snapshot.waypointZ) <= kGoalMovedDistance &&
                    DistanceToRoute(*current, snapshot.playerX, snapshot.playerZ) <= settings->rerouteDistance &&
                    current->wagon == wagon;
  if (keep) return false;

  const std::uint32_t startTick = services.tickCount();
  auto route = std::make_shared<Route>();
  route->goalX = snapshot.waypointX;
  route->goalZ = snapshot.waypointZ;
  route->wagon = wagon;
  const RouteWeights weights = wagon ? MakeWagonRouteWeights(*settings) : MakeRouteWeights(*settings);
  route->points = services.search({snapshot.playerX, snapshot.playerZ}, {snapshot.waypointX, snapshot.waypointZ},
                                  weights, settings->directMaxDistance, &route->heights);
  // The first height is the player's own; unknown heights carry the last known one forward.
  std::vector<float>& heights = route->heights;
  if (!heights.empty()) heights[0] = snapshot.playerY;
  for (std::size_t i = 1; i < heights.size(); ++i) {
    if (std::isnan(heights[i])) heights[i] = heights[i - 1];
  }
  const std::uint32_t elapsed = services.tickCount() - startTick;
  Log("Route: (%.0f,%.0f) -> (%.0f,%.0f): %zu points in %lu ms%s", static_cast<double>(snapshot.playerX),
      static_cast<double>(snapshot.playerZ), static_cast<double>(snapshot.waypointX),
      static_cast<double>(snapshot.waypointZ), route->points.size(), static_cast<unsigned long>(elapsed),
      wagon ? " (wagon roads)" : "");
  PublishRoute(std::move(route));
  return true;
}

// ---- thread body ----------------------------------------------------------------------------------

RouteWorkerServices LibraryRouteWorkerServices(std::function<void(GameSnapshot&)> readSnapshot) {
  RouteWorkerServices services;
  services.readSnapshot = std::move(readSnapshot);
  services.sleep = [](std::uint32_t ms) { SleepMs(ms); };
  services.roadsReady = [] { return RoadsAreReady(); };
  services.prepare = [] { PrepareRouteSearch(); };
  services.pass.search = [](GroundPoint start, GroundPoint goal, const RouteWeights& weights, float directMaxDistance,
                            std::vector<float>* heights) {
    return FindRoute(start, goal, weights, directMaxDistance, heights);
  };
  services.pass.tickCount = [] { return TickCount(); };
  return services;
}

void RunRouteWorker(const RouteWorkerServices& services) {
  while (services.keepRunning() && !services.roadsReady()) services.sleep(kRoadsWaitPollMs);
  try {
    services.prepare();
  } catch (...) {
    // Out of memory: the first search tries again.
  }
  while (services.keepRunning()) {
    services.sleep(kRouteWorkerPollMs);
    try {
      GameSnapshot snapshot;
      services.readSnapshot(snapshot);
      RunRoutePass(snapshot, services.pass);
    } catch (...) {
      // Out of memory during a search: this pass publishes nothing, the next one tries again.
    }
  }
}

}  // namespace pathlight
