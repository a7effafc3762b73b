#include "game/code_patterns.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "game/game_init.hpp"
#include "game/image_builder.hpp"
#include "log_capture.hpp"

namespace pathlight {
namespace {

using namespace pathlight::testing;

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
  EXPECT_EQ(lines,
            Lines{"GameInit: session global " + std::string(c.accepted ? "at " : "not found, best ") + Hex(global) +
                  " (" + std::to_string(c.sites) + " sites, runner-up " + std::to_string(c.runnerUp) + ")"});
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
    PutSessionSite(image, text, other, {.modrm1 = 0x4A});                                              // [rdx+0x30]
    PutSessionSite(image, text, other, {.rex0 = 0x4C, .modrm0 = 0x25, .rex1 = 0x49, .modrm1 = 0x44});  // r12: SIB
    PutSessionSite(image, text, other, {.disp8 = 0x38});
    PutSessionSite(image, text, other, {.modrm1 = 0x88});  // disp32 form
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
  VehicleGlobals Globals() {
    return {image.Put(data, Bytes(8, 0)), image.Put(data, Bytes(8, 0)), image.Put(data, Bytes(8, 0))};
  }
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
  const std::uint64_t getter =
      PutJumpThunk(v.image, v.text, PutJumpThunk(v.image, v.text, PutGetter(v.image, v.text, global)));
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

}  // namespace
}  // namespace pathlight
