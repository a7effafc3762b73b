// The game-state readers over a fake address space laid out as the game lays out its objects.
#include "game/game_readers.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "game/fake_address_space.hpp"
#include "log_capture.hpp"

namespace pathlight {
namespace {

using testing::CaptureLog;
using testing::FakeAddressSpace;
using testing::Lines;

// The game's image: class tables and globals.
constexpr std::uint64_t kImage = 0x140000000, kImageSize = 0x1000000;
constexpr std::uint64_t kMinimapTable = kImage + 0x100000, kWorldMapTable = kImage + 0x100100;
constexpr std::uint64_t kIconTable = kImage + 0x100200, kCameraTable = kImage + 0x100300;
constexpr std::uint64_t kVehicleComponentTable = kImage + 0x100400, kActorManagerTable = kImage + 0x100500;
constexpr std::uint64_t kGlobals = kImage + 0x200000;
constexpr std::uint64_t kSessionGlobal = kGlobals, kActorsGlobal = kGlobals + 8, kCharactersGlobal = kGlobals + 16;
constexpr std::uint64_t kVehiclesGlobal = kGlobals + 24, kClockSeconds = kGlobals + 32,
                        kClockMilliseconds = kGlobals + 40;

// Heap objects, each mapped on its own so a test can free one.
constexpr std::uint64_t kHeap = 0x20000000;
constexpr std::uint64_t Object(int n) { return kHeap + 0x10000ull * n; }
const std::uint64_t kMinimap = Object(1), kHideWidget = Object(2), kWidgetHolder = Object(3);
const std::uint64_t kWorldMap = Object(4), kOpenWorldMap = Object(5), kIcon = Object(6);
const std::uint64_t kCameraManager = Object(7), kCamera = Object(8);
const std::uint64_t kSession = Object(9), kPlayer = Object(10), kActor = Object(11), kComponents = Object(12);
const std::uint64_t kVehicleComponent = Object(13), kVehicleState = Object(14), kTimeRecord = Object(15);
const std::uint64_t kActorHolder = Object(16), kActorManager = Object(17), kHashTable = Object(18);
const std::uint64_t kBuckets = Object(19), kEntries = Object(20), kHashEntry = Object(21), kRidden = Object(22);
const std::uint64_t kRiddenInfo = Object(23), kRiddenCharacterRef = Object(24), kCharacters = Object(25);
const std::uint64_t kCharacterArray = Object(26), kCharacter = Object(27), kVehicles = Object(28);
const std::uint64_t kVehicleArray = Object(29), kVehicle = Object(30), kVehicleName = Object(31);

constexpr std::uint32_t kVehicleId = 1234;

class ReadersTest : public ::testing::Test {
 protected:
  ReadersTest() {
    layout.ImageBase = kImage;
    layout.ImageSize = kImageSize;
    layout.MinimapVtable = kMinimapTable;
    layout.WorldMapVtable = kWorldMapTable;
    layout.IconVtable = kIconTable;
    layout.CameraVtable = kCameraTable;
    layout.VehicleComponentVtable = kVehicleComponentTable;
    layout.ActorManagerVtable = kActorManagerTable;
    layout.SessionGlobal = kSessionGlobal;
    layout.ActorsGlobal = kActorsGlobal;
    layout.CharactersGlobal = kCharactersGlobal;
    layout.VehiclesGlobal = kVehiclesGlobal;
    layout.ClockSecondsGlobal = kClockSeconds;
    layout.ClockMillisecondsGlobal = kClockMilliseconds;
    memory.Map(kGlobals, std::vector<std::uint8_t>(0x100));
    for (int n = 1; n <= 31; ++n) memory.Map(Object(n), std::vector<std::uint8_t>(0x1000));
    PlantMinimap();
    PlantWorldMaps();
    PlantIcon();
    PlantCamera();
    PlantPlayerChain();
    PlantVehicleTables("Wheels of the West");
    SetClock(12, 0, 0, 0, 1, 1000);
    Put<std::uint64_t>(kClockSeconds, 1000);
  }

  // Any plain value at any address inside a mapped object.
  template <typename T> void Put(std::uint64_t address, T value) {
    const std::uint64_t word = address & ~7ull;
    std::uint8_t bytes[16] = {};
    ASSERT_TRUE(memory.Read(word, bytes, sizeof bytes)) << std::hex << address;
    std::memcpy(bytes + (address - word), &value, sizeof value);
    std::uint64_t low, high;
    std::memcpy(&low, bytes, 8);
    std::memcpy(&high, bytes + 8, 8);
    memory.Poke64(word, low);
    memory.Poke64(word + 8, high);
  }

