#include "mapgeom/minimap_smoothing.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace pathlight {

namespace {

// The weight of the newest calls-per-change count in the running average.
constexpr double kAverageWeight = 0.1;

// [Minimap] Interpolate as stored.
constexpr std::int32_t kInterpolateAuto = -1;
constexpr std::int32_t kInterpolateOn = 1;

MinimapSample SampleOf(const GameSnapshot& snapshot) {
  return {snapshot.playerX, snapshot.playerZ, snapshot.minimapRotation, snapshot.minimapZoom};
}

bool SameSample(const MinimapSample& a, const MinimapSample& b) {
  return a.playerX == b.playerX && a.playerZ == b.playerZ && a.rotation == b.rotation && a.zoom == b.zoom;
}

// Floored modulo, so a turn across 0/360 in either direction (or a game that does not keep its
// angle in 0..360) still goes the short way round.
double WrapDegrees(double degrees) {
  const double r = std::fmod(degrees, 360.0);
  return r < 0 ? r + 360.0 : r;
}

}  // namespace

void MinimapSmoother::Apply(GameSnapshot& snapshot, const Settings& settings, double nowMs) {
  std::lock_guard<std::mutex> lock(mutex_);
  const MinimapSample current = SampleOf(snapshot);
  if (!started_) {
    started_ = true;
    last_ = previous_ = current;
    lastMs_ = previousMs_ = nowMs;
    return;
  }
  if (!SameSample(current, last_)) {
    const double calls = static_cast<double>(callsSinceChange_ + 1);
    callsPerChange_ = calls * kAverageWeight + callsPerChange_ * (1.0 - kAverageWeight);
    previous_ = last_;
    previousMs_ = lastMs_;
    last_ = current;
    lastMs_ = nowMs;
    callsSinceChange_ = 0;
  } else {
    ++callsSinceChange_;
  }

  const std::int32_t mode = settings.minimapInterpolate;
  const bool wanted =
      mode == kInterpolateOn || (mode == kInterpolateAuto && callsPerChange_ >= kAutoInterpolateCallsPerChange);
  const double gap = lastMs_ - previousMs_;
  if (!wanted || !(gap > 0) || !(gap <= kMinimapSampleGapMs)) return;

  double t = (nowMs - settings.minimapDelayMs - lastMs_) / gap;
  t = t >= 0 ? std::min(t, 1.0) : 0.0;  // NaN (a NaN delay) counts as 0
  const auto lerp = [t](float from, float to) {
    return static_cast<float>(from + (static_cast<double>(to) - from) * t);
  };
  snapshot.playerX = lerp(previous_.playerX, last_.playerX);
  snapshot.playerZ = lerp(previous_.playerZ, last_.playerZ);
  snapshot.minimapZoom = lerp(previous_.zoom, last_.zoom);
  const double turn = WrapDegrees(static_cast<double>(last_.rotation) - previous_.rotation + 540.0) - 180.0;
  snapshot.minimapRotation = static_cast<float>(previous_.rotation + turn * t);
}

double MinimapSmoother::CallsPerChange() {
  std::lock_guard<std::mutex> lock(mutex_);
  return callsPerChange_;
}

double PerformanceMs() {
  using Clock = std::chrono::steady_clock;
  return std::chrono::duration<double, std::milli>(Clock::now().time_since_epoch()).count();
}

MinimapSmoother& MinimapSmoothing() {
  static MinimapSmoother smoother;
  return smoother;
}

void SmoothMinimap(GameSnapshot& snapshot, const Settings& settings) {
  MinimapSmoothing().Apply(snapshot, settings, PerformanceMs());
}

}  // namespace pathlight
