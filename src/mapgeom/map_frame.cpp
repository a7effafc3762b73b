#include "mapgeom/map_frame.hpp"

#include "mapgeom/map_projection.hpp"
#include "mapgeom/route_geometry.hpp"
#include "routing/current_route.hpp"
#include "settings/run_flags.hpp"

namespace pathlight {

MapFrameServices LibraryMapFrameServices(std::function<void(GameSnapshot&)> readSnapshot) {
  MapFrameServices services;
  services.readSnapshot = std::move(readSnapshot);
  services.currentRoute = [] { return GetCurrentRoute(); };
  services.nowMs = [] { return PerformanceMs(); };
  services.minimapRouteShown = [] { return Flags().MinimapRouteShown.load() != 0; };
  services.smoother = &MinimapSmoothing();
  return services;
}

bool PrepareMapFrame(MapFrame& frame, const Settings& settings, const MapFrameServices& services) {
  GameSnapshot& snapshot = frame.snapshot;
  snapshot = GameSnapshot{};
  if (services.readSnapshot) services.readSnapshot(snapshot);
  const bool minimapLive = snapshot.minimapValid && snapshot.playerValid && !snapshot.worldMapOpen;
  if (minimapLive && services.smoother && services.nowMs)
    services.smoother->Apply(snapshot, settings, services.nowMs());

  const bool toggle = services.minimapRouteShown ? services.minimapRouteShown() : true;
  frame.drawMinimap = settings.minimapEnabled && toggle && minimapLive && snapshot.minimapAlpha > kLeastMinimapAlpha;
  frame.drawWorldMap = settings.worldMapEnabled && snapshot.worldMapOpen;

  frame.routePolyline.clear();
  {
    const RoutePtr route = services.currentRoute ? services.currentRoute() : nullptr;
    if (route && route->points.size() >= 2 && (frame.drawMinimap || frame.drawWorldMap)) {
      const RouteNearest nearest = NearestOnRoute(route->points, {snapshot.playerX, snapshot.playerZ});
      RouteFromPlayer(route->points, snapshot, nearest, frame.routePolyline);
    }
  }
  return frame.routePolyline.size() >= 2 || (settings.debug.drawRoads && frame.drawMinimap);
}

}  // namespace pathlight
