// The routing's state, one record: the current route and its lock, the route worker's search
// scratch (one search at a time: the worker is the only caller of FindRoute), and the warnings of
// the weight keys.
#pragma once

#include <mutex>

#include "routing/route.hpp"
#include "routing/route_search.hpp"
#include "routing/route_weights.hpp"

namespace pathlight {

struct RoutingState {
  // Held only to copy or swap CurrentRoute, so no reader ever waits for a search.
  std::mutex RouteLock;
  RoutePtr CurrentRoute;
  RouteSearch search;
  WeightWarnings weightWarnings{};
};

[[nodiscard]] RoutingState& Routing();

}  // namespace pathlight