  void PlantMinimap() {
    Put(kMinimap, kMinimapTable);
    SetPlayer(1200.5f, 35.0f, -800.25f);
    Put(kMinimap + offsets().minimapRotation, 90.0f);
    Put(kMinimap + offsets().minimapZoom, 2.5f);
    Put(kMinimap + offsets().minimapHideWidget, kHideWidget);
    Put(kMinimap + offsets().minimapSize, 200.0f);
    Put(kMinimap + offsets().minimapPosObject, kWidgetHolder);
    SetWidgetPosition(100.0f, 900.0f);
    pointers.MinimapRoot = kMinimap;
  }
  void SetPlayer(float x, float y, float z) {
    Put(kMinimap + offsets().minimapPlayerPosition, x);
    Put(kMinimap + offsets().minimapPlayerPosition + 4, y);
    Put(kMinimap + offsets().minimapPlayerPosition + 8, z);
  }
  void SetWidgetPosition(float x, float y) {
    Put(kWidgetHolder + offsets().minimapPos, x);
    Put(kWidgetHolder + offsets().minimapPos + 4, y);
  }
  void PlantWorldMap(std::uint64_t map, bool open, float x, float z, float zoom) {
    Put(map, kWorldMapTable);
    Put<std::uint8_t>(map + offsets().worldMapOpen, open ? 1 : 0);
    Put(map + offsets().worldMapCenter, x);
    Put(map + offsets().worldMapCenter + 4, z);
    Put(map + offsets().worldMapZoom, zoom);
  }
  void PlantWorldMaps() {
    PlantWorldMap(kWorldMap, false, 10.0f, 20.0f, 1.0f);
    PlantWorldMap(kOpenWorldMap, true, -300.0f, 450.0f, 3.0f);
    Put<std::uint8_t>(kOpenWorldMap + offsets().worldMapOpen, 0);
    pointers.WorldMapObject = kWorldMap;
    pointers.WorldMapCandidates[0] = kWorldMap;
    pointers.WorldMapCandidates[1] = kOpenWorldMap;
  }
  void PlantIcon() {
    Put(kIcon, kIconTable);
    Put<std::uint32_t>(kIcon + offsets().iconCategory, offsets().waypointCategory);
    Put<std::uint16_t>(kIcon + offsets().iconKind, static_cast<std::uint16_t>(offsets().waypointKind));
    Put<std::uint32_t>(kIcon + offsets().iconLive, 1);
    Put(kIcon + offsets().iconPosition, 1500.0f);
    Put(kIcon + offsets().iconPosition + 8, -650.0f);
    pointers.WaypointIcon = kIcon;
  }
  void PlantCamera() {
    Put(kCameraManager, kCameraTable);
    Put(kCameraManager + offsets().cameraObject, kCamera);
    // Rows of a rotation by 90 degrees about y; each row's fourth float is padding.
    const float rows[3][4] = {{0, 0, -1, 7}, {0, 1, 0, 7}, {1, 0, 0, 7}};
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 4; ++c) Put(kCamera + offsets().cameraRotation + 16 * r + 4 * c, rows[r][c]);
    }
    Put(kCamera + offsets().cameraPosition, 1.0f);
    Put(kCamera + offsets().cameraPosition + 4, 2.0f);
    Put(kCamera + offsets().cameraPosition + 8, 3.0f);
    Put(kCamera + offsets().cameraProjX, 1.2f);
    Put(kCamera + offsets().cameraProjY, 2.1f);
    pointers.CameraManagerObject = kCameraManager;
  }
  void PlantPlayerChain() {
    Put(kSessionGlobal, kSession);
    Put(kSession + offsets().sessionPlayer, kPlayer);
    Put(kPlayer + offsets().playerActor, kActor);
    Put(kActor + 0x68, kComponents);
    Put(kComponents + 0x48, kVehicleComponent);
    Put(kComponents + 0x1A0, kTimeRecord);
    Put(kVehicleComponent, kVehicleComponentTable);
    Put(kVehicleComponent + 0x18, kVehicleState);
    SetVehicleId(0);
  }
  void SetVehicleId(std::uint32_t id) { Put(kVehicleState + 0x10, id); }
  // The actor manager's hash (7 buckets) holding the ridden actor, whose character rides vehicle
  // type 2 named `name`.
  void PlantVehicleTables(const std::string& name) {
    Put(kActorsGlobal, kActorHolder);
    Put(kActorHolder, kActorManager);
    Put(kActorManager, kActorManagerTable);
    Put(kActorManager + 8, kHashTable);
    Put<std::uint32_t>(kHashTable + 0x88, 7);
    Put(kHashTable + 0x98, kBuckets);
    Put(kHashTable + 0xA0, kEntries);
    const std::uint64_t bucket = kBuckets + (kVehicleId % 7) * 256;
    Put<std::uint32_t>(bucket, 2);
    Put<std::uint32_t>(bucket + 8, kVehicleId + 7);  // another id in the same bucket
    Put<std::uint32_t>(bucket + 12, 0);
    Put<std::uint32_t>(bucket + 16, kVehicleId);
    Put<std::uint32_t>(bucket + 20, 3);
    Put(kEntries + 3 * 8, kHashEntry);
    Put<std::uint32_t>(kHashEntry + 4, kVehicleId);
    Put(kHashEntry + 8, kRidden);
    Put(kRidden + 0x68, kRiddenInfo);
    Put(kRiddenInfo + 0x20, kRiddenCharacterRef);
    Put<std::uint16_t>(kRiddenCharacterRef + 0x30, 1);
    Put(kCharactersGlobal, kCharacters);
    Put<std::uint32_t>(kCharacters + 8, 2);
    Put(kCharacters + 0x58, kCharacterArray);
    Put(kCharacterArray + 8, kCharacter);
    Put<std::uint16_t>(kCharacter + 0xA0, 2);
    Put(kVehiclesGlobal, kVehicles);
    Put<std::uint32_t>(kVehicles + 8, 3);
    Put(kVehicles + 0x58, kVehicleArray);
    Put(kVehicleArray + 16, kVehicle);
    Put(kVehicle, kVehicleName);
    for (std::size_t i = 0; i <= name.size(); ++i)
      Put<std::uint8_t>(kVehicleName + 24 + i, i < name.size() ? name[i] : 0);
  }
  void SetClock(std::uint32_t h, std::uint32_t m, std::uint32_t s, std::uint32_t ms, std::uint16_t rate,
                std::uint64_t stamp) {
    Put(kTimeRecord + 0x454, h);
    Put(kTimeRecord + 0x458, m);
    Put(kTimeRecord + 0x45C, s);
    Put(kTimeRecord + 0x460, ms);
    Put(kTimeRecord + 0x466, rate);
    Put(kTimeRecord + 0x468, stamp);
  }

