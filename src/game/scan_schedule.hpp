// What the finder's heap search scans at a tick, by five timers: the world map's settling (no
// scan while it is open nor within 3 s of its closing), the camera manager's full scan (every 30 s
// while it is missing), the minimap search (a full scan every 10 s until the minimap shows the
// player), the region scans' back-off (3 s after one that found a candidate, doubling to 15 s
// while none do) and the fallback full scan (every 15 s without a candidate). It reads no memory:
// the finder tells it what the tick saw and does the scans it answers.
#pragma once

#include <cstdint>

namespace pathlight {

class ScanSchedule {
 public:
  enum class Step {
    kNothing,             // nothing this tick
    kChunks,              // the chunks around the known icons
    kFullScanForCamera,   // a full scan for the missing camera manager (then the chunks' icons)
    kFullScanForMinimap,  // a full scan for the minimap, the world map and the icons
  };

  // The tick's first step. `playerShown`: the minimap shows the player and the world-map object is
  // alive; `mapOpen`: the world map is open; `iconRegions`: a full scan noted regions with icons;
  // `cameraMissing`: a camera class is known and no manager of it. A full scan counts as the
  // region scan too.
  [[nodiscard]] Step First(bool playerShown, bool mapOpen, bool iconRegions, bool cameraMissing, std::uint32_t now);

  // After the first step: true when the icon regions are due for a scan, which the caller then
  // reports with RegionScanDone.
  [[nodiscard]] bool RegionScanDue(bool playerShown, bool iconRegions, bool candidates, std::uint32_t now);
  void RegionScanDone(bool candidates);

  // Last: true when, still without a candidate, the fallback full scan is due.
  [[nodiscard]] bool FallbackScanDue(bool playerShown, bool candidates, std::uint32_t now);

  [[nodiscard]] std::uint32_t RegionScanInterval() const { return regionScanInterval_; }

 private:
  bool recent_ = false;  // this tick: the world map is open or closed less than 3 s ago
  bool worldMapWasOpen_ = false;
  std::uint32_t worldMapClosedAt_ = 0;
  std::uint32_t lastFullScan_ = 0;
  std::uint32_t lastRegionScan_ = 0;
  std::uint32_t regionScanInterval_ = 3000;
};

}  // namespace pathlight
