#include "game/finder.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "fake_address_space.hpp"
#include "fake_regions.hpp"
#include "log_capture.hpp"

namespace pathlight {
namespace {

using namespace pathlight::testing;

std::string Format(const char* format, auto... args) {
  char text[256];
  std::snprintf(text, sizeof text, format, args...);
  return text;
}

void* P(std::uint64_t address) { return reinterpret_cast<void*>(address); }

constexpr std::uint64_t kImageBase = 0x140000000;
constexpr std::uint64_t kMinimapTable = kImageBase + 0x1000;
constexpr std::uint64_t kWorldMapTable = kImageBase + 0x1100;
constexpr std::uint64_t kIconTable = kImageBase + 0x1200;
constexpr std::uint64_t kCameraTable = kImageBase + 0x1300;
constexpr std::uint64_t kSessionGlobal = kImageBase + 0x2000;
constexpr std::uint64_t kHeap = 0x10000000;  // 1 MB of scannable heap
constexpr std::uint64_t kHeapSize = 0x100000;
constexpr std::uint64_t kRoot = kHeap + 0x1000;  // object slots are 0x1000 apart
constexpr std::uint64_t kWorldMap = kHeap + 0x2000;
constexpr std::uint64_t kStart = 100000;  // the clock at the first tick

// A fake game: image globals, one heap region, and a finder over them with a clock the test sets.
struct FinderWorld {
  FakeAddressSpace memory;
  FakeRegions regions{memory};
  std::uint32_t now = kStart;
  int priorityLowered = 0;
  GameLayout layout{.ImageBase = kImageBase,
                    .ImageSize = 0x1000000,
                    .MinimapVtable = kMinimapTable,
                    .WorldMapVtable = kWorldMapTable,
                    .IconVtable = kIconTable};
  Settings settings;
  PublishedGamePointers pointers;
  Finder finder{{memory, regions, [this] { return now; }, [this] { ++priorityLowered; }}, layout, pointers};

  FinderWorld() {
    memory.Map(kHeap, std::vector<std::uint8_t>(kHeapSize));
    memory.Map(kSessionGlobal, std::vector<std::uint8_t>(0x1000));
    regions.MarkUnscannable(kSessionGlobal);
  }

  template <typename T> void Put(std::uint64_t address, T value) {
    static_assert(sizeof(T) <= 8);
    std::uint64_t word = 0;
    ASSERT_TRUE(memory.Read(address, &word, 8));
    std::memcpy(&word, &value, sizeof value);
    memory.Poke64(address, word);
  }
  void Clear(std::uint64_t object) {
    for (std::uint64_t at = object; at < object + 0x1000; at += 8) memory.Poke64(at, 0);
  }

  void Minimap(std::uint64_t root, bool withPlayer) {
    Put(root, kMinimapTable);
    Put(root + 0x340, withPlayer ? 1500.0f : 0.0f);
    Put(root + 0x348, withPlayer ? -800.0f : 0.0f);
  }
  void WorldMapAt(std::uint64_t object, bool open = false) {
    Put(object, kWorldMapTable);
    Put<std::uint8_t>(object + 0xB35, open ? 1 : 0);
  }
  void Icon(std::uint64_t icon, float x, float y, float z, std::uint32_t category = 22) {
    Put(icon, kIconTable);
    Put(icon + 0xD0, category);
    Put<std::uint16_t>(icon + 0xDE, 3);
    Put(icon + 0xE0, x);
    Put(icon + 0xE4, y);
    Put(icon + 0xE8, z);
    Put<std::uint32_t>(icon + 0x1B8, 1);
  }
  // The player is on the minimap and a world map exists: the finder's "playerShown".
  void PlayerShown() {
    Minimap(kRoot, true);
    WorldMapAt(kWorldMap);
  }