  GameOffsets& offsets() { return settings.offsets; }
  GameReadContext Context() { return {memory, layout, settings, pointers, state, worldRouteShown}; }
  GameSnapshot Read() {
    GameSnapshot snapshot;
    ReadGameSnapshot(Context(), snapshot);
    return snapshot;
  }
  // The log lines one reading writes (the native log goes to standard output).
  // Only the lines with the tag `only` when one is given.
  Lines Logged(GameSnapshot& snapshot, const std::string& only = "") {
    return CaptureLog([&] { ReadGameSnapshot(Context(), snapshot); }, only);
  }
  Lines Logged(const std::string& only = "") {
    GameSnapshot snapshot;
    return Logged(snapshot, only);
  }

  FakeAddressSpace memory;
  GameLayout layout;
  Settings settings;
  PublishedGamePointers pointers;
  ReaderState state;
  bool worldRouteShown = true;
};

void ExpectStartValues(const GameSnapshot& s) {
  const GameSnapshot start;
  EXPECT_EQ(s.playerValid, 0);
  EXPECT_EQ(s.waypointValid, 0);
  EXPECT_EQ(s.minimapValid, 0);
  EXPECT_EQ(s.minimapAlpha, 0.0f);
  EXPECT_EQ(s.minimapZoom, 1.0f);
  EXPECT_EQ(s.widgetScale, 1.0f);
  EXPECT_EQ(s.widgetSize, 0.0f);
  EXPECT_EQ(s.worldMapOpen, 0);
  EXPECT_EQ(s.mountState, kMountUnknown);
  EXPECT_EQ(s.clockHours, -1.0f);
  EXPECT_EQ(s.cameraValid, 0);
  EXPECT_EQ(0, std::memcmp(s.cameraColumn2, start.cameraColumn2, sizeof start.cameraColumn2));
}

