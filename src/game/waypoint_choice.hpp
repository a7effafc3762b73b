// Which of the icons a heap scan found is the waypoint.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "game/game_objects.hpp"

namespace pathlight {

// An icon of the waypoint category with the position read from it.
struct WaypointCandidate {
  std::uint64_t icon = 0;
  IconPosition position;
};

struct WaypointChoice {
  std::uint64_t icon = 0;           // 0: no waypoint
  std::size_t candidates = 0;       // how many remained after the map-marker rule
  std::vector<std::uint64_t> seen;  // their icons, ascending, each once: the next `seen`
};

// Map markers lie on the map's plane, at height exactly 0: when any candidate does, the others
// are dropped (the player's own marker wins over quest and other icons of the same category).
// Then the first candidate not in `seen` (ascending; the last choice's candidates) wins, being
// the marker just set; else `current` while it is still a candidate; else the first one.
[[nodiscard]] WaypointChoice ChooseWaypoint(std::vector<WaypointCandidate> candidates,
                                            const std::vector<std::uint64_t>& seen, std::uint64_t current);

}  // namespace pathlight
