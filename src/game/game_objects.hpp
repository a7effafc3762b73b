// The game pointers the finder publishes, and the checks on game objects that the finder and the
// readers share.
//
// Only the finder thread writes the pointers, each with one atomic exchange; the route worker and
// the renderers load them and must tolerate a pointer that changes between two loads. Every check
// reads through a GameMemory, so a freed object is a failed check, never a fault.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "game/game_layout.hpp"
#include "platform/game_memory.hpp"
#include "settings/settings.hpp"

namespace pathlight {

inline constexpr int kWorldMapCandidateCount = 4;

struct PublishedGamePointers {
  std::atomic<std::uint64_t> MinimapRoot{0};
  std::atomic<std::uint64_t> WorldMapObject{0};
  std::array<std::atomic<std::uint64_t>, kWorldMapCandidateCount> WorldMapCandidates{};
  std::atomic<std::uint64_t> WaypointIcon{0};
  std::atomic<std::uint64_t> CameraManagerObject{0};
};

// Ground coordinates of game objects are believed only below this magnitude.
inline constexpr float kMaxObjectCoordinate = 1'000'000.0f;

// The minimap root shows the player: its class table matches and the player position there is
// finite, |x| and |z| strictly below 1,000,000, and not exactly (0, 0).
[[nodiscard]] bool MinimapHasPlayer(GameMemory& memory, const GameLayout& layout, const GameOffsets& offsets,
                                    std::uint64_t root);

// The world-map root's open flag is set.
[[nodiscard]] bool WorldMapIsOpen(GameMemory& memory, const GameLayout& layout, const GameOffsets& offsets,
                                  std::uint64_t object);

struct IconPosition {
  float x = 0, y = 0, z = 0;
};

// True when `icon` is a live waypoint icon with a usable ground position. `position` receives the
// three floats whenever they were read, whatever the result (a map marker has y exactly 0).
[[nodiscard]] bool ReadIconPosition(GameMemory& memory, const GameLayout& layout, const GameOffsets& offsets,
                                    std::uint64_t icon, IconPosition& position);

}  // namespace pathlight