  std::uint32_t Tick() { return finder.Tick(settings); }
  Lines TickLog(std::uint32_t* sleep = nullptr) {
    return CaptureLog([&] {
      const std::uint32_t ms = finder.Tick(settings);
      if (sleep) *sleep = ms;
    });
  }
  // Ticks once a second up to and including `until` (relative to kStart); the lines logged,
  // each behind the relative time of its tick.
  Lines RunUntil(std::uint32_t until) {
    Lines all;
    while (now - kStart < until) {
      now += 1000;
      for (const std::string& line : TickLog()) all.push_back(std::to_string(now - kStart) + " " + line);
    }
    return all;
  }
};

bool StartsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

// ---- scanning ---------------------------------------------------------------------------------

TEST(FinderChunks, ThreeChunksAroundEachIconEachOnce) {
  EXPECT_EQ(BuildChunks({0x10012345, 0x10018000, 0x10030008}),
            (std::vector<std::uint64_t>{0x10000000, 0x10010000, 0x10020000, 0x10030000, 0x10040000}));
  EXPECT_TRUE(BuildChunks({}).empty());
}

TEST(FinderScan, WordsIntoTheImageAreSortedByTableInScanOrder) {
  FinderWorld w;
  w.layout.CameraVtable = kCameraTable;
  w.Put(kHeap + 0x18, kIconTable);
  w.Put(kHeap + 0x20, kCameraTable);
  w.Put(kHeap + 0x28, kImageBase + 0x1208);        // into the image, but no class table
  w.Put(kHeap + 0x30, kMinimapTable + 0x1000000);  // just past the image
  w.Put(kHeap + 0x40, kWorldMapTable);
  w.Put(kHeap + 0x8, kIconTable);
  w.Put(kHeap + 0x48, kMinimapTable);
  ScanResults results;
  w.finder.ScanWords(kHeap, 0x100, results);
  EXPECT_EQ(results.icons, (std::vector<std::uint64_t>{kHeap + 0x8, kHeap + 0x18}));
  EXPECT_EQ(results.cameraManagers, (std::vector<std::uint64_t>{kHeap + 0x20}));
  EXPECT_EQ(results.worldMaps, (std::vector<std::uint64_t>{kHeap + 0x40}));
  EXPECT_EQ(results.minimapRoots, (std::vector<std::uint64_t>{kHeap + 0x48}));
}

TEST(FinderScan, FaultEndsTheRangeKeepingWhatWasFound) {
  FinderWorld w;
  // The fault falls in the middle of a block read.
  constexpr std::uint64_t kBig = 0x30000000;
  w.memory.Map(kBig, std::vector<std::uint8_t>(0x50000));
  w.Put(kBig + 0x10, kIconTable);
  w.Put(kBig + 0x4FFF8, kIconTable);
  w.memory.Map(kBig + 0x51000, std::vector<std::uint8_t>(0x1000));
  w.Put(kBig + 0x51000, kIconTable);  // behind the hole: the range ended before it
  ScanResults results;
  w.finder.ScanWords(kBig, 0x52000, results);
  EXPECT_EQ(results.icons, (std::vector<std::uint64_t>{kBig + 0x10, kBig + 0x4FFF8}));
}

// Dense tables and other words into the image, at every place within the groups and pieces the
// scan compares at once, from starts and ends off any boundary: the same objects as word by word.
TEST(FinderScan, DenseWordsFromAnyStartAreFoundAsWordByWord) {
  FinderWorld w;
  w.layout.CameraVtable = kCameraTable;
  constexpr std::uint64_t kDense = 0x30000000, kBytes = 0x9000;
  w.memory.Map(kDense, std::vector<std::uint8_t>(kBytes));
  const std::uint64_t kinds[] = {kIconTable, kMinimapTable,         kWorldMapTable,         kCameraTable,
                                 kImageBase, kImageBase + 0xFFFFF8, kImageBase + 0x1000000, kImageBase - 8,
                                 0};
  std::uint32_t seed = 7;
  for (std::uint64_t at = kDense; at < kDense + kBytes; at += 8) {
    seed = seed * 1103515245 + 12345;
    w.memory.Poke64(at, (seed >> 16) % 4 != 0 ? 0x20000000 + (seed >> 8) : kinds[(seed >> 16) % 9]);
  }
  for (const std::uint64_t skip : {0x0, 0x8, 0x38, 0x4008, 0x3FF8}) {
    const std::uint64_t start = kDense + skip, size = kBytes - skip + 0x1000;  // past the end: a fault
    ScanResults expected, actual;
    for (std::uint64_t at = start; at + 8 <= kDense + kBytes; at += 8) {
      std::uint64_t word = 0;
      ASSERT_TRUE(w.memory.ReadValue(at, word));
      if (word == kIconTable) expected.icons.push_back(at);
      if (word == kMinimapTable) expected.minimapRoots.push_back(at);
      if (word == kWorldMapTable) expected.worldMaps.push_back(at);
      if (word == kCameraTable) expected.cameraManagers.push_back(at);
    }
    w.finder.ScanWords(start, size, actual);
    EXPECT_EQ(actual.icons, expected.icons);
    EXPECT_EQ(actual.minimapRoots, expected.minimapRoots);
    EXPECT_EQ(actual.worldMaps, expected.worldMaps);
    EXPECT_EQ(actual.cameraManagers, expected.cameraManagers);
  }
}

TEST(FinderScan, FullScanReadsOnlyScannableRegionsAndNotesThoseWithIcons) {
  FinderWorld w;
  constexpr std::uint64_t kReadOnly = 0x20000000, kEmpty = 0x21000000, kSecond = 0x22000000;
  w.memory.Map(kReadOnly, std::vector<std::uint8_t>(0x2000));
  w.regions.MarkUnscannable(kReadOnly);
  w.Put(kReadOnly, kIconTable);
  w.memory.Map(kEmpty, std::vector<std::uint8_t>(0x100000));
  w.memory.Map(kSecond, std::vector<std::uint8_t>(0x100000));
  w.Put(kHeap + 0x1000, kMinimapTable);
  w.Put(kHeap + 0x20000, kIconTable);
  w.Put(kSecond + 0x8, kIconTable);
  w.Put(kSecond + 0x10, kWorldMapTable);
  ScanResults results;
  const Lines lines = CaptureLog([&] { w.finder.FullScan(results); });
  EXPECT_EQ(results.icons, (std::vector<std::uint64_t>{kHeap + 0x20000, kSecond + 0x8}));
  EXPECT_EQ(w.finder.IconRegions(), (std::vector<IconRegion>{{kHeap, kHeapSize}, {kSecond, 0x100000}}));
  EXPECT_EQ(w.finder.IconChunks(), (std::vector<std::uint64_t>{kHeap + 0x10000, kHeap + 0x20000, kHeap + 0x30000,
                                                               kSecond - 0x10000, kSecond, kSecond + 0x10000}));
  EXPECT_EQ(lines, Lines{"Finder: full scan 3 MB in 0 ms: minimap=1 worldmap=1 icons=2 in 2 regions (2 MB), 6 chunks"});
}

TEST(FinderScan, ScanRangeCountsOnlyTheScannablePartInsideTheRange) {
  FinderWorld w;
  constexpr std::uint64_t kReadOnly = kHeap + kHeapSize;  // directly after the heap
  w.memory.Map(kReadOnly, std::vector<std::uint8_t>(0x10000));
  w.regions.MarkUnscannable(kReadOnly);
  w.Put(kHeap + 0xF0000, kIconTable);
  w.Put(kHeap + 0xFFFF8, kIconTable);
  w.Put(kReadOnly + 0x8, kIconTable);
  ScanResults results;
  EXPECT_EQ(w.finder.ScanRange(kHeap + 0xF8000, 0x10000, results), 0x8000u);
  EXPECT_EQ(results.icons, (std::vector<std::uint64_t>{kHeap + 0xFFFF8}));
}

// ---- map objects ------------------------------------------------------------------------------

TEST(FinderMapObjects, SecondRootWithThePlayerIsPublishedAndNamed) {
  FinderWorld w;
  w.Minimap(kHeap + 0x1000, false);  // a root left over from a menu: no player position
  w.Minimap(kHeap + 0x3000, true);
  for (int k = 0; k < 5; ++k) w.WorldMapAt(kHeap + 0x10000 + 0x1000 * k);
  const Lines lines = w.TickLog();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], Format("Finder: 2 minimap roots, using %p (has the player)", P(kHeap + 0x3000)));
  EXPECT_EQ(w.pointers.MinimapRoot.load(), kHeap + 0x3000);
  EXPECT_EQ(w.pointers.WorldMapObject.load(), kHeap + 0x10000);
  for (int k = 0; k < 4; ++k) EXPECT_EQ(w.pointers.WorldMapCandidates[k].load(), kHeap + 0x10000 + 0x1000 * k);
  EXPECT_EQ(w.priorityLowered, 1);
}

