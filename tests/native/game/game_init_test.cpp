#include "game/game_init.hpp"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <string>
#include <vector>

#include "game/image_builder.hpp"
#include "log_capture.hpp"

namespace pathlight {
namespace {

using namespace pathlight::testing;

std::uint32_t SevenMsPerCall() {
  static std::uint32_t now = 1000;
  return now += 7;
}

// An image with everything the scan looks for, at addresses the test knows.
struct GameImage {
  struct Options {
    bool uiClasses = true;
    bool vehicleComponent = true;
    int sessionSites = 24;
    bool charactersGetter = true;
  };

  ImageBuilder image;
  int text, rdata, data;
  std::uint64_t minimap = 0, worldMap = 0, icon = 0, camera = 0, vehicleComponent = 0, actorManager = 0;
  std::uint64_t session = 0, clockSeconds = 0, clockMs = 0;
  VehicleGlobals vehicle;

  GameImage() : GameImage(Options{}) {}
  explicit GameImage(Options options) {
    text = image.AddSection(0x4000, kCode);
    rdata = image.AddSection(0x2000, kRdata);
    data = image.AddSection(0x1000, kData);
    session = image.Put(data, Bytes(8, 0), 8);
    const std::uint64_t decoyGlobal = image.Put(data, Bytes(8, 0), 8);
    vehicle = {image.Put(data, Bytes(8, 0)), image.Put(data, Bytes(8, 0)), image.Put(data, Bytes(8, 0))};
    clockSeconds = image.Put(data, Bytes(8, 0));
    clockMs = image.Put(data, Bytes(8, 0));
    if (!options.charactersGetter) vehicle.characters = 0;

    PutSessionSites(image, text, session, options.sessionSites);
    PutSessionSites(image, text, decoyGlobal, 5);
    PutClockRead(image, text, clockSeconds, clockMs);
    const std::uint64_t check = PutVehicleCheck(image, text, vehicle);
    image.Fill(text);

    const ClassSections at{data, rdata};
    if (options.uiClasses) {
      minimap = PutClass(image, at, decorated::kMinimap);
      worldMap = PutClass(image, at, decorated::kWorldMap);
      icon = PutClass(image, at, decorated::kIcon);
    }
    camera = PutClass(image, at, decorated::kCamera);
    if (options.vehicleComponent) vehicleComponent = PutClass(image, at, decorated::kVehicleComponent);
    actorManager = PutClass(image, at, decorated::kActorManager);
    PutClass(image, at, decorated::kRidingVehicleCondition, {0, check});
  }