TEST_F(ReadersTest, AWholeReadingOfThePlantedGame) {
  GameSnapshot s;
  const Lines lines = Logged(s);
  EXPECT_EQ(s.playerValid, 1);
  EXPECT_EQ(s.playerX, 1200.5f);
  EXPECT_EQ(s.playerY, 35.0f);
  EXPECT_EQ(s.playerZ, -800.25f);
  EXPECT_EQ(s.waypointValid, 1);
  EXPECT_EQ(s.waypointX, 1500.0f);
  EXPECT_EQ(s.waypointZ, -650.0f);
  EXPECT_EQ(s.minimapValid, 1);
  EXPECT_EQ(s.minimapRotation, 90.0f);
  EXPECT_EQ(s.minimapZoom, 2.5f);
  EXPECT_EQ(s.minimapAlpha, 1.0f);
  EXPECT_EQ(s.widgetSize, 200.0f);
  EXPECT_EQ(s.widgetScale, 1.0f);
  EXPECT_EQ(s.worldMapOpen, 0);
  EXPECT_EQ(s.worldMapCenterX, 10.0f);
  EXPECT_EQ(s.mountState, kMountOnFoot);
  EXPECT_FLOAT_EQ(s.clockHours, 12.0f);
  EXPECT_EQ(s.cameraValid, 1);
  // Columns from the rows the game holds.
  EXPECT_EQ(s.cameraColumn0[0], 0.0f);
  EXPECT_EQ(s.cameraColumn0[2], 1.0f);
  EXPECT_EQ(s.cameraColumn2[0], -1.0f);
  EXPECT_EQ(s.cameraColumn2[2], 0.0f);
  EXPECT_EQ(s.cameraPosition[2], 3.0f);
  EXPECT_EQ(s.cameraProjX, 1.2f);
  EXPECT_EQ(s.cameraFromDlss, 0);
  EXPECT_EQ(lines, (Lines{"Minimap: normal widget size 200 at (100, 900)", "Player: on foot", "Clock: 12:00"}));
  // Nothing changed: nothing more is logged.
  EXPECT_TRUE(Logged().empty());
}

TEST_F(ReadersTest, WithoutAnImageScanEveryFieldKeepsItsStartValue) {
  layout = GameLayout{};
  GameSnapshot s;
  EXPECT_TRUE(Logged(s).empty());
  ExpectStartValues(s);
  EXPECT_EQ(s.playerX, 0.0f);
  EXPECT_EQ(s.waypointX, 0.0f);
}

TEST_F(ReadersTest, PlayerPositionLimits) {
  SetPlayer(0.0f, 50.0f, 0.0f);
  EXPECT_EQ(Read().playerValid, 0);
  SetPlayer(0.0f, 50.0f, 3.0f);
  EXPECT_EQ(Read().playerValid, 1);
  // The bound is inclusive here (the finder's own test is strict).
  SetPlayer(1'000'000.0f, 0.0f, -1'000'000.0f);
  EXPECT_EQ(Read().playerValid, 1);
  SetPlayer(1'000'064.0f, 0.0f, 5.0f);
  EXPECT_EQ(Read().playerValid, 0);
  SetPlayer(std::numeric_limits<float>::infinity(), 0.0f, 5.0f);
  EXPECT_EQ(Read().playerValid, 0);
  // A root of another class is not the minimap.
  SetPlayer(1.0f, 2.0f, 3.0f);
  pointers.MinimapRoot = kWorldMap;
  const GameSnapshot s = Read();
  EXPECT_EQ(s.playerValid, 0);
  EXPECT_EQ(s.minimapValid, 0);
}

TEST_F(ReadersTest, ZoomOutsideTheOpenRangeReadsAsOne) {
  for (float zoom : {0.2f, 5.0f, 0.0f, -2.0f, std::numeric_limits<float>::quiet_NaN()}) {
    Put(kMinimap + offsets().minimapZoom, zoom);
    EXPECT_EQ(Read().minimapZoom, 1.0f) << zoom;
  }
  Put(kMinimap + offsets().minimapZoom, 0.21f);
  EXPECT_EQ(Read().minimapZoom, 0.21f);
  Put(kMinimap + offsets().minimapZoom, 4.99f);
  EXPECT_EQ(Read().minimapZoom, 4.99f);
}

TEST_F(ReadersTest, HideFlagAndHideWidgetPointer) {
  Put<std::uint32_t>(kHideWidget + offsets().minimapHideFlags, 0x400 | 0x3);
  GameSnapshot s = Read();
  EXPECT_EQ(s.minimapAlpha, 0.0f);
  // Hidden, yet the widget and the rest are read.
  EXPECT_EQ(s.widgetSize, 200.0f);
  EXPECT_EQ(s.minimapValid, 1);
  Put<std::uint32_t>(kHideWidget + offsets().minimapHideFlags, 0x3FF);
  EXPECT_EQ(Read().minimapAlpha, 1.0f);
  // A hide widget that cannot be an object means shown, and nothing is read through it.
  Put<std::uint32_t>(kHideWidget + offsets().minimapHideFlags, 0x400);
  Put<std::uint64_t>(kMinimap + offsets().minimapHideWidget, kHideWidget + 4);
  EXPECT_EQ(Read().minimapAlpha, 1.0f);
  Put<std::uint64_t>(kMinimap + offsets().minimapHideWidget, 0);
  EXPECT_EQ(Read().minimapAlpha, 1.0f);
}