TEST(FinderMapObjects, WithoutAPlayerTheFirstRootIsTakenAndOneRootLogsNothing) {
  FinderWorld w;
  w.Minimap(kHeap + 0x1000, false);
  w.Minimap(kHeap + 0x3000, false);
  ScanResults results{.minimapRoots = {kHeap + 0x1000, kHeap + 0x3000}, .worldMaps = {kWorldMap}};
  EXPECT_EQ(CaptureLog([&] { w.finder.ChooseMapObjects(results); }),
            Lines{Format("Finder: 2 minimap roots, using %p (none has a player yet)", P(kHeap + 0x1000))});
  EXPECT_EQ(w.pointers.WorldMapCandidates[1].load(), 0u);
  // The same choice again is no change; a single root is published without a line.
  EXPECT_TRUE(CaptureLog([&] { w.finder.ChooseMapObjects(results); }).empty());
  EXPECT_TRUE(CaptureLog([&] { w.finder.ChooseMapObjects({.minimapRoots = {kHeap + 0x3000}}); }).empty());
  EXPECT_EQ(w.pointers.MinimapRoot.load(), kHeap + 0x3000);
  EXPECT_EQ(w.pointers.WorldMapObject.load(), kWorldMap);  // an empty list changes nothing
}

// ---- selection among scanned icons ------------------------------------------------------------

