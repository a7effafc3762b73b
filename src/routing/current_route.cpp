#include "routing/current_route.hpp"

#include <mutex>

namespace pathlight {

namespace {

std::mutex RouteLock;
RoutePtr CurrentRoute;

}  // namespace

RoutePtr GetCurrentRoute() {
  std::lock_guard<std::mutex> lock(RouteLock);
  return CurrentRoute;
}

void PublishRoute(RoutePtr route) {
  std::lock_guard<std::mutex> lock(RouteLock);
  // The swap leaves the previous route in the argument, dropped here, inside the lock: whichever
  // side lets go of a record last frees it, and never while the other copies the pointer.
  CurrentRoute.swap(route);
  route.reset();
}

}  // namespace pathlight