TEST_F(ReadersTest, WidgetSizeOutsideItsRangeIsNotRead) {
  for (float size : {49.9f, 8000.5f, std::numeric_limits<float>::quiet_NaN()}) {
    Put(kMinimap + offsets().minimapSize, size);
    GameSnapshot s;
    EXPECT_TRUE(Logged(s, "Minimap:").empty()) << size;
    EXPECT_EQ(s.widgetScale, 1.0f);
    EXPECT_EQ(s.widgetOffsetX, 0.0f);
    EXPECT_EQ(s.widgetOffsetY, 0.0f);
    EXPECT_EQ(s.widgetSize, 0.0f);
    EXPECT_EQ(s.minimapValid, 1);
  }
  // A position beyond 20000 or an offset of 0 turns the reading off as well.
  Put(kMinimap + offsets().minimapSize, 200.0f);
  SetWidgetPosition(20001.0f, 0.0f);
  EXPECT_EQ(Read().widgetSize, 0.0f);
  SetWidgetPosition(100.0f, 900.0f);
  offsets().minimapPosObject = 0;
  EXPECT_EQ(Read().widgetSize, 0.0f);
}

TEST_F(ReadersTest, WidgetGrowsAndShrinks) {
  ASSERT_EQ(Logged("Minimap:"), Lines{"Minimap: normal widget size 200 at (100, 900)"});
  // Expanded to 1.5 times and moved: scale and offsets in reference pixels (k = 2 x 100 / 200).
  Put(kMinimap + offsets().minimapSize, 300.0f);
  SetWidgetPosition(150.0f, 700.0f);
  GameSnapshot s;
  EXPECT_TRUE(Logged(s).empty());
  EXPECT_EQ(s.widgetScale, 1.5f);
  EXPECT_EQ(s.widgetOffsetX, 50.0f);
  EXPECT_EQ(s.widgetOffsetY, -200.0f);
  EXPECT_EQ(s.widgetX, 150.0f);
  EXPECT_EQ(s.widgetSize, 300.0f);
  // Half a unit smaller is still the normal widget.
  Put(kMinimap + offsets().minimapSize, 199.5f);
  EXPECT_TRUE(Logged(s).empty());
  EXPECT_EQ(s.widgetScale, 199.5f / 200.0f);
  // More than half a unit smaller becomes the normal widget.
  Put(kMinimap + offsets().minimapSize, 180.0f);
  EXPECT_EQ(Logged(s), Lines{"Minimap: normal widget size 180 at (150, 700)"});
  EXPECT_EQ(s.widgetScale, 1.0f);
  EXPECT_EQ(s.widgetOffsetX, 0.0f);
  EXPECT_EQ(state.normalWidgetSize.load(), 180.0f);
}

TEST_F(ReadersTest, WorldMapCandidatesAndUnusableValues) {
  // The first candidate that is open wins over the first world map found.
  Put<std::uint8_t>(kOpenWorldMap + offsets().worldMapOpen, 1);
  GameSnapshot s = Read();
  EXPECT_EQ(s.worldMapOpen, 1);
  EXPECT_EQ(s.worldMapCenterX, -300.0f);
  EXPECT_EQ(s.worldMapCenterY, 450.0f);
  EXPECT_EQ(s.worldMapZoom, 3.0f);
  // Open, but with a zoom of 0: not usable.
  Put(kOpenWorldMap + offsets().worldMapZoom, 0.0f);
  s = Read();
  EXPECT_EQ(s.worldMapOpen, 0);
  EXPECT_EQ(s.worldMapCenterX, -300.0f);
  Put(kOpenWorldMap + offsets().worldMapZoom, 3.0f);
  Put(kOpenWorldMap + offsets().worldMapCenter, std::numeric_limits<float>::infinity());
  EXPECT_EQ(Read().worldMapOpen, 0);
  // Open, but its zoom unreadable (freed in the middle of the reading): no open map without a scale.
  Put(kOpenWorldMap + offsets().worldMapCenter, -300.0f);
  std::vector<std::uint8_t> bytes(0x1000);
  ASSERT_TRUE(memory.Read(kOpenWorldMap, bytes.data(), bytes.size()));
  const std::uint64_t zoomAt = offsets().worldMapZoom;
  memory.Unmap(kOpenWorldMap);
  memory.Map(kOpenWorldMap, {bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(zoomAt)});
  memory.Map(kOpenWorldMap + zoomAt + 4, {bytes.begin() + static_cast<std::ptrdiff_t>(zoomAt + 4), bytes.end()});
  EXPECT_EQ(Read().worldMapOpen, 0);
  memory.Unmap(kOpenWorldMap + zoomAt + 4);
  memory.Map(kOpenWorldMap, bytes);
  // Without candidates the published world map is read as it is.
  for (auto& candidate : pointers.WorldMapCandidates) candidate = 0;
  PlantWorldMap(kWorldMap, true, 5.0f, 6.0f, 2.0f);
  s = Read();
  EXPECT_EQ(s.worldMapOpen, 1);
  EXPECT_EQ(s.worldMapCenterX, 5.0f);
}