// A searching finder that has found the minimap with the player and one waypoint icon.
struct ScanningWorld : FinderWorld {
  static constexpr std::uint64_t kFirst = kHeap + 0x20000;
  ScanningWorld() {
    PlayerShown();
    Icon(kFirst, 10, 7, 20);
    const Lines lines = TickLog();
    EXPECT_EQ(lines.back(), Format("Finder: waypoint icon %p at (10.0, 20.0), 1 candidates", P(kFirst)));
  }
};

TEST(FinderSelection, DeadClassTableWordIsUsedOnlyIfItPassesTheChecks) {
  FinderWorld w;
  w.PlayerShown();
  // Freed icons whose first word survived: one of another category, one whose position was wiped
  // to NaN. Only the live icon behind them qualifies.
  w.Icon(kHeap + 0x20000, 1, 2, 3, 7);
  w.Icon(kHeap + 0x21000, NAN, 0, 5);
  w.Icon(kHeap + 0x22000, 30, 1, 40);
  const Lines lines = w.TickLog();
  EXPECT_EQ(lines.back(), Format("Finder: waypoint icon %p at (30.0, 40.0), 1 candidates", P(kHeap + 0x22000)));
  EXPECT_EQ(w.pointers.WaypointIcon.load(), kHeap + 0x22000);
  EXPECT_EQ(w.finder.SeenIcons(), (std::vector<std::uint64_t>{kHeap + 0x22000}));
}

TEST(FinderSelection, SameIconsTwiceLogNothingAndANewMarkerIsPickedAtOnce) {
  ScanningWorld w;
  w.now += 1000;
  std::uint32_t sleep = 0;
  EXPECT_TRUE(w.TickLog(&sleep).empty());
  EXPECT_EQ(sleep, 1000u);
  EXPECT_EQ(w.pointers.WaypointIcon.load(), ScanningWorld::kFirst);
  // Another marker in the same chunk: the chunk re-scan finds it, and being new it wins although
  // the old pick is still a candidate (and comes first in scan order).
  w.Icon(ScanningWorld::kFirst + 0x1000, 50, 2, 60);
  w.now += 1000;
  EXPECT_EQ(w.TickLog(),
            Lines{Format("Finder: waypoint icon %p at (50.0, 60.0), 2 candidates", P(ScanningWorld::kFirst + 0x1000))});
  w.now += 1000;
  EXPECT_TRUE(w.TickLog().empty());
  EXPECT_EQ(w.pointers.WaypointIcon.load(), ScanningWorld::kFirst + 0x1000);
}

