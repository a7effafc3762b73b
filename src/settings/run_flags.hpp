// Run-time switches and requests that sit beside the settings record. Single bytes, set and
// consumed with atomic exchanges; read without a lock by the render and game-state threads.
#pragma once

#include <atomic>
#include <cstdint>

namespace pathlight {

using Flag = std::atomic<std::uint8_t>;

struct RunFlags {
  // The two route toggles. The minimap route starts on and is never set from the file; the world
  // route takes [World] Enabled at the first load only. Flipped on the game window's thread.
  Flag MinimapRouteShown{1};
  Flag WorldRouteShown{1};
  // Raised on the game window's thread by the reload key, consumed by the keys thread, which reads
  // the file (never the window thread).
  Flag ReloadRequested{0};
  // Raised by a reload after it publishes its record: the route worker searches again, the Present
  // renderer rebuilds its objects. Each takes the request before it takes the settings record.
  Flag RerouteRequested{0};
  Flag RebuildRequested{0};
};

// The process's flags, a member of the settings' state.
[[nodiscard]] RunFlags& Flags();

// Flips a toggle and returns its new state.
inline bool FlipFlag(Flag& flag) { return flag.fetch_xor(1) == 0; }

}  // namespace pathlight