TEST_F(ReadersTest, CameraNeedsItsTableTheWorldRouteAndUsableValues) {
  EXPECT_EQ(Read().cameraValid, 1);
  worldRouteShown = false;
  GameSnapshot s = Read();
  EXPECT_EQ(s.cameraValid, 0);
  EXPECT_EQ(s.cameraProjX, 0.0f);
  worldRouteShown = true;
  Put(kCamera + offsets().cameraProjY, 20.0f);
  EXPECT_EQ(Read().cameraValid, 0);
  Put(kCamera + offsets().cameraProjY, 2.1f);
  Put(kCamera + offsets().cameraRotation + 32 + 8, 0.5f);  // column 2 no longer of unit length
  EXPECT_EQ(Read().cameraValid, 0);
  Put(kCamera + offsets().cameraRotation + 32 + 8, 0.0f);
  Put(kCamera + offsets().cameraPosition + 4, 1'000'000.0f);
  EXPECT_EQ(Read().cameraValid, 0);
  Put(kCamera + offsets().cameraPosition + 4, 2.0f);
  layout.CameraVtable = 0;
  EXPECT_EQ(Read().cameraValid, 0);
}

TEST_F(ReadersTest, MountStateIsNamedOnceAndCached) {
  ASSERT_EQ(Read().mountState, kMountOnFoot);
  SetVehicleId(kVehicleId);
  GameSnapshot s;
  EXPECT_EQ(Logged(s), Lines{"Player: on a wagon, vehicle Wheels of the West"});
  EXPECT_EQ(s.mountState, kMountWagon);
  // The same id again: no lookup (the tables are gone) and no line.
  memory.Unmap(kBuckets);
  EXPECT_TRUE(Logged(s).empty());
  EXPECT_EQ(s.mountState, kMountWagon);
  // Off again, then an id that cannot be named: riding, logged without a name, not cached.
  memory.Map(kBuckets, std::vector<std::uint8_t>(0x1000));
  SetVehicleId(0);
  EXPECT_EQ(Logged(s), Lines{"Player: on foot"});
  SetVehicleId(77);
  EXPECT_EQ(Logged(s), Lines{"Player: riding"});
  EXPECT_EQ(state.cachedVehicleId.load(), kVehicleId);
  // A chain that breaks: unknown.
  Put<std::uint64_t>(kComponents + 0x48, kVehicleState);  // not a vehicle component
  EXPECT_EQ(Logged(s), Lines{"Player: mount state unknown"});
  EXPECT_EQ(s.mountState, kMountUnknown);
}

TEST_F(ReadersTest, MountNamesDecideRidingOrWagon) {
  PlantVehicleTables("Horse");
  SetVehicleId(kVehicleId);
  GameSnapshot s;
  EXPECT_EQ(Logged(s, "Player:"), Lines{"Player: riding, vehicle Horse"});
  EXPECT_EQ(s.mountState, kMountRiding);
  // Case-sensitive: "wagon" is not "Wagon". The id changes so the name is read again.
  PlantVehicleTables("Farm wagon");
  Put<std::uint32_t>(kHashEntry + 4, kVehicleId + 7 * 31);
  Put<std::uint32_t>(kBuckets + (kVehicleId % 7) * 256 + 16, kVehicleId + 7 * 31);
  SetVehicleId(kVehicleId + 7 * 31);
  EXPECT_TRUE(Logged(s).empty());
  EXPECT_EQ(s.mountState, kMountRiding);
  // A name runs to its first unprintable byte, at most 47 bytes.
  PlantVehicleTables(std::string(60, 'W') + "Wagon");
  Put<std::uint32_t>(kHashEntry + 4, kVehicleId);
  SetVehicleId(kVehicleId);
  EXPECT_EQ(ReadVehicleTypeName(Context(), kVehicleId), std::string(47, 'W'));
  PlantVehicleTables("Old Wagon");
  Put<std::uint8_t>(kVehicleName + 24 + 3, 0x7F);
  EXPECT_EQ(ReadVehicleTypeName(Context(), kVehicleId), "Old");
  // Without the vehicle-type globals a mounted player only rides.
  layout.VehiclesGlobal = 0;
  EXPECT_EQ(ReadVehicleTypeName(Context(), kVehicleId), "");
}