TEST(FinderSelection, AllCandidatesGoneThenRegionScansBackOffAndFullScansFallBack) {
  ScanningWorld w;
  // The icon object stays but is no longer a waypoint: icons are found, candidates are not.
  w.Put<std::uint32_t>(ScanningWorld::kFirst + 0xD0, 5);
  const Lines lines = w.RunUntil(60000);
  Lines scans;
  for (const std::string& line : lines) {
    if (line.find("scan") != std::string::npos) scans.push_back(line.substr(0, line.find(" scan") + 5));
  }
  EXPECT_EQ(lines.front(), "1000 Finder: no waypoint");
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "1000 Finder: no waypoint"), 1);
  EXPECT_EQ(w.pointers.WaypointIcon.load(), 0u);
  // Region scans wait 3000, 6000, 12000, then 15000 ms; the fallback full scan every 15 s
  // restarts the region scans' wait.
  EXPECT_EQ(scans, (Lines{"3000 Finder: region scan", "9000 Finder: region scan", "15000 Finder: full scan",
                          "27000 Finder: region scan", "30000 Finder: full scan", "45000 Finder: region scan",
                          "45000 Finder: full scan", "60000 Finder: region scan", "60000 Finder: full scan"}));
  EXPECT_EQ(w.finder.RegionScanInterval(), 15000u);
  EXPECT_TRUE(std::all_of(lines.begin(), lines.end(),
                          [](const std::string& l) { return l.find("waypoint icon") == std::string::npos; }));
}

TEST(FinderSelection, RegionScanWithoutIconsEmptiesTheRegionsAndTheNextScanIsFull) {
  ScanningWorld w;
  w.Clear(ScanningWorld::kFirst);  // freed and wiped
  const Lines lines = w.RunUntil(3000);
  EXPECT_EQ(lines, (Lines{"1000 Finder: no waypoint", "3000 Finder: region scan 1 MB in 0 ms: icons=0, 3 chunks"}));
  EXPECT_TRUE(w.finder.IconRegions().empty());
  // Within 10 s of the last full scan nothing is scanned; then a full scan.
  EXPECT_TRUE(w.RunUntil(9000).empty());
  const Lines later = w.RunUntil(10000);
  ASSERT_EQ(later.size(), 1u);
  EXPECT_TRUE(StartsWith(later[0], "10000 Finder: full scan 1 MB in 0 ms: minimap=1 worldmap=1 icons=0")) << later[0];
}

TEST(FinderSelection, NoScanWhileTheWorldMapIsOpenNorWithinThreeSecondsOfClosing) {
  FinderWorld w;
  w.PlayerShown();
  w.WorldMapAt(kWorldMap + 0x1000, true);  // the second world-map root is the open one
  EXPECT_TRUE(StartsWith(w.TickLog()[0], "Finder: full scan"));
  w.now += 20000;
  EXPECT_TRUE(w.RunUntil(40000).empty());
  w.WorldMapAt(kWorldMap + 0x1000, false);
  w.now += 1;  // closed at 40001
  EXPECT_TRUE(w.TickLog().empty());
  w.now += 2999;
  EXPECT_TRUE(w.TickLog().empty());
  w.now += 1;
  const Lines lines = w.TickLog();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(StartsWith(lines[0], "Finder: full scan")) << lines[0];
}

TEST(FinderSelection, ChunkRescansGoOnWhileTheWorldMapIsOpen) {
  ScanningWorld w;
  w.WorldMapAt(kWorldMap, true);
  w.Icon(ScanningWorld::kFirst + 0x8000, 50, 2, 60);
  Lines lines = w.RunUntil(30000);
  // Only the new icon's line: no region, fallback or full scan in all that time.
  EXPECT_EQ(lines, Lines{Format("1000 Finder: waypoint icon %p at (50.0, 60.0), 2 candidates",
                                P(ScanningWorld::kFirst + 0x8000))});
}

TEST(FinderSelection, CameraManagerMissingBringsAFullScanEveryThirtySeconds) {
  ScanningWorld w;
  w.layout.CameraVtable = kCameraTable;
  w.Put(kHeap + 0x50000, kCameraTable);
  const Lines lines = w.RunUntil(30000);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0].substr(0, 25), "15000 Finder: region scan");  // a candidate: every 15 s
  EXPECT_TRUE(StartsWith(lines[lines.size() - 2], "30000 Finder: full scan")) << lines[lines.size() - 2];
  EXPECT_EQ(lines.back(), Format("30000 Finder: camera manager %p", P(kHeap + 0x50000)));
  EXPECT_EQ(w.pointers.CameraManagerObject.load(), kHeap + 0x50000);
  EXPECT_EQ(w.pointers.WaypointIcon.load(), ScanningWorld::kFirst);
}

