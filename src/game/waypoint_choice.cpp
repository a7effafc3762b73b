#include "game/waypoint_choice.hpp"

#include <algorithm>

namespace pathlight {

WaypointChoice ChooseWaypoint(std::vector<WaypointCandidate> candidates, const std::vector<std::uint64_t>& seen,
                              std::uint64_t current) {
  const auto onMap = [](const WaypointCandidate& c) { return c.position.y == 0.0f; };
  if (std::any_of(candidates.begin(), candidates.end(), onMap)) {
    std::erase_if(candidates, [&](const WaypointCandidate& c) { return !onMap(c); });
  }

  WaypointChoice choice;
  const auto fresh = std::find_if(candidates.begin(), candidates.end(), [&](const WaypointCandidate& c) {
    return !std::binary_search(seen.begin(), seen.end(), c.icon);
  });
  if (fresh != candidates.end()) {
    choice.icon = fresh->icon;
  } else if (std::any_of(candidates.begin(), candidates.end(),
                         [&](const WaypointCandidate& c) { return c.icon == current; })) {
    choice.icon = current;
  } else if (!candidates.empty()) {
    choice.icon = candidates.front().icon;
  }

  choice.candidates = candidates.size();
  for (const WaypointCandidate& c : candidates) choice.seen.push_back(c.icon);
  std::sort(choice.seen.begin(), choice.seen.end());
  choice.seen.erase(std::unique(choice.seen.begin(), choice.seen.end()), choice.seen.end());
  return choice;
}

}  // namespace pathlight
