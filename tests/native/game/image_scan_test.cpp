#include "game/image_scan.hpp"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "game/image_builder.hpp"
#include "log_capture.hpp"

namespace pathlight {
namespace {

using namespace pathlight::testing;

std::string Hex(std::uint64_t address) {
  char text[32];
  std::snprintf(text, sizeof text, "+0x%llX", static_cast<unsigned long long>(address == 0 ? 0 : address - kImageBase));
  return text;
}

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

// ---- class tables -----------------------------------------------------------------------------

TEST(FindVtable, PassesOverThePlainStringAndTheBaseClassLocator) {
  ImageBuilder image;
  const int rdata = image.AddSection(0x1000, kRdata);
  const int data = image.AddSection(0x1000, kData);
  // The name as an ordinary string, earlier than its type descriptor and in an earlier section.
  image.Skip(rdata, 40);
  image.PutString(rdata, decorated::kCamera);
  const std::uint64_t descriptor = PutTypeDescriptor(image, data, decorated::kCamera);
  // A base-class sub-object's class table comes first and would be taken if the offset were
  // ignored; then locators with a wrong signature or self RVA, each with its own class table.
  PutClassTable(image, rdata, PutLocator(image, rdata, descriptor, {.offset = 8}));
  PutClassTable(image, rdata, PutLocator(image, rdata, descriptor, {.signature = 0}));
  PutClassTable(image, rdata, PutLocator(image, rdata, descriptor, {.selfRvaRight = false}));
  const std::uint64_t table = PutClassTable(image, rdata, PutLocator(image, rdata, descriptor));
  EXPECT_EQ(FindVtable(image.Image(), decorated::kCamera), table);
}

TEST(FindVtable, OnlyABaseClassLocatorOrALongerNameGivesNothing) {
  ImageBuilder image;
  const int rdata = image.AddSection(0x1000, kRdata);
  const std::uint64_t base = PutTypeDescriptor(image, rdata, decorated::kCamera);
  PutClassTable(image, rdata, PutLocator(image, rdata, base, {.offset = 16}));
  // A class whose decorated name begins with the searched one.
  const std::uint64_t longer = PutTypeDescriptor(image, rdata, ".?AVCameraManager@pa@@Ex");
  PutClassTable(image, rdata, PutLocator(image, rdata, longer));
  EXPECT_EQ(FindVtable(image.Image(), decorated::kCamera), 0u);
}

TEST(FindVtable, UnreferencedLocatorMovesOnToTheNextSection) {
  ImageBuilder image;
  const int first = image.AddSection(0x1000, kRdata);
  const int second = image.AddSection(0x1000, kRdata);
  const std::uint64_t descriptor = PutTypeDescriptor(image, first, decorated::kMinimap);
  PutLocator(image, first, descriptor);  // no class table points at it
  const std::uint64_t locator = PutLocator(image, second, descriptor);
  const std::uint64_t table = PutClassTable(image, second, locator);
  PutClassTable(image, second, locator);  // a later word referring to it does not count
  EXPECT_EQ(FindVtable(image.Image(), decorated::kMinimap), table);
}

TEST(FindVtable, NameEndingAtTheSectionEndIsFoundAndUnreadableSectionsAreNot) {
  ImageBuilder image;
  const int hidden = image.AddSection(0x1000, kNoRead);
  const int names = image.AddSection(static_cast<std::uint32_t>(16 + decorated::kIcon.size() + 1), kRdata);
  const int tables = image.AddSection(0x1000, kRdata);
  PutClassTable(image, tables, PutLocator(image, tables, PutTypeDescriptor(image, hidden, decorated::kIcon)));
  const std::uint64_t descriptor = PutTypeDescriptor(image, names, decorated::kIcon);
  const std::uint64_t table = PutClassTable(image, tables, PutLocator(image, tables, descriptor));
  // A short name in a section of its own, so few bytes follow where it begins.
  const int shortNames = image.AddSection(16 + 8, kRdata);
  const std::uint64_t shortTable =
      PutClassTable(image, tables, PutLocator(image, tables, PutTypeDescriptor(image, shortNames, ".?AVX@@")));
  EXPECT_EQ(FindVtable(image.Image(), decorated::kIcon), table);
  EXPECT_EQ(FindVtable(image.Image(), ".?AVX@@"), shortTable);
}

TEST(FindVtable, LocatorAndReferenceFillingTheirSectionsExactly) {
  ImageBuilder image;
  const int names = image.AddSection(0x1000, kRdata);
  const int locators = image.AddSection(0x1000 + 24, kRdata);
  const int tables = image.AddSection(0x1000 + 16, kRdata);
  const std::uint64_t descriptor = PutTypeDescriptor(image, names, decorated::kWorldMap);
  image.Skip(locators, 0x1000);
  const std::uint64_t locator = PutLocator(image, locators, descriptor);
  image.Skip(tables, 0x1000);
  const std::uint64_t table = PutClassTable(image, tables, locator, {0});
  ASSERT_EQ(table + 8, image.SectionEnd(tables));
  EXPECT_EQ(FindVtable(image.Image(), decorated::kWorldMap), table);
}

// ---- session global ---------------------------------------------------------------------------

struct VoteCase {
  int sites;
  int runnerUp;
  bool accepted;
};

class SessionVote : public ::testing::TestWithParam<VoteCase> {};

TEST_P(SessionVote, NeedsTwentySitesAndTwiceTheRunnerUp) {
  const VoteCase c = GetParam();
  ImageBuilder image;
  const int text = image.AddSection(0x2000, kCode);
  const int data = image.AddSection(0x1000, kData);
  const std::uint64_t global = image.Put(data, Bytes(8, 0), 8);
  const std::uint64_t other = image.Put(data, Bytes(8, 0), 8);
  PutSessionSites(image, text, other, c.runnerUp);
  PutSessionSites(image, text, global, c.sites);
  std::uint64_t found = 1;
  const Lines lines = CaptureLog([&] { found = FindSessionGlobal(image.Image()); });
  EXPECT_EQ(found, c.accepted ? global : 0u);
  EXPECT_EQ(lines, Lines{"GameInit: session global " + std::string(c.accepted ? "at " : "not found, best ") +
                         Hex(global) + " (" + std::to_string(c.sites) + " sites, runner-up " +
                         std::to_string(c.runnerUp) + ")"});
}

INSTANTIATE_TEST_SUITE_P(Counts, SessionVote,
                         ::testing::Values(VoteCase{20, 10, true}, VoteCase{19, 0, false}, VoteCase{40, 21, false},
                                           VoteCase{40, 20, true}, VoteCase{20, 0, true}),
                         [](const ::testing::TestParamInfo<VoteCase>& info) {
                           return std::to_string(info.param.sites) + "Sites" + std::to_string(info.param.runnerUp) +
                                  "RunnerUp";
                         });

TEST(SessionGlobal, NoSiteAtAll) {
  ImageBuilder image;
  image.AddSection(0x1000, kCode);
  const Lines lines = CaptureLog([&] { EXPECT_EQ(FindSessionGlobal(image.Image()), 0u); });
  EXPECT_EQ(lines, Lines{"GameInit: session global not found, best +0x0 (0 sites, runner-up 0)"});
}

TEST(SessionGlobal, CountsOnlyTheTwoInstructionPatternOnOneRegisterInsideTheImage) {
  ImageBuilder image;
  const int text = image.AddSection(0x4000, kCode);
  const int rdata = image.AddSection(0x1000, kRdata);
  const int data = image.AddSection(0x1000, kData);
  const std::uint64_t global = image.Put(data, Bytes(8, 0), 8);
  // 20 sites in four encodings: rax/rcx, r9 loaded then read through r9, rdx read into r13, r13
  // loaded and read with rbp-style encoding.
  for (int i = 0; i < 5; ++i) {
    PutSessionSite(image, text, global);
    PutSessionSite(image, text, global, {.rex0 = 0x4C, .modrm0 = 0x0D, .rex1 = 0x49, .modrm1 = 0x51});
    PutSessionSite(image, text, global, {.rex0 = 0x48, .modrm0 = 0x15, .rex1 = 0x4C, .modrm1 = 0x6A});
    PutSessionSite(image, text, global, {.rex0 = 0x4C, .modrm0 = 0x2D, .rex1 = 0x4D, .modrm1 = 0x45});
  }
  // Many more near misses on another global: other register, index byte, other field, another
  // opcode, and sites outside the code.
  const std::uint64_t other = image.Put(data, Bytes(8, 0), 8);
  for (int i = 0; i < 30; ++i) {
    PutSessionSite(image, text, other, {.modrm1 = 0x4A});                                   // [rdx+0x30]
    PutSessionSite(image, text, other, {.rex0 = 0x4C, .modrm0 = 0x25, .rex1 = 0x49, .modrm1 = 0x44});  // r12: SIB
    PutSessionSite(image, text, other, {.disp8 = 0x38});
    PutSessionSite(image, text, other, {.modrm1 = 0x88});                                   // disp32 form
    PutSessionSite(image, rdata, other);
  }
  // The image's first byte and the byte just past its end are not globals of it; its last byte is.
  PutSessionSites(image, text, kImageBase, 30);
  PutSessionSites(image, text, image.End(), 30);
  PutSessionSites(image, text, image.End() - 1, 10);
  const Lines lines = CaptureLog([&] { EXPECT_EQ(FindSessionGlobal(image.Image()), global); });
  EXPECT_EQ(lines, Lines{"GameInit: session global at " + Hex(global) + " (20 sites, runner-up 10)"});
}

TEST(SessionGlobal, SitesAreFoundAtEveryByteAlignmentUpToTheSectionEnd) {
  ImageBuilder image;
  const int data = image.AddSection(0x1000, kData);
  const std::uint64_t global = image.Put(data, Bytes(8, 0), 8);
  // 19 sites with 1 to 8 bytes between them, and the 20th ending one byte before the section's
  // end (the last position the scan tests).
  constexpr std::uint32_t kGaps = 19 * 11 + (1 + 2 + 3 + 4 + 5 + 6 + 7 + 8) * 2 + 1 + 2 + 3;
  const int text = image.AddSection(kGaps + 11 + 1, kCode);
  for (int i = 0; i < 19; ++i) {
    PutSessionSite(image, text, global);
    image.Put(text, Bytes(i % 8 + 1, 0x90));
  }
  PutSessionSite(image, text, global);
  image.Put(text, {0x90});
  ASSERT_EQ(image.SectionEnd(text), kImageBase + 0x2000 + kGaps + 12);
  const Lines lines = CaptureLog([&] { EXPECT_EQ(FindSessionGlobal(image.Image()), global); });
  EXPECT_EQ(lines, Lines{"GameInit: session global at " + Hex(global) + " (20 sites, runner-up 0)"});
}

TEST(SessionGlobal, FullSiteTableKeepsCountingKnownTargets) {
  ImageBuilder image;
  const int text = image.AddSection(0x20000, kCode);
  const int data = image.AddSection(0x10000, kData);
  const std::uint64_t first = image.Put(data, Bytes(8, 0), 8);
  PutSessionSites(image, text, first, 1);
  // 4095 more targets fill the table; the next ones, however often loaded, are not counted.
  std::uint64_t target = first;
  for (std::size_t i = 1; i < kSiteTableEntries; ++i) PutSessionSites(image, text, target += 8, 1);
  const std::uint64_t late = target + 8;
  PutSessionSites(image, text, late, 30);
  PutSessionSites(image, text, first, 24);
  const Lines lines = CaptureLog([&] { EXPECT_EQ(FindSessionGlobal(image.Image()), first); });
  EXPECT_EQ(lines, Lines{"GameInit: session global at " + Hex(first) + " (25 sites, runner-up 1)"});
}

// ---- vehicle-type globals ---------------------------------------------------------------------

struct VehicleImage {
  ImageBuilder image;
  int text = image.AddSection(0x2000, kCode);
  int rdata = image.AddSection(0x1000, kRdata);
  int data = image.AddSection(0x1000, kData);
  VehicleGlobals Globals() { return {image.Put(data, Bytes(8, 0)), image.Put(data, Bytes(8, 0)), image.Put(data, Bytes(8, 0))}; }
};

TEST(VehicleTypeGlobals, FirstSlotThatYieldsVehiclesEndsTheSearch) {
  VehicleImage v;
  const VehicleGlobals first = v.Globals(), second = v.Globals();
  const std::uint64_t outside = kImageBase - 0x10000;
  // Slots: null, another module's function, a thunk that leaves the image, a function without
  // the pattern, a check whose character lookup lies outside the image, then two good checks.
  const std::uint64_t leaving = PutJumpThunk(v.image, v.text, outside);
  const std::uint64_t plain = v.image.Put(v.text, {0x48, 0x83, 0xEC, 0x28, 0xC3});
  const std::uint64_t broken = PutVehicleCheck(v.image, v.text, v.Globals(), outside);
  const std::uint64_t good = PutJumpThunk(v.image, v.text, PutVehicleCheck(v.image, v.text, first));
  const std::uint64_t later = PutVehicleCheck(v.image, v.text, second);
  const std::uint64_t table = PutClassTable(v.image, v.rdata, 0, {0, outside, leaving, plain, broken, good, later});
  GameLayout layout;
  FindVehicleTypeGlobals(v.image.Image(), table, layout);
  EXPECT_EQ(layout.ActorsGlobal, first.actors);
  EXPECT_EQ(layout.CharactersGlobal, first.characters);
  EXPECT_EQ(layout.VehiclesGlobal, first.vehicles);
}

TEST(VehicleTypeGlobals, CallMustDirectlyPrecedeThePatterns) {
  VehicleImage v;
  const std::uint64_t check = PutVehicleCheck(v.image, v.text, v.Globals());
  // Turn the call before the vehicle compare into something else.
  const MappedImage view = v.image.Image();
  const std::uint64_t compare = check + 9 + 4 + 7;
  ASSERT_EQ(view.U8(compare), 0xE8);
  *v.image.At(compare) = 0x90;
  const std::uint64_t table = PutClassTable(v.image, v.rdata, 0, {check});
  GameLayout layout;
  FindVehicleTypeGlobals(v.image.Image(), table, layout);
  EXPECT_EQ(layout.VehiclesGlobal, 0u);
  EXPECT_EQ(layout.ActorsGlobal, 0u);
}

TEST(VehicleTypeGlobals, LoadedGlobalFollowsThunksAndStaysInTheImage) {
  VehicleImage v;
  const std::uint64_t global = v.image.Put(v.data, Bytes(8, 0));
  const std::uint64_t getter = PutJumpThunk(v.image, v.text, PutJumpThunk(v.image, v.text, PutGetter(v.image, v.text, global)));
  const std::uint64_t nothing = v.image.Put(v.text, {0xC3});
  const MappedImage view = v.image.Image();
  EXPECT_EQ(FindLoadedGlobal(view, getter), global);
  EXPECT_EQ(FindLoadedGlobal(view, nothing), 0u);
  EXPECT_EQ(FindLoadedGlobal(view, kImageBase - 64), 0u);
}

// ---- game clock ---------------------------------------------------------------------------------

TEST(GameClock, FirstOccurrenceWithTheFullPrefixIsTaken) {
  ImageBuilder image;
  const int text = image.AddSection(0x1000, kCode);
  const int data = image.AddSection(0x1000, kData);
  const std::uint64_t seconds = image.Put(data, Bytes(8, 0)), ms = image.Put(data, Bytes(8, 0));
  // At the section start (too few bytes before it), then after other code, then the real one.
  image.Put(text, {0x48, 0xB8, 0x77, 0xBE, 0x9F, 0x1A, 0x2F, 0xDD, 0x24, 0x06});
  image.Skip(text, 24);
  image.Put(text, {0x48, 0xB8, 0x77, 0xBE, 0x9F, 0x1A, 0x2F, 0xDD, 0x24, 0x06});
  PutClockRead(image, text, seconds, ms);
  PutClockRead(image, text, ms, seconds);
  GameLayout layout;
  const Lines lines = CaptureLog([&] { FindGameClock(image.Image(), layout); });
  EXPECT_EQ(layout.ClockSecondsGlobal, seconds);
  EXPECT_EQ(layout.ClockMillisecondsGlobal, ms);
  EXPECT_EQ(lines, Lines{"GameInit: game clock found (" + Hex(seconds) + ", " + Hex(ms) + ")"});
}

TEST(GameClock, NotFound) {
  ImageBuilder image;
  image.AddSection(0x1000, kCode);
  GameLayout layout;
  const Lines lines = CaptureLog([&] { FindGameClock(image.Image(), layout); });
  EXPECT_EQ(lines, Lines{"GameInit: game clock not found (+0x0, +0x0)"});
}

// ---- GameInit -----------------------------------------------------------------------------------

TEST(GameInit, DefaultsFindEverythingAndLogTheFourLines) {
  GameImage game;
  const InitRun run = RunGameInit(game);
  EXPECT_TRUE(run.result);
  EXPECT_EQ(run.lines, (Lines{
      "GameInit: session global at " + Hex(game.session) + " (24 sites, runner-up 5)",
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
  const VehicleGlobals vehicle{image.Put(data, Bytes(8, 0)), image.Put(data, Bytes(8, 0)), image.Put(data, Bytes(8, 0))};
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

TEST(ImageHeaders, SizeAndSectionsComeFromTheHeadersAndStayInsideTheImage) {
  ImageBuilder image;
  image.AddSection(0x1800, kCode);
  image.AddSection(0x100, kNoRead);
  image.AddSection(0x100, kData);
  const MappedImage view = image.Image();
  const std::vector<ImageSection> sections = ListImageSections(view);
  ASSERT_EQ(sections.size(), 2u);
  EXPECT_EQ(sections[0].start, kImageBase + 0x1000);
  EXPECT_EQ(sections[0].size, 0x1800u);
  EXPECT_TRUE(sections[0].executable);
  EXPECT_EQ(sections[1].start, kImageBase + 0x4000);
  EXPECT_FALSE(sections[1].executable);
  EXPECT_EQ(ImageSizeFromHeaders(std::as_bytes(std::span(view.At(kImageBase), 0x1000))), 0x5000u);
  // A section whose size claims more than the image holds is cut at the image's end.
  image.Poke32(kImageBase + ImageBuilder::kNtOffset + 24 + ImageBuilder::kOptionalHeaderSize + 80 + 8, 0x100000);
  EXPECT_EQ(ListImageSections(view)[1].size, 0x1000u);
}

}  // namespace
}  // namespace pathlight