TEST(FinderSelection, CameraManagerThroughTheSessionNeedsNoScan) {
  FinderWorld w;
  w.layout.CameraVtable = kCameraTable;
  w.layout.SessionGlobal = kSessionGlobal;
  w.Put(kSessionGlobal, kHeap + 0x40000);          // the session object
  w.Put(kHeap + 0x40000 + 0x18, kHeap + 0x50000);  // its camera manager
  w.Put(kHeap + 0x50000, kCameraTable);
  w.PlayerShown();
  const Lines lines = w.TickLog();
  EXPECT_EQ(lines.front(), Format("Finder: camera manager %p (session)", P(kHeap + 0x50000)));
  w.now += 1000;
  EXPECT_TRUE(w.TickLog().empty());  // still valid: not looked up again
}

TEST(FinderTick, ScanSwitchedOffSleepsASecondAndTouchesNothing) {
  FinderWorld w;
  w.settings.debug.scan = false;
  w.PlayerShown();
  w.memory.reads = 0;
  std::uint32_t sleep = 0;
  EXPECT_TRUE(w.TickLog(&sleep).empty());
  EXPECT_EQ(sleep, 1000u);
  EXPECT_EQ(w.memory.reads, 0);
  EXPECT_EQ(w.pointers.MinimapRoot.load(), 0u);
  EXPECT_EQ(w.priorityLowered, 0);
}

TEST(FinderTick, SearchingRepeatsFullScansEveryTenSecondsAcrossTheTickWrap) {
  FinderWorld w;
  w.Minimap(kRoot, false);  // the minimap exists but does not show the player yet
  w.now = 0xFFFFF000u;
  EXPECT_EQ(w.TickLog().size(), 1u);
  w.now = 0xFFFFF000u + 9999u;  // numerically below the last full scan
  std::uint32_t sleep = 0;
  EXPECT_TRUE(w.TickLog(&sleep).empty());
  EXPECT_EQ(sleep, 1000u);
  w.now = 0xFFFFF000u + 10000u;
  const Lines lines = w.TickLog();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(StartsWith(lines[0], "Finder: full scan")) << lines[0];
  EXPECT_EQ(w.priorityLowered, 1);
}

// ---- direct reads -----------------------------------------------------------------------------

// The minimap root's icon tables: at root + path offset a pointer to a table of 24-byte entries
// {category key, array of icon pointers, count, capacity}.
struct DirectWorld : FinderWorld {
  static constexpr std::uint64_t kTable0 = kHeap + 0x60000, kTable1 = kHeap + 0x61000;
  static constexpr std::uint64_t kArray = kHeap + 0x62000, kIcon = kHeap + 0x70000;
  DirectWorld() {
    PlayerShown();
    pointers.MinimapRoot.exchange(kRoot);
    pointers.WorldMapObject.exchange(kWorldMap);
    Put(kRoot + 584, kTable0);
    Put(kRoot + 568, kTable1);
    Icon(kIcon, 11, 0, 22);
  }
  // An entry at `offset` into `table`, at any 8-byte step.
  void Entry(std::uint64_t table, std::uint64_t offset, std::uint64_t key, std::uint64_t array, std::uint32_t count,
             std::uint32_t capacity) {
    Put(table + offset, key);
    Put(table + offset + 8, array);
    Put(table + offset + 16, count);
    Put(table + offset + 20, capacity);
  }
};