TEST_F(ReadersTest, AFaultWhileNamingTheVehicleMakesTheMountUnknown) {
  SetVehicleId(kVehicleId);
  GameSnapshot s;
  // The vehicles table is freed under the reader: unknown, not "riding", and nothing cached.
  memory.Unmap(kVehicleArray);
  EXPECT_EQ(Logged(s, "Player:"), Lines{"Player: mount state unknown"});
  EXPECT_EQ(s.mountState, kMountUnknown);
  EXPECT_EQ(state.cachedVehicleId.load(), 0u);
  memory.Map(kVehicleArray, std::vector<std::uint8_t>(0x1000));
  Put(kVehicleArray + 16, kVehicle);
  EXPECT_EQ(Logged(s, "Player:"), Lines{"Player: on a wagon, vehicle Wheels of the West"});

  // A name still printable where its memory ends ran into a fault; one that ends before is whole.
  const std::uint64_t tail = kVehicleName + 0x1000 - 8;  // the object's last 8 bytes
  memory.Poke64(tail, 0x5757575757575757ull);            // "WWWWWWWW"
  Put(kVehicle, tail - 24);
  bool faulted = false;
  EXPECT_EQ(ReadVehicleTypeName(Context(), kVehicleId, &faulted), "");
  EXPECT_TRUE(faulted);
  memory.Poke64(tail, 0x0000000057575757ull);  // "WWWW" and its end
  EXPECT_EQ(ReadVehicleTypeName(Context(), kVehicleId, &faulted), "WWWW");
  EXPECT_FALSE(faulted);
  // A check that fails is no fault: the mount is ridden, unnamed.
  Put<std::uint16_t>(kCharacter + 0xA0, 9);
  EXPECT_EQ(ReadVehicleTypeName(Context(), kVehicleId, &faulted), "");
  EXPECT_FALSE(faulted);
}

TEST_F(ReadersTest, MountStateIsReadOnlyWhenSomethingNeedsIt) {
  settings.mountedOnly = false;
  settings.wagonRoutingEnabled = false;
  SetVehicleId(kVehicleId);
  GameSnapshot s;
  EXPECT_TRUE(Logged(s, "Player:").empty());
  EXPECT_EQ(s.mountState, kMountUnknown);
  settings.wagonRoutingEnabled = true;
  layout.SessionGlobal = 0;
  EXPECT_EQ(Read().mountState, kMountUnknown);
}

TEST(TimeOfDay, FoldAndUnfoldOnTheTwentyOneHourScale) {
  EXPECT_EQ(FoldDayMilliseconds(7'200'000), 3'600'000u);  // 02:00
  EXPECT_EQ(UnfoldDayMilliseconds(3'600'000), 7'200'000u);
  EXPECT_EQ(FoldDayMilliseconds(79'200'000), 72'000'000u);  // 22:00
  EXPECT_EQ(UnfoldDayMilliseconds(72'000'000), 79'200'000u);
  // The joints: 03:00 and 21:00 meet both sides.
  EXPECT_EQ(FoldDayMilliseconds(10'800'000), 5'400'000u);
  EXPECT_EQ(FoldDayMilliseconds(75'600'000), 70'200'000u);
  EXPECT_EQ(FoldDayMilliseconds(86'399'999), 75'599'999u);
  for (std::uint64_t ms = 0; ms < 86'400'000; ms += 1'800'000) {
    EXPECT_EQ(UnfoldDayMilliseconds(FoldDayMilliseconds(ms)), ms);
  }
}

