// Sections: session global, vehicle-type globals, game clock.
#include "game/code_patterns.hpp"

#include <algorithm>
#include <cstring>
#include <vector>

#include "game/byte_search.hpp"
#include "platform/bytes.hpp"
#include "platform/log.hpp"

namespace pathlight {

// ---- session global -----------------------------------------------------------------------------

namespace {

// One entry per distinct global the sites load; filled in the order the sites are met.
struct SiteTableEntry {
  std::uint64_t target;
  std::uint32_t count;
};
using SiteTable = std::vector<SiteTableEntry>;

constexpr int kMinimumSites = 20;

// mov r64, [rip+disp32] then mov r64, [base+0x30] on the register just loaded. Returns the
// global the first instruction loads, or 0 when the eleven bytes at p are something else.
std::uint64_t SessionSiteTarget(const std::uint8_t* p, std::uint64_t address) {
  const std::uint8_t b0 = p[0];
  if (b0 != 0x48 && b0 != 0x4C) return 0;
  if (p[1] != 0x8B || (p[2] & 0xC7) != 0x05) return 0;
  const std::uint8_t b7 = p[7];
  if (b7 != 0x48 && b7 != 0x49 && b7 != 0x4C && b7 != 0x4D) return 0;
  const std::uint8_t b9 = p[9];
  if (p[8] != 0x8B || (b9 & 0xC0) != 0x40 || (b9 & 7) == 4 || p[10] != 0x30) return 0;
  const int loaded = ((b0 & 4) * 2) + ((p[2] >> 3) & 7);
  const int base = ((b7 & 1) * 8) + (b9 & 7);
  if (loaded != base) return 0;
  return address + 7 + static_cast<std::int64_t>(LoadLittle<std::int32_t>(p + 3));
}

// One bit per byte lane (its high bit) where the lane of x equals b; exact, no carries between
// lanes.
std::uint64_t EqualLanes(std::uint64_t x, std::uint8_t b) {
  constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
  x ^= 0x0101010101010101ull * b;
  return ~(((x & kLow7) + kLow7) | x | kLow7);
}

}  // namespace

std::uint64_t FindSessionGlobal(const MappedImage& image) {
  SiteTable table;
  table.reserve(kSiteTableEntries);
  const auto count = [&](std::uint64_t target) {
    if (target <= image.Base() || target >= image.End()) return;
    auto known =
        std::find_if(table.begin(), table.end(), [&](const SiteTableEntry& site) { return site.target == target; });
    if (known != table.end()) {
      ++known->count;
    } else if (table.size() < kSiteTableEntries) {
      table.push_back({target, 1});
    }
  };
  for (const ImageSection& section : ListImageSections(image)) {
    if (!section.executable) continue;
    const std::uint8_t* bytes = image.At(section.start);
    std::uint64_t i = 0;
    // Eight positions at a time: only where both opcodes (b1, b8) and the field (b10) are in
    // place is the whole pattern tested. The loads reach 17 bytes past the first position; the
    // last few positions, where they would leave the section, are tested one by one.
    for (; i + 8 + 17 < section.size; i += 8) {
      const std::uint64_t candidates = EqualLanes(LoadLittle<std::uint64_t>(bytes + i + 1), 0x8B) &
                                       EqualLanes(LoadLittle<std::uint64_t>(bytes + i + 8), 0x8B) &
                                       EqualLanes(LoadLittle<std::uint64_t>(bytes + i + 10), 0x30);
      if (candidates == 0) continue;
      for (int k = 0; k < 8; ++k) {
        if ((candidates >> (8 * k + 7)) & 1) count(SessionSiteTarget(bytes + i + k, section.start + i + k));
      }
    }
    for (; i + 11 < section.size; ++i) count(SessionSiteTarget(bytes + i, section.start + i));
  }
  std::stable_sort(table.begin(), table.end(),
                   [](const SiteTableEntry& a, const SiteTableEntry& b) { return a.count > b.count; });
  const std::uint64_t best = table.empty() ? 0 : table[0].target;
  const int sites = table.empty() ? 0 : static_cast<int>(table[0].count);
  const int runnerUp = table.size() < 2 ? 0 : static_cast<int>(table[1].count);
  const bool accepted = sites >= kMinimumSites && sites >= 2 * runnerUp;
  Log("GameInit: session global %s +0x%llX (%d sites, runner-up %d)", accepted ? "at" : "not found, best",
      static_cast<unsigned long long>(best == 0 ? 0 : best - image.Base()), sites, runnerUp);
  return accepted ? best : 0;
}

// ---- vehicle-type globals -----------------------------------------------------------------------

namespace {

constexpr int kConditionSlots = 48;
constexpr std::uint64_t kFunctionWindow = 1024;
constexpr std::uint64_t kCalleeWindow = 128;
constexpr std::uint64_t kLoadWindow = 64;

constexpr Pattern<9> kThreadLocalArray = {0x65, 0x48, 0x8B, 0x04, 0x25, 0x58, 0x00, 0x00, 0x00};  // mov rax, gs:[0x58]
constexpr Pattern<3> kLoadRaxRip = {0x48, 0x8B, 0x05};                                            // mov rax, [rip+d]
constexpr Pattern<6> kCompareVehicle = {0x8B, 0x4E, 0x18, 0x39, 0x48, 0x40};  // mov ecx,[rsi+18h]; cmp [rax+40h],ecx
constexpr Pattern<4> kLoadCharacterId = {0x0F, 0xB7, 0x55, 0x38};             // movzx edx, word [rbp+38h]
constexpr Pattern<7> kLoadCharacterKind = {0x0F, 0xB7, 0x88, 0xA0, 0x00, 0x00, 0x00};  // movzx ecx, word [rax+0A0h]
constexpr Pattern<3> kLoadRbxRip = {0x48, 0x8B, 0x1D};                                 // mov rbx, [rip+d]

// The global a 7-byte rip-relative load reads, or 0 when its displacement does not lie in the
// image.
std::uint64_t RipTarget(const MappedImage& image, std::uint64_t instruction) {
  if (!image.Contains(instruction, 7)) return 0;
  return instruction + 7 + static_cast<std::int64_t>(image.I32(instruction + 3));
}

}  // namespace

std::uint64_t FindLoadedGlobal(const MappedImage& image, std::uint64_t code) {
  code = FollowJumpThunks(image, code);
  if (!image.Contains(code)) return 0;
  const std::uint64_t load = FindIn(image, code, kLoadWindow, kLoadRbxRip);
  return load == 0 ? 0 : RipTarget(image, load);
}

void FindVehicleTypeGlobals(const MappedImage& image, std::uint64_t table, GameLayout& layout) {
  for (int k = 0; k < kConditionSlots && layout.VehiclesGlobal == 0; ++k) {
    const std::uint64_t slot = table + static_cast<std::uint64_t>(k) * 8;
    if (!image.Contains(slot, 8)) break;
    const std::uint64_t f = FollowJumpThunks(image, image.U64(slot));
    if (!image.Contains(f)) continue;
    const std::uint64_t a = FindIn(image, f, kFunctionWindow, kThreadLocalArray);
    if (a == 0) continue;
    const std::uint64_t a2 = FindIn(image, a, 64, kLoadRaxRip);
    const std::uint64_t b = FindIn(image, f, kFunctionWindow, kCompareVehicle);
    const std::uint64_t c = FindIn(image, f, kFunctionWindow, kLoadCharacterId);
    if (a2 == 0 || b == 0 || c == 0) continue;
    const std::uint64_t vehiclesGetter = CallTargetBefore(image, b);
    const std::uint64_t characterLookup = CallTargetBefore(image, c);
    if (vehiclesGetter == 0 || characterLookup == 0) continue;
    // The character lookup is itself reached through the image's code; one that leads out of the
    // image is not this function.
    const std::uint64_t g = FollowJumpThunks(image, characterLookup);
    if (!image.Contains(g)) continue;
    const std::uint64_t d = FindIn(image, g, kCalleeWindow, kLoadCharacterKind);
    if (d == 0) continue;
    const std::uint64_t charactersGetter = CallTargetBefore(image, d);
    if (charactersGetter == 0) continue;
    layout.ActorsGlobal = RipTarget(image, a2);
    layout.CharactersGlobal = FindLoadedGlobal(image, charactersGetter);
    layout.VehiclesGlobal = FindLoadedGlobal(image, vehiclesGetter);
  }
}

// ---- game clock ---------------------------------------------------------------------------------

namespace {

// mov rax, 0x0624DD2F1A9FBE77: the multiplier of an unsigned 64-bit division by 1000.
constexpr Pattern<10> kDivideBy1000 = {0x48, 0xB8, 0x77, 0xBE, 0x9F, 0x1A, 0x2F, 0xDD, 0x24, 0x06};
constexpr std::uint64_t kClockPrefix = 19;

bool ClockPrefixMatches(const MappedImage& image, std::uint64_t q) {
  const std::uint8_t* p = image.At(q - kClockPrefix);
  return p[0] == 0x4C && p[1] == 0x8B && p[2] == 0x05         // mov r8, [rip+d]
         && p[7] == 0x4D && p[8] == 0x85 && p[9] == 0xC0      // test r8, r8
         && p[10] == 0x74                                     // je short
         && p[12] == 0x48 && p[13] == 0x8B && p[14] == 0x0D;  // mov rcx, [rip+d]
}

}  // namespace

void FindGameClock(const MappedImage& image, GameLayout& layout) {
  std::uint64_t seconds = 0;
  std::uint64_t milliseconds = 0;
  for (const ImageSection& section : ListImageSections(image)) {
    if (!section.executable || seconds != 0) continue;
    const std::uint8_t* begin = image.At(section.start);
    const std::uint8_t* end = begin + section.size;
    for (const std::uint8_t* from = begin; seconds == 0;) {
      const std::uint8_t* hit = FindBytes(from, end, kDivideBy1000.data(), kDivideBy1000.size(), 2);
      if (hit == end) break;
      from = hit + 1;
      const std::uint64_t q = section.start + static_cast<std::uint64_t>(hit - begin);
      if (q - section.start < kClockPrefix || !ClockPrefixMatches(image, q)) continue;
      seconds = (q - 12) + static_cast<std::int64_t>(image.I32(q - 16));
      milliseconds = q + static_cast<std::int64_t>(image.I32(q - 4));
    }
  }
  layout.ClockSecondsGlobal = seconds;
  layout.ClockMillisecondsGlobal = milliseconds;
  const auto offset = [&](std::uint64_t address) {
    return static_cast<unsigned long long>(address == 0 ? 0 : address - image.Base());
  };
  Log("GameInit: game clock %s (+0x%llX, +0x%llX)", seconds != 0 ? "found" : "not found", offset(seconds),
      offset(milliseconds));
}

}  // namespace pathlight