TEST(FinderDirect, EntriesAtEveryEightByteStepAndTheirBounds) {
  DirectWorld w;
  // Rejected: no elements, too many, capacity below the count, capacity too large; then an
  // entry whose only element is not an icon, which lets the walk go on to an entry that straddles
  // the 24-byte grid.
  w.Entry(DirectWorld::kTable0, 0x000, 22, DirectWorld::kArray, 0, 4);
  w.Entry(DirectWorld::kTable0, 0x018, 22, DirectWorld::kArray, 65, 100);
  w.Entry(DirectWorld::kTable0, 0x030, 22, DirectWorld::kArray, 2, 1);
  w.Entry(DirectWorld::kTable0, 0x048, 22, DirectWorld::kArray, 1, 4097);
  w.Entry(DirectWorld::kTable0, 0x060, 22, DirectWorld::kArray + 0x100, 1, 1);
  w.Put(DirectWorld::kArray + 0x100, kWorldMap);
  EXPECT_EQ(w.finder.ReadWaypointDirect(584), 0u);
  w.Entry(DirectWorld::kTable0, 0x7E8, 22, DirectWorld::kArray, 2, 2);  // the last whole entry
  w.Put(DirectWorld::kArray, std::uint64_t{0x1234567});                 // not a plausible pointer
  w.Put(DirectWorld::kArray + 8, DirectWorld::kIcon);
  EXPECT_EQ(w.finder.ReadWaypointDirect(584), DirectWorld::kIcon);
  EXPECT_EQ(w.finder.ReadWaypointDirect(568), 0u);
  w.Entry(DirectWorld::kTable1, 0x08, 22, DirectWorld::kArray, 2, 2);  // off the 24-byte grid
  EXPECT_EQ(w.finder.ReadWaypointDirect(568), DirectWorld::kIcon);
}

TEST(FinderDirect, PathChangesLogAgainAndLosingTheWaypointLogsOnce) {
  DirectWorld w;
  w.Entry(DirectWorld::kTable0, 0, 22, DirectWorld::kArray, 1, 1);
  w.Put(DirectWorld::kArray, DirectWorld::kIcon);
  std::uint32_t sleep = 0;
  EXPECT_EQ(w.TickLog(&sleep),
            Lines{Format("Finder: waypoint icon %p at (11.0, 22.0) read directly (path 0)", P(DirectWorld::kIcon))});
  EXPECT_EQ(sleep, 100u);
  EXPECT_EQ(w.pointers.WaypointIcon.load(), DirectWorld::kIcon);
  EXPECT_TRUE(w.TickLog().empty());
  // The same icon, now only on path 1.
  w.Entry(DirectWorld::kTable1, 0, 22, DirectWorld::kArray, 1, 1);
  w.Put(DirectWorld::kTable0, std::uint64_t{21});
  EXPECT_EQ(w.TickLog(),
            Lines{Format("Finder: waypoint icon %p at (11.0, 22.0) read directly (path 1)", P(DirectWorld::kIcon))});
  EXPECT_EQ(w.finder.DirectPath(), 1);
  // Gone from both: one line, no scan, a shorter sleep.
  w.Put(DirectWorld::kTable1, std::uint64_t{21});
  EXPECT_EQ(w.TickLog(&sleep), Lines{"Finder: no waypoint"});
  EXPECT_EQ(sleep, 250u);
  EXPECT_EQ(w.pointers.WaypointIcon.load(), 0u);
  EXPECT_EQ(w.finder.DirectPath(), -1);
  EXPECT_TRUE(w.TickLog(&sleep).empty());
  EXPECT_EQ(sleep, 250u);
  EXPECT_TRUE(w.finder.DirectReadWorked());
  EXPECT_EQ(w.priorityLowered, 0);  // no scanning tick yet
}

TEST(FinderDirect, MinimapWithoutThePlayerSendsTheFinderBackToSearching) {
  DirectWorld w;
  w.Entry(DirectWorld::kTable0, 0, 22, DirectWorld::kArray, 1, 1);
  w.Put(DirectWorld::kArray, DirectWorld::kIcon);
  (void)w.TickLog();
  w.Put(DirectWorld::kTable0, std::uint64_t{21});
  w.Minimap(kRoot, false);  // a loading screen: the minimap shows no player
  const Lines lines = w.TickLog();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "Finder: no waypoint; searching");
  EXPECT_TRUE(StartsWith(lines[1], "Finder: full scan")) << lines[1];
  // DirectPath is -1 already: the next tick without a direct hit logs nothing.
  w.now += 1000;
  EXPECT_TRUE(w.TickLog().empty());
}

}  // namespace
}  // namespace pathlight
