// The two weight sets of the route search: ordinary routing from [Routing], wagon routing from
// [WagonRouting]. A weight that is negative or not a number cannot cost a route (a negative one
// lets the search relax a segment back and forth for ever, a NaN breaks the heap's order), so it
// is replaced by its default, with one "Route:" line per distinct bad value.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "routing/route.hpp"
#include "settings/settings.hpp"

namespace pathlight {

// The weight keys of both sets: walking's six, then the wagon's seven.
inline constexpr std::size_t kWeightKeyCount = 13;

// Per weight key, the bits of the last bad value logged: a value read again on every search (the
// worker makes weights per search) does not fill the log, a different bad value after a reload is
// logged again. 0 is +0.0, a usable value, so nothing is logged yet.
using WeightWarnings = std::array<std::atomic<std::uint32_t>, kWeightKeyCount>;

// With the routing state's warnings.
[[nodiscard]] RouteWeights MakeRouteWeights(const Settings& settings);
[[nodiscard]] RouteWeights MakeWagonRouteWeights(const Settings& settings);

[[nodiscard]] RouteWeights MakeRouteWeights(const Settings& settings, WeightWarnings& warnings);
[[nodiscard]] RouteWeights MakeWagonRouteWeights(const Settings& settings, WeightWarnings& warnings);

}  // namespace pathlight
