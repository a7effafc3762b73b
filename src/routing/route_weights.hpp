// The two weight sets of the route search: ordinary routing from [Routing], wagon routing from
// [WagonRouting]. A weight that is negative or not a number cannot cost a route (a negative one
// lets the search relax a segment back and forth for ever, a NaN breaks the heap's order), so it
// is replaced by its default, with one "Route:" line per distinct bad value.
#pragma once

#include "routing/route.hpp"
#include "settings/settings.hpp"

namespace pathlight {

[[nodiscard]] RouteWeights MakeRouteWeights(const Settings& settings);
[[nodiscard]] RouteWeights MakeWagonRouteWeights(const Settings& settings);

}  // namespace pathlight
