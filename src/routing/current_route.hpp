// The current route: the one route the route worker publishes and the renderers draw. Written by
// the worker thread only and read by any thread through GetCurrentRoute; the lock is held only to
// copy or swap the pointer, so no reader ever waits for a search.
#pragma once

#include "routing/route.hpp"

namespace pathlight {

// A copy of the current route (empty when there is none); the copy keeps the record alive.
[[nodiscard]] RoutePtr GetCurrentRoute();
// Replaces the current route; the reference to the previous one is dropped inside the lock.
void PublishRoute(RoutePtr route);

}  // namespace pathlight