TEST_F(ReadersTest, ClockExamples) {
  // The stamp lies ahead of now (1000 s): the stored time as it stands.
  SetClock(2, 0, 0, 0, 1, 5000);
  EXPECT_FLOAT_EQ(Read().clockHours, 2.0f);
  SetClock(22, 0, 0, 0, 1, 5000);
  EXPECT_FLOAT_EQ(Read().clockHours, 22.0f);
  // Rate 60 and now 60 s past the stamp: 3600 scale ms later.
  SetClock(12, 0, 0, 0, 60, 940);
  EXPECT_FLOAT_EQ(Read().clockHours, 12.001f);
  // Now counts the milliseconds global too: 1000 s + 60,000 ms.
  Put<std::uint64_t>(kClockMilliseconds, 60'000);
  SetClock(12, 0, 0, 0, 60, 1000);
  EXPECT_FLOAT_EQ(Read().clockHours, 12.001f);
  // Past the end of the scale's day the hours wrap: 23:59 plus 10 scale minutes at night speed.
  SetClock(23, 59, 0, 0, 1000, 460);
  EXPECT_NEAR(Read().clockHours, (86'340'000.0 + 2 * 600'000.0 - 86'400'000.0) / 3'600'000.0, 1e-4);
  // The day's last millisecond stays below 24 hours, though a float holds no value between.
  SetClock(23, 59, 59, 999, 1, 5000);
  EXPECT_LT(Read().clockHours, 24.0f);
  EXPECT_GT(Read().clockHours, 23.9999f);
}

TEST_F(ReadersTest, ClockLinesOnChangeOnlyAndUnreadableRecords) {
  SetClock(7, 30, 0, 0, 1, 5000);
  GameSnapshot s;
  Lines lines = Logged(s);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "Clock: 07:30");
  // The time moves on, the state (time known) does not: no line.
  SetClock(8, 45, 0, 0, 1, 5000);
  EXPECT_TRUE(Logged(s).empty());
  EXPECT_FLOAT_EQ(s.clockHours, 8.75f);
  for (auto bad : {std::array<std::uint32_t, 5>{24, 0, 0, 0, 1},
                   {0, 60, 0, 0, 1},
                   {0, 0, 60, 0, 1},
                   {0, 0, 0, 1000, 1},
                   {0, 0, 0, 0, 0},
                   {0, 0, 0, 0, 1001}}) {
    SetClock(bad[0], bad[1], bad[2], bad[3], static_cast<std::uint16_t>(bad[4]), 5000);
    EXPECT_EQ(Read().clockHours, -1.0f);
  }
  EXPECT_EQ(Logged(s), Lines{});  // Read() above already logged the change
  SetClock(8, 45, 0, 0, 1, 5000);
  EXPECT_EQ(Logged(s), Lines{"Clock: 08:45"});
}

TEST_F(ReadersTest, NegativeNightOpacityLeavesTheClockUnread) {
  settings.worldNightOpacity = -0.5f;
  GameSnapshot s;
  for (const std::string& line : Logged(s)) EXPECT_EQ(line.rfind("Clock:", 0), std::string::npos) << line;
  EXPECT_EQ(s.clockHours, -1.0f);
  settings.worldNightOpacity = 0.0f;
  EXPECT_FLOAT_EQ(Read().clockHours, 12.0f);
}

TEST_F(ReadersTest, AFaultMidReadKeepsWhatWasReadBefore) {
  ASSERT_EQ(Read().minimapValid, 1);
  // The widget's position object is freed: rotation, zoom and alpha were read before it, the
  // minimap is not valid, and the world map (read after it) is not read.
  Put(kMinimap + offsets().minimapSize, 300.0f);  // a reading that would otherwise log
  memory.Unmap(kWidgetHolder);
  Put<std::uint8_t>(kOpenWorldMap + offsets().worldMapOpen, 1);
  GameSnapshot s;
  EXPECT_TRUE(Logged(s).empty());
  EXPECT_EQ(s.minimapRotation, 90.0f);
  EXPECT_EQ(s.minimapZoom, 2.5f);
  EXPECT_EQ(s.minimapAlpha, 1.0f);
  EXPECT_EQ(s.widgetSize, 0.0f);
  EXPECT_EQ(s.minimapValid, 0);
  EXPECT_EQ(s.worldMapOpen, 0);
  // The other readers go on.
  EXPECT_EQ(s.playerValid, 1);
  EXPECT_EQ(s.waypointValid, 1);
  EXPECT_EQ(s.cameraValid, 1);
  // The waypoint icon and the camera object freed as well.
  memory.Unmap(kIcon);
  memory.Unmap(kCamera);
  s = Read();
  EXPECT_EQ(s.waypointValid, 0);
  EXPECT_EQ(s.cameraValid, 0);
  EXPECT_EQ(s.playerValid, 1);
  // The whole minimap freed: nothing of it, and the world map is read again.
  memory.Unmap(kMinimap);
  s = Read();
  EXPECT_EQ(s.playerValid, 0);
  EXPECT_EQ(s.minimapAlpha, 0.0f);
  EXPECT_EQ(s.worldMapOpen, 1);
}

}  // namespace
}  // namespace pathlight
