// The finder's scan schedule on its own: the five timers over driven ticks, without memory.
#include "game/scan_schedule.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace pathlight {
namespace {

using Step = ScanSchedule::Step;
using Lines = std::vector<std::string>;

// What one tick saw, as the finder tells the schedule.
struct Seen {
  bool playerShown = true;
  bool mapOpen = false;
  bool iconRegions = true;
  bool cameraMissing = false;
  bool candidates = false;  // the first step's scan left candidates
};

const char* Name(Step step) {
  switch (step) {
    case Step::kNothing: return "nothing";
    case Step::kChunks: return "chunks";
    case Step::kFullScanForCamera: return "full scan (camera)";
    case Step::kFullScanForMinimap: return "full scan (minimap)";
  }
  return "?";
}

// One tick as the finder runs it; the scans other than the chunks', each behind the tick's time
// relative to `start`.
void Tick(ScanSchedule& schedule, const Seen& seen, std::uint32_t now, std::uint32_t start, Lines& scans) {
  const std::string at = std::to_string(now - start) + " ";
  const Step first = schedule.First(seen.playerShown, seen.mapOpen, seen.iconRegions, seen.cameraMissing, now);
  if (first == Step::kNothing) return;
  if (first != Step::kChunks) scans.push_back(at + Name(first));
  if (schedule.RegionScanDue(seen.playerShown, seen.iconRegions, seen.candidates, now)) {
    scans.push_back(at + "region scan");
    schedule.RegionScanDone(seen.candidates);
  }
  if (schedule.FallbackScanDue(seen.playerShown, seen.candidates, now)) scans.push_back(at + "full scan (fallback)");
}

// A schedule whose first full scan, at `start`, found the minimap with the player, icon regions
// and a candidate.
ScanSchedule Found(std::uint32_t start) {
  ScanSchedule schedule;
  EXPECT_EQ(schedule.First(true, false, false, false, start), Step::kFullScanForMinimap);
  EXPECT_FALSE(schedule.RegionScanDue(true, true, true, start));
  EXPECT_FALSE(schedule.FallbackScanDue(true, true, start));
  return schedule;
}

// Ticks once a second from start + 1000 up to and including start + until.
Lines RunTicks(ScanSchedule& schedule, std::uint32_t start, std::uint32_t from, std::uint32_t until,
               const std::function<Seen(std::uint32_t)>& seen) {
  Lines scans;
  for (std::uint32_t t = from; t <= until; t += 1000) Tick(schedule, seen(t), start + t, start, scans);
  return scans;
}

constexpr std::uint32_t kStart = 100000;

TEST(ScanSchedule, WithoutCandidatesRegionScansBackOffAndFullScansFallBack) {
  ScanSchedule schedule = Found(kStart);
  const Lines scans = RunTicks(schedule, kStart, 1000, 60000, [](std::uint32_t) { return Seen{}; });
  // Region scans wait 3000, 6000, 12000, then 15000 ms; the fallback full scan every 15 s
  // restarts the region scans' wait.
  EXPECT_EQ(scans, (Lines{"3000 region scan", "9000 region scan", "15000 full scan (fallback)", "27000 region scan",
                          "30000 full scan (fallback)", "45000 region scan", "45000 full scan (fallback)",
                          "60000 region scan", "60000 full scan (fallback)"}));
  EXPECT_EQ(schedule.RegionScanInterval(), 15000u);
}

TEST(ScanSchedule, RegionScanIntervalDoublesFromThreeSecondsAndACandidateResetsIt) {
  ScanSchedule schedule = Found(kStart);
  std::vector<std::uint32_t> intervals{schedule.RegionScanInterval()};
  Lines scans;
  for (std::uint32_t t = 1000; t <= 60000; t += 1000) {
    const std::size_t before = scans.size();
    Tick(schedule, Seen{}, kStart + t, kStart, scans);
    for (std::size_t i = before; i < scans.size(); ++i) {
      if (scans[i].find("region scan") != std::string::npos) intervals.push_back(schedule.RegionScanInterval());
    }
  }
  ASSERT_GE(intervals.size(), 5u);
  intervals.resize(5);
  EXPECT_EQ(intervals, (std::vector<std::uint32_t>{3000, 6000, 12000, 15000, 15000}));
  // A candidate found again: every 15 s a region scan, which finds it and resets the wait.
  const Lines later = RunTicks(schedule, kStart, 61000, 75000, [](std::uint32_t) { return Seen{.candidates = true}; });
  EXPECT_EQ(later, Lines{"75000 region scan"});
  EXPECT_EQ(schedule.RegionScanInterval(), 3000u);
}

TEST(ScanSchedule, NothingWhileTheWorldMapIsOpenNorWithinThreeSecondsOfClosing) {
  ScanSchedule schedule;
  // The minimap shows the player, but no icon regions are known yet: the search for them.
  EXPECT_EQ(schedule.First(true, true, false, false, kStart), Step::kNothing);
  const auto searching = [](bool open) { return Seen{.mapOpen = open, .iconRegions = false}; };
  EXPECT_TRUE(RunTicks(schedule, kStart, 1000, 40000, [&](std::uint32_t) { return searching(true); }).empty());
  const std::uint32_t closed = kStart + 40001;
  Lines scans;
  for (const std::uint32_t at : {closed, closed + 2999, closed + 3000})
    Tick(schedule, searching(false), at, closed, scans);
  EXPECT_EQ(scans, Lines{"3000 full scan (minimap)"});
}

TEST(ScanSchedule, ChunksGoOnWhileTheWorldMapIsOpen) {
  ScanSchedule schedule = Found(kStart);
  std::vector<Step> steps;
  for (std::uint32_t t = 1000; t <= 30000; t += 1000) {
    steps.push_back(schedule.First(true, true, true, true, kStart + t));
    EXPECT_FALSE(schedule.RegionScanDue(true, true, false, kStart + t));
    EXPECT_FALSE(schedule.FallbackScanDue(true, false, kStart + t));
  }
  EXPECT_EQ(steps, std::vector<Step>(30, Step::kChunks));
}

TEST(ScanSchedule, MissingCameraManagerBringsAFullScanEveryThirtySeconds) {
  ScanSchedule schedule = Found(kStart);
  const Lines scans = RunTicks(schedule, kStart, 1000, 60000,
                               [](std::uint32_t) { return Seen{.cameraMissing = true, .candidates = true}; });
  // With a candidate, region scans every 15 s; a camera full scan counts as one.
  EXPECT_EQ(scans,
            (Lines{"15000 region scan", "30000 full scan (camera)", "45000 region scan", "60000 full scan (camera)"}));
}

TEST(ScanSchedule, SearchingRepeatsFullScansEveryTenSecondsAcrossTheTickWrap) {
  ScanSchedule schedule;
  const std::uint32_t start = 0xFFFFF000u;
  EXPECT_EQ(schedule.First(false, false, false, false, start), Step::kFullScanForMinimap);
  EXPECT_EQ(schedule.First(false, false, false, false, start + 9999u), Step::kNothing);  // numerically below
  EXPECT_EQ(schedule.First(false, false, false, false, start + 10000u), Step::kFullScanForMinimap);
  // Not shown: no region or fallback scan.
  EXPECT_FALSE(schedule.RegionScanDue(false, true, false, start + 30000u));
  EXPECT_FALSE(schedule.FallbackScanDue(false, false, start + 30000u));
}

}  // namespace
}  // namespace pathlight
