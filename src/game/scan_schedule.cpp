#include "game/scan_schedule.hpp"

#include <algorithm>

namespace pathlight {

namespace {

constexpr std::uint32_t kWorldMapSettleMs = 3000;
constexpr std::uint32_t kMinimapSearchIntervalMs = 10000;
constexpr std::uint32_t kFallbackScanIntervalMs = 15000;
constexpr std::uint32_t kCameraScanIntervalMs = 30000;
constexpr std::uint32_t kRegionScanFirstMs = 3000;
constexpr std::uint32_t kRegionScanMaxMs = 15000;

}  // namespace

ScanSchedule::Step ScanSchedule::First(bool playerShown, bool mapOpen, bool iconRegions, bool cameraMissing,
                                       std::uint32_t now) {
  if (worldMapWasOpen_ && !mapOpen) worldMapClosedAt_ = now;
  worldMapWasOpen_ = mapOpen;
  // The game rebuilds its map objects while the world map opens and closes; scans then would
  // catch them half made.
  recent_ = mapOpen || (worldMapClosedAt_ != 0 && now - worldMapClosedAt_ < kWorldMapSettleMs);

  if (playerShown && iconRegions) {
    if (cameraMissing && !recent_ && now - lastFullScan_ >= kCameraScanIntervalMs) {
      lastRegionScan_ = lastFullScan_ = now;
      return Step::kFullScanForCamera;
    }
    return Step::kChunks;
  }
  if (recent_ || (lastFullScan_ != 0 && now - lastFullScan_ < kMinimapSearchIntervalMs)) return Step::kNothing;
  lastRegionScan_ = lastFullScan_ = now;
  return Step::kFullScanForMinimap;
}

bool ScanSchedule::RegionScanDue(bool playerShown, bool iconRegions, bool candidates, std::uint32_t now) {
  if (recent_ || !playerShown || !iconRegions ||
      now - lastRegionScan_ < (candidates ? kRegionScanMaxMs : regionScanInterval_)) {
    return false;
  }
  lastRegionScan_ = now;
  return true;
}

void ScanSchedule::RegionScanDone(bool candidates) {
  regionScanInterval_ = candidates ? kRegionScanFirstMs : std::min(2 * regionScanInterval_, kRegionScanMaxMs);
}

bool ScanSchedule::FallbackScanDue(bool playerShown, bool candidates, std::uint32_t now) {
  if (candidates || recent_ || !playerShown || now - lastFullScan_ < kFallbackScanIntervalMs) return false;
  lastRegionScan_ = lastFullScan_ = now;
  return true;
}

}  // namespace pathlight