  MappedImage View() { return image.Image(); }
};

struct InitRun {
  bool result;
  GameLayout layout;
  Lines lines;
};

InitRun RunGameInit(GameImage& game, GameScanSettings settings = {}) {
  InitRun run{};
  const MappedImage view = game.View();
  run.lines = CaptureLog([&] { run.result = GameInit(view, settings, run.layout, &SevenMsPerCall); });
  return run;
}

std::string SummaryLine(GameImage& game, bool camera) {
  return "GameInit: image 0 MB, vtables minimap=" + Hex(game.minimap) + " worldmap=" + Hex(game.worldMap) +
         " icon=" + Hex(game.icon) + " camera=" + Hex(camera ? game.camera : 0) + ", 7 ms";
}

// ---- GameInit -----------------------------------------------------------------------------------

TEST(GameInit, DefaultsFindEverythingAndLogTheFourLines) {
  GameImage game;
  const InitRun run = RunGameInit(game);
  EXPECT_TRUE(run.result);
  EXPECT_EQ(run.lines, (Lines{"GameInit: session global at " + Hex(game.session) + " (24 sites, runner-up 5)",
                              "GameInit: vehicle types found (actors " + Hex(game.vehicle.actors) + ", characters " +
                                  Hex(game.vehicle.characters) + ", vehicles " + Hex(game.vehicle.vehicles) + ")",
                              "GameInit: game clock found (" + Hex(game.clockSeconds) + ", " + Hex(game.clockMs) + ")",
                              SummaryLine(game, true)}));
  EXPECT_EQ(run.layout.ImageBase, kImageBase);
  EXPECT_EQ(run.layout.VehicleComponentVtable, game.vehicleComponent);
  EXPECT_EQ(run.layout.ActorManagerVtable, game.actorManager);
  EXPECT_EQ(run.layout.SessionGlobal, game.session);
}

TEST(GameInit, NothingInWorldAndNoWagonsSearchesOnlyTheInterfaceClasses) {
  GameImage game;
  const InitRun run = RunGameInit(game, {.worldEnabled = false, .worldToggleKey = 0, .wagonRoutingEnabled = false});
  EXPECT_TRUE(run.result);
  EXPECT_EQ(run.lines, Lines{SummaryLine(game, false)});
  EXPECT_EQ(run.layout.VehicleComponentVtable, 0u);
  EXPECT_EQ(run.layout.SessionGlobal, 0u);
}

TEST(GameInit, InWorldRouteNeedsOnlyOneOfEnabledAndToggleKey) {
  GameImage game;
  const InitRun run = RunGameInit(game, {.worldEnabled = false, .worldToggleKey = 0xDD, .wagonRoutingEnabled = false});
  ASSERT_EQ(run.lines.size(), 3u);  // session, clock, summary: no vehicle types without wagons
  EXPECT_EQ(run.lines[1].rfind("GameInit: game clock found", 0), 0u);
  EXPECT_EQ(run.lines[2], SummaryLine(game, true));
  EXPECT_EQ(run.layout.ActorManagerVtable, 0u);
}

TEST(GameInit, WagonsWithTheInWorldRouteHiddenSkipTheClockAndCamera) {
  GameImage game;
  const InitRun run = RunGameInit(game, {.worldEnabled = false, .worldToggleKey = 0, .wagonRoutingEnabled = true});
  ASSERT_EQ(run.lines.size(), 3u);
  EXPECT_EQ(run.lines[1].rfind("GameInit: vehicle types found", 0), 0u);
  EXPECT_EQ(run.lines[2], SummaryLine(game, false));
  EXPECT_EQ(run.layout.ClockSecondsGlobal, 0u);
}

TEST(GameInit, VehicleGlobalsComeAllThreeOrNone) {
  GameImage game({.charactersGetter = false});
  const InitRun run = RunGameInit(game);
  EXPECT_EQ(run.lines[1], "GameInit: vehicle types not found (actors +0x0, characters +0x0, vehicles +0x0)");
  EXPECT_EQ(run.layout.ActorsGlobal, 0u);
  EXPECT_EQ(run.layout.VehiclesGlobal, 0u);
}

TEST(GameInit, WithoutTheVehicleComponentOrTheSessionTheDependentSearchesStop) {
  GameImage noComponent({.vehicleComponent = false});
  EXPECT_EQ(RunGameInit(noComponent).lines, Lines{SummaryLine(noComponent, true)});
  GameImage fewSites({.sessionSites = 19});
  EXPECT_EQ(RunGameInit(fewSites).lines,
            (Lines{"GameInit: session global not found, best " + Hex(fewSites.session) + " (19 sites, runner-up 5)",
                   SummaryLine(fewSites, true)}));
}

TEST(GameInit, MissingInterfaceClassesFail) {
  GameImage game({.uiClasses = false});
  const InitRun run = RunGameInit(game);
  EXPECT_FALSE(run.result);
  EXPECT_EQ(run.lines.back(), SummaryLine(game, true));
}

// An image with pages that must not be read: the copy the scan reads has them unmapped for real
// (PROT_NONE), so a read of one ends the test with a fault.
TEST(GameInit, UnreadablePagesAreLeftOutAndWhatLiesAroundThemIsFound) {
  ImageBuilder image;
  const int text = image.AddSection(0x3000, kCode);
  const int rdata = image.AddSection(0x3000, kRdata);
  const int data = image.AddSection(0x1000, kData);
  const std::uint64_t session = image.Put(data, Bytes(8, 0), 8);
  const VehicleGlobals vehicle{image.Put(data, Bytes(8, 0)), image.Put(data, Bytes(8, 0)),
                               image.Put(data, Bytes(8, 0))};
  // Code: the vehicle check and a function that only loads the thread's storage late on the first
  // page, so their search windows run into the hole on the second; the session sites and the
  // clock after the hole.
  image.Skip(text, 0x1000 - 0x100);
  const std::uint64_t check = PutVehicleCheck(image, text, vehicle);
  const std::uint64_t storageOnly = image.Put(text, {0x65, 0x48, 0x8B, 0x04, 0x25, 0x58, 0x00, 0x00, 0x00, 0xC3});
  image.Skip(text, static_cast<std::uint32_t>(image.SectionStart(text) + 0x2000 - image.Put(text, {0x90}) - 1));
  PutSessionSites(image, text, session, 20);
  PutClockRead(image, text, image.Put(data, Bytes(8, 0)), image.Put(data, Bytes(8, 0)));
  // Read-only data: one class before the hole, the rest after it.
  const ClassSections at{data, rdata};
  const std::uint64_t minimap = PutClass(image, at, decorated::kMinimap);
  image.Skip(rdata, static_cast<std::uint32_t>(image.SectionStart(rdata) + 0x2000 - image.Put(rdata, {0}) - 1));
  const std::uint64_t worldMap = PutClass(image, at, decorated::kWorldMap);
  const std::uint64_t icon = PutClass(image, at, decorated::kIcon);
  PutClass(image, at, decorated::kVehicleComponent);
  PutClass(image, at, decorated::kActorManager);
  PutClass(image, at, decorated::kRidingVehicleCondition, {storageOnly, check});
  const MappedImage built = image.Image();

  const std::size_t size = image.End() - kImageBase;
  auto* copy = static_cast<std::byte*>(mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(copy, MAP_FAILED);
  std::memcpy(copy, built.At(kImageBase), size);
  const std::vector<AddressRange> holes = {{image.SectionStart(text) + 0x1000, image.SectionStart(text) + 0x2000},
                                           {image.SectionStart(rdata) + 0x1000, image.SectionStart(rdata) + 0x2000}};
  for (const AddressRange& hole : holes) mprotect(copy + (hole.start - kImageBase), 0x1000, PROT_NONE);
  const MappedImage guarded(kImageBase, {copy, size}, holes);

  GameLayout layout;
  bool found = false;
  const Lines lines = CaptureLog([&] { found = GameInit(guarded, {.worldToggleKey = 0}, layout, &SevenMsPerCall); });
  EXPECT_TRUE(found);
  EXPECT_EQ(layout.MinimapVtable, minimap);
  EXPECT_EQ(layout.WorldMapVtable, worldMap);
  EXPECT_EQ(layout.IconVtable, icon);
  EXPECT_EQ(layout.SessionGlobal, session);
  EXPECT_EQ(layout.VehiclesGlobal, vehicle.vehicles);
  EXPECT_NE(layout.ClockSecondsGlobal, 0u);
  // A section comes as its readable pieces.
  EXPECT_EQ(ListImageSections(guarded).size(), 5u);
  munmap(copy, size);
}

}  // namespace
}  // namespace pathlight
