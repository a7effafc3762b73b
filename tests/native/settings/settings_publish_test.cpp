// Reloads while other threads read: every reader sees one whole file, a route pass one file from
// start to end, a record a reader holds never changes, and routes replaced meanwhile stay whole. The ThreadSanitizer
// build runs this too, where any unsynchronised access fails it.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "fresh_process.hpp"
#include "host/route_worker.hpp"
#include "settings/ini_text.hpp"
#include "settings/run_flags.hpp"
#include "settings/settings_load.hpp"

namespace pathlight {
namespace {

struct File {
  const wchar_t* text;
  float distance, width, offRoad, directMax;
};
const File kFiles[] = {
    {L"[World]\nDistance=10\nWidth=1\n[Routing]\nOffRoadWeight=3\nDirectMaxDistance=30\n", 10, 1, 3, 30},
    {L"[World]\nDistance=20\nWidth=2\n[Routing]\nOffRoadWeight=5\nDirectMaxDistance=50\n", 20, 2, 5, 50},
};

bool OneFile(float distance, float width) {
  for (const File& f : kFiles) {
    if (distance == f.distance && width == f.width) return true;
  }
  return false;
}

bool OneFilePass(float offRoad, float directMax) {
  for (const File& f : kFiles) {
    if (offRoad == f.offRoad && directMax == f.directMax) return true;
  }
  return false;
}

using SettingsPublishTest = testing::FreshProcessTest;

TEST_F(SettingsPublishTest, AHeldRecordOutlivesTheReloadThatReplacesIt) {
  TextIni first(kFiles[0].text), second(kFiles[1].text);
  ::testing::internal::CaptureStdout();
  LoadSettingsFrom(first, L"C:\\a", false);
  const SettingsPtr held = CurrentSettings();
  LoadSettingsFrom(second, L"C:\\a", true);
  (void)::testing::internal::GetCapturedStdout();
  EXPECT_EQ(held->worldDistance, 10.0f);
  EXPECT_EQ(CurrentSettings()->worldDistance, 20.0f);
  EXPECT_EQ(held.use_count(), 1);  // the publisher let go of it
}

TEST_F(SettingsPublishTest, ReadersAndARoutePassSeeOneWholeFileWhileReloadsRun) {
  constexpr int kReloads = 200;
  TextIni files[] = {TextIni(kFiles[0].text), TextIni(kFiles[1].text)};
  std::atomic<int> readerRounds{0}, passes{0}, mixedRecords{0}, mixedPasses{0};
  std::atomic<bool> done{false};

  GameSnapshot snapshot;
  snapshot.playerValid = 1;
  snapshot.waypointValid = 1;
  snapshot.waypointX = 1000;
  RoutePassServices services;
  services.tickCount = [] { return 0u; };
  services.search = [&](GroundPoint start, GroundPoint goal, const RouteWeights& weights, float directMax,
                        std::vector<float>* heights) {
    if (!OneFilePass(weights.offRoad, directMax)) ++mixedPasses;
    *heights = {12, 12};
    return std::vector<GroundPoint>{start, goal};
  };

  ::testing::internal::CaptureStdout();
  LoadSettingsFrom(files[0], L"C:\\a", false);
  std::thread reader([&] {
    while (!done) {
      const SettingsPtr s = CurrentSettings();
      if (!OneFile(s->worldDistance, s->worldWidth)) ++mixedRecords;
      // A frame's copy of the route the worker keeps replacing.
      if (const RoutePtr route = GetCurrentRoute(); route && route->points.size() != 2) ++mixedRecords;
      ++readerRounds;
    }
  });
  std::thread worker([&] {
    while (!done) {
      Flags().RerouteRequested = 1;
      RunRoutePass(snapshot, services);
      ++passes;
    }
  });
  // The reloads start once both readers are under way.
  while (readerRounds == 0 || passes == 0) std::this_thread::yield();
  for (int i = 1; i <= kReloads; ++i) LoadSettingsFrom(files[i % 2], L"C:\\a", true);
  done = true;
  reader.join();
  worker.join();
  (void)::testing::internal::GetCapturedStdout();

  EXPECT_EQ(mixedRecords, 0);
  EXPECT_EQ(mixedPasses, 0);
  EXPECT_EQ(CurrentSettings()->worldDistance, kFiles[kReloads % 2].distance);
}

}  // namespace
}  // namespace pathlight
