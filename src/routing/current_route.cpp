#include "routing/current_route.hpp"

#include "routing/routing_state.hpp"

namespace pathlight {

namespace {

RoutingState g_routing;

}  // namespace

RoutingState& Routing() { return g_routing; }

RoutePtr GetCurrentRoute() {
  std::lock_guard<std::mutex> lock(g_routing.RouteLock);
  return g_routing.CurrentRoute;
}

void PublishRoute(RoutePtr route) {
  std::lock_guard<std::mutex> lock(g_routing.RouteLock);
  // The swap leaves the previous route in the argument, dropped here, inside the lock: whichever
  // side lets go of a record last frees it, and never while the other copies the pointer.
  g_routing.CurrentRoute.swap(route);
  route.reset();
}

}  // namespace pathlight
