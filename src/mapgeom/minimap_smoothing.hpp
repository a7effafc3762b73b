// Smooths the minimap between the game's updates. The game moves its minimap (player position,
// rotation, zoom) less often than a renderer may draw; drawing the raw values makes the route jump
// in steps. The smoother keeps the last two distinct samples and, when the game updates less often
// than every 1.5 calls, shows the values interpolated between them, one sample interval late.
//
// State is process-wide and behind a mutex of its own: the Present renderer and the fallback
// renderers share the one instance that SmoothMinimap uses.
#pragma once

#include <cstdint>
#include <mutex>

#include "game/game_snapshot.hpp"
#include "settings/settings.hpp"

namespace pathlight {

// The four values that are smoothed.
struct MinimapSample {
  float playerX = 0;
  float playerZ = 0;
  float rotation = 0;  // degrees
  float zoom = 0;
};

// Samples further apart than this are a pause or a jump, not motion: they are shown as they are.
inline constexpr double kMinimapSampleGapMs = 250.0;
// Auto interpolates once the calls per change of the game's minimap average at least this many.
inline constexpr double kAutoInterpolateCallsPerChange = 1.5;

class MinimapSmoother {
 public:
  // Records the snapshot's values taken at nowMs (a steady millisecond clock) and, when the
  // smoothing applies, replaces them by the smoothed ones. For a snapshot with minimapValid and
  // playerValid and the world map closed.
  void Apply(GameSnapshot& snapshot, const Settings& settings, double nowMs);

  // The running average of calls per change (1.0 at start), for tests and diagnostics.
  [[nodiscard]] double CallsPerChange();

 private:
  std::mutex mutex_;
  bool started_ = false;
  MinimapSample last_, previous_;
  double lastMs_ = 0, previousMs_ = 0;
  std::uint64_t callsSinceChange_ = 0;
  double callsPerChange_ = 1.0;
};

// Milliseconds of a steady high-resolution clock (the performance counter on Windows).
[[nodiscard]] double PerformanceMs();

// The process's smoother.
[[nodiscard]] MinimapSmoother& MinimapSmoothing();

// The process's smoother at PerformanceMs().
void SmoothMinimap(GameSnapshot& snapshot, const Settings& settings);

}  // namespace pathlight
