// Sections: image access, PE headers, byte search, class tables, session global, vehicle-type
// globals, game clock, GameInit.
#include "game/image_scan.hpp"

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/log.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pathlight {

GameLayout g_gameLayout;

// ---- image access -----------------------------------------------------------------------------

std::uint32_t MappedImage::U32(std::uint64_t address) const {
  std::uint32_t value;
  std::memcpy(&value, At(address), sizeof value);
  return value;
}

std::uint64_t MappedImage::ReadableEnd(std::uint64_t address) const {
  for (const AddressRange& hole : unreadable_) {
    if (address < hole.end) return address < hole.start ? hole.start : address;
  }
  return End();
}

std::uint64_t MappedImage::NextReadable(std::uint64_t address) const {
  // Sorted, so one pass also steps over holes that follow each other.
  for (const AddressRange& hole : unreadable_) {
    if (address >= hole.start && address < hole.end) address = hole.end;
  }
  return address;
}

std::uint64_t MappedImage::U64(std::uint64_t address) const {
  std::uint64_t value;
  std::memcpy(&value, At(address), sizeof value);
  return value;
}

namespace {

// ---- PE headers -------------------------------------------------------------------------------

constexpr std::uint32_t kNtHeadersOffsetField = 0x3C;
constexpr std::uint32_t kSizeOfImageField = 0x50;  // in the NT headers
constexpr std::uint32_t kSectionHeaderSize = 40;
constexpr std::uint32_t kScnMemExecute = 0x20000000;
constexpr std::uint32_t kScnMemRead = 0x40000000;

std::uint32_t LoadU32(std::span<const std::byte> bytes, std::size_t offset) {
  std::uint32_t value;
  std::memcpy(&value, bytes.data() + offset, sizeof value);
  return value;
}

// ---- byte search --------------------------------------------------------------------------------

template <std::size_t N>
using Pattern = std::array<std::uint8_t, N>;

// The first position in [first, first + length) at which the whole pattern lies inside that
// range and inside the image, or 0.
template <std::size_t N>
std::uint64_t FindIn(const MappedImage& image, std::uint64_t first, std::uint64_t length, const Pattern<N>& pattern) {
  if (!image.Contains(first)) return 0;
  const std::uint64_t end = std::min(first + length, image.ReadableEnd(first));
  if (end - first < N) return 0;
  const std::uint8_t* begin = image.At(first);
  const std::uint8_t* last = begin + (end - first);
  const std::uint8_t* hit = std::search(begin, last, pattern.begin(), pattern.end());
  return hit == last ? 0 : first + static_cast<std::uint64_t>(hit - begin);
}

// Code jumps to its real body through chains of 5-byte `jmp rel32` thunks (incremental linking,
// hot patching). A jump whose bytes do not lie in the image is not followed: the caller then sees
// an address outside the image and passes it over.
std::uint64_t FollowJumpThunks(const MappedImage& image, std::uint64_t address) {
  constexpr int kMaxJumps = 8;
  for (int jumps = 0; jumps < kMaxJumps && image.Contains(address, 5) && image.U8(address) == 0xE9; ++jumps) {
    address = address + 5 + static_cast<std::int64_t>(image.I32(address + 1));
  }
  return address;
}

// The target of the `call rel32` that ends just before `next`, or 0 when the byte 5 before it is
// not a call.
std::uint64_t CallTargetBefore(const MappedImage& image, std::uint64_t next) {
  if (next < 5 || !image.Contains(next - 5, 5) || image.U8(next - 5) != 0xE8) return 0;
  return next + static_cast<std::int64_t>(image.I32(next - 4));
}

// The first occurrence of needle[0, length) in [first, last), or last. The scans of whole
// sections run at memory speed: sixteen positions at a time are tested for the two needle bytes
// at `anchor` (chosen rare in code and data), and only where both are in place is the rest
// compared.
const std::uint8_t* FindBytes(const std::uint8_t* first, const std::uint8_t* last, const std::uint8_t* needle,
                              std::size_t length, std::size_t anchor) {
  if (static_cast<std::size_t>(last - first) < length) return last;
  const std::uint8_t* lastStart = last - length;
  const std::uint8_t* p = first;
#if defined(__SSE2__)
  const __m128i a0 = _mm_set1_epi8(static_cast<char>(needle[anchor]));
  const __m128i a1 = _mm_set1_epi8(static_cast<char>(needle[anchor + 1 < length ? anchor + 1 : anchor]));
  // The second anchor byte is loaded at most length - 1 bytes past a position, so every load
  // stays below `last`.
  for (; anchor + 1 < length && p + 16 <= lastStart; p += 16) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + anchor));
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + anchor + 1));
    auto mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(x, a0), _mm_cmpeq_epi8(y, a1))));
    for (; mask != 0; mask &= mask - 1) {
      const std::uint8_t* at = p + __builtin_ctz(mask);
      if (std::memcmp(at, needle, length) == 0) return at;
    }
  }
#endif
  for (; p <= lastStart; ++p) {
    if (p[anchor] == needle[anchor] && std::memcmp(p, needle, length) == 0) return p;
  }
  return last;
}

}  // namespace

std::uint32_t ImageSizeFromHeaders(std::span<const std::byte> headers) {
  if (headers.size() < kNtHeadersOffsetField + 4) return 0;
  const std::uint32_t nt = LoadU32(headers, kNtHeadersOffsetField);
  if (nt > headers.size() || headers.size() - nt < kSizeOfImageField + 4) return 0;
  return LoadU32(headers, nt + kSizeOfImageField);
}

std::vector<ImageSection> ListImageSections(const MappedImage& image) {
  std::vector<ImageSection> sections;
  const std::uint64_t base = image.Base();
  if (!image.Contains(base + kNtHeadersOffsetField, 4)) return sections;
  const std::uint64_t nt = base + image.U32(base + kNtHeadersOffsetField);
  if (!image.Contains(nt, 24)) return sections;
  std::uint16_t count;
  std::uint16_t optionalSize;
  std::memcpy(&count, image.At(nt + 6), sizeof count);
  std::memcpy(&optionalSize, image.At(nt + 20), sizeof optionalSize);
  const std::uint64_t table = nt + 24 + optionalSize;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint64_t header = table + static_cast<std::uint64_t>(i) * kSectionHeaderSize;
    if (!image.Contains(header, kSectionHeaderSize)) break;
    const std::uint32_t virtualSize = image.U32(header + 8);
    const std::uint32_t virtualAddress = image.U32(header + 12);
    const std::uint32_t characteristics = image.U32(header + 36);
    if ((characteristics & kScnMemRead) == 0) continue;
    // A section that reaches past SizeOfImage is cut there: nothing beyond the image is mapped
    // as part of it. Unreadable parts split it.
    const std::uint64_t start = base + virtualAddress;
    if (start >= image.End()) continue;
    const std::uint64_t end = start + std::min<std::uint64_t>(virtualSize, image.End() - start);
    for (std::uint64_t piece = start; piece < end;) {
      const std::uint64_t readableEnd = std::min(image.ReadableEnd(piece), end);
      if (readableEnd > piece) {
        sections.push_back({piece, readableEnd - piece, (characteristics & kScnMemExecute) != 0});
        piece = readableEnd;
      } else {
        piece = image.NextReadable(piece);
      }
    }
  }
  return sections;
}

// ---- class tables -------------------------------------------------------------------------------

namespace {

// A complete object locator: signature, offset, constructor-displacement offset, type descriptor
// RVA, class hierarchy descriptor RVA, self RVA (six 32-bit fields).
constexpr std::uint64_t kLocatorSize = 24;
constexpr std::uint64_t kTypeDescriptorNameOffset = 16;

// Decorated type names begin ".?", which code and data rarely hold.
constexpr std::uint8_t kNameStart[2] = {'.', '?'};

// Calls visit(p) for every p in [first, last - 1) with p[0] == a and p[1] == b, in order.
template <typename Visit>
void ForEachPair(const std::uint8_t* first, const std::uint8_t* last, std::uint8_t a, std::uint8_t b, Visit&& visit) {
  if (last - first < 2) return;
  const std::uint8_t* p = first;
#if defined(__SSE2__)
  const __m128i wantA = _mm_set1_epi8(static_cast<char>(a));
  const __m128i wantB = _mm_set1_epi8(static_cast<char>(b));
  for (; p + 17 <= last; p += 16) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
    auto mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(x, wantA), _mm_cmpeq_epi8(y, wantB))));
    for (; mask != 0; mask &= mask - 1) visit(p + __builtin_ctz(mask));
  }
#endif
  for (; p + 1 < last; ++p) {
    if (p[0] == a && p[1] == b) visit(p);
  }
}

// Calls visit(L) for every position L of the section, stepping 4 bytes from its start with
// L + 24 inside it, whose self RVA (+20) is L's own RVA; the self RVA rules out almost every
// position, so four are compared at a time.
template <typename Visit>
void ForEachSelfLocated(const MappedImage& image, const ImageSection& section, Visit&& visit) {
  if (section.size < kLocatorSize) return;
  const std::uint64_t positions = (section.size - kLocatorSize) / 4 + 1;
  const std::uint8_t* selfRvas = image.At(section.start + 20);
  const auto firstRva = static_cast<std::uint32_t>(section.start - image.Base());
  std::uint64_t i = 0;
#if defined(__SSE2__)
  __m128i expected = _mm_setr_epi32(static_cast<int>(firstRva), static_cast<int>(firstRva + 4),
                                    static_cast<int>(firstRva + 8), static_cast<int>(firstRva + 12));
  const __m128i step = _mm_set1_epi32(16);
  for (; i + 4 <= positions; i += 4, expected = _mm_add_epi32(expected, step)) {
    const __m128i words = _mm_loadu_si128(reinterpret_cast<const __m128i*>(selfRvas + 4 * i));
    if (_mm_movemask_epi8(_mm_cmpeq_epi32(words, expected)) == 0) continue;
    for (std::uint64_t k = i; k < i + 4; ++k) {
      if (image.U32(section.start + 4 * k + 20) == firstRva + 4 * k) visit(section.start + 4 * k);
    }
  }
#endif
  for (; i < positions; ++i) {
    if (image.U32(section.start + 4 * i + 20) == static_cast<std::uint32_t>(firstRva + 4 * i)) {
      visit(section.start + 4 * i);
    }
  }
}

}  // namespace

RttiIndex::RttiIndex(const MappedImage& image) : image_(image), sections_(ListImageSections(image)) {
  names_.resize(sections_.size());
  locators_.resize(sections_.size());
  std::vector<std::uint64_t> allLocators;
  for (std::size_t n = 0; n < sections_.size(); ++n) {
    const ImageSection& section = sections_[n];
    const std::uint8_t* begin = image.At(section.start);
    ForEachPair(begin, begin + section.size, kNameStart[0], kNameStart[1],
                [&](const std::uint8_t* at) { names_[n].push_back(section.start + (at - begin)); });
    ForEachSelfLocated(image, section, [&](std::uint64_t at) {
      // Offset 0: the locator of the complete object's own class table, never that of a
      // base-class sub-object inside it.
      if (image.U32(at) == 1 && image.U32(at + 4) == 0) {
        locators_[n].push_back(at);
        allLocators.push_back(at);
      }
    });
  }
  std::sort(allLocators.begin(), allLocators.end());
  allLocators.erase(std::unique(allLocators.begin(), allLocators.end()), allLocators.end());
  references_.assign(allLocators.size(), 0);
  if (allLocators.empty()) return;
  // The first word, in section order, that holds each locator's address.
  const std::uint64_t low = allLocators.front(), span = allLocators.back() - low;
  for (const ImageSection& section : sections_) {
    for (std::uint64_t at = section.start; at + 8 <= section.start + section.size; at += 8) {
      const std::uint64_t word = image.U64(at);
      if (word - low > span) continue;
      const auto found = std::lower_bound(allLocators.begin(), allLocators.end(), word);
      if (found == allLocators.end() || *found != word) continue;
      std::uint64_t& reference = references_[found - allLocators.begin()];
      if (reference == 0) reference = at;
    }
  }
  locatorAddresses_ = std::move(allLocators);
}

std::uint64_t RttiIndex::FirstReference(std::uint64_t locator) const {
  const auto found = std::lower_bound(locatorAddresses_.begin(), locatorAddresses_.end(), locator);
  return found == locatorAddresses_.end() || *found != locator ? 0 : references_[found - locatorAddresses_.begin()];
}

std::uint64_t RttiIndex::ClassTableNamed(std::uint64_t name) const {
  const auto descriptorRva = static_cast<std::uint32_t>(name - kTypeDescriptorNameOffset - image_.Base());
  for (const std::vector<std::uint64_t>& locators : locators_) {
    for (const std::uint64_t locator : locators) {
      if (image_.U32(locator + 12) != descriptorRva) continue;
      // The first such locator of this section; when nothing refers to it, the next section's.
      const std::uint64_t reference = FirstReference(locator);
      if (reference != 0) return reference + 8;
      break;
    }
  }
  return 0;
}

std::uint64_t RttiIndex::FindVtable(std::string_view decoratedName) const {
  // The name with its terminating NUL, so a longer name that begins with this one never matches.
  std::vector<std::uint8_t> needle(decoratedName.begin(), decoratedName.end());
  needle.push_back(0);
  const bool indexed = needle.size() > 2 && needle[0] == kNameStart[0] && needle[1] == kNameStart[1];
  for (std::size_t n = 0; n < sections_.size(); ++n) {
    const ImageSection& section = sections_[n];
    const std::uint64_t end = section.start + section.size;
    const auto tryName = [&](std::uint64_t at) -> std::uint64_t {
      if (end - at < needle.size() || std::memcmp(image_.At(at), needle.data(), needle.size()) != 0) return 0;
      return ClassTableNamed(at);
    };
    if (indexed) {
      for (const std::uint64_t at : names_[n]) {
        if (const std::uint64_t table = tryName(at); table != 0) return table;
      }
    } else {
      const std::uint8_t* begin = image_.At(section.start);
      for (const std::uint8_t* from = begin;;) {
        const std::uint8_t* hit = FindBytes(from, begin + section.size, needle.data(), needle.size(), 0);
        if (hit == begin + section.size) break;
        if (const std::uint64_t table = tryName(section.start + (hit - begin)); table != 0) return table;
        from = hit + 1;
      }
    }
  }
  return 0;
}

std::uint64_t FindVtable(const MappedImage& image, std::string_view decoratedName) {
  return RttiIndex(image).FindVtable(decoratedName);
}

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
  std::int32_t disp;
  std::memcpy(&disp, p + 3, sizeof disp);
  return address + 7 + static_cast<std::int64_t>(disp);
}

// One bit per byte lane (its high bit) where the lane of x equals b; exact, no carries between
// lanes.
std::uint64_t EqualLanes(std::uint64_t x, std::uint8_t b) {
  constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
  x ^= 0x0101010101010101ull * b;
  return ~(((x & kLow7) + kLow7) | x | kLow7);
}

std::uint64_t Load64(const std::uint8_t* p) {
  std::uint64_t value;
  std::memcpy(&value, p, sizeof value);
  return value;
}

}  // namespace

std::uint64_t FindSessionGlobal(const MappedImage& image) {
  SiteTable table;
  table.reserve(kSiteTableEntries);
  const auto count = [&](std::uint64_t target) {
    if (target <= image.Base() || target >= image.End()) return;
    auto known = std::find_if(table.begin(), table.end(), [&](const SiteTableEntry& site) { return site.target == target; });
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
      const std::uint64_t candidates = EqualLanes(Load64(bytes + i + 1), 0x8B) & EqualLanes(Load64(bytes + i + 8), 0x8B) &
                                       EqualLanes(Load64(bytes + i + 10), 0x30);
      if (candidates == 0) continue;
      for (int k = 0; k < 8; ++k) {
        if ((candidates >> (8 * k + 7)) & 1) count(SessionSiteTarget(bytes + i + k, section.start + i + k));
      }
    }
    for (; i + 11 < section.size; ++i) count(SessionSiteTarget(bytes + i, section.start + i));
  }
  std::stable_sort(table.begin(), table.end(), [](const SiteTableEntry& a, const SiteTableEntry& b) {
    return a.count > b.count;
  });
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
constexpr Pattern<3> kLoadRbxRip = {0x48, 0x8B, 0x1D};                                  // mov rbx, [rip+d]

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
  return p[0] == 0x4C && p[1] == 0x8B && p[2] == 0x05           // mov r8, [rip+d]
         && p[7] == 0x4D && p[8] == 0x85 && p[9] == 0xC0       // test r8, r8
         && p[10] == 0x74                                      // je short
         && p[12] == 0x48 && p[13] == 0x8B && p[14] == 0x0D;   // mov rcx, [rip+d]
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

// ---- GameInit -----------------------------------------------------------------------------------

bool GameInit(const MappedImage& image, const GameScanSettings& settings, GameLayout& layout, TickSource ticks) {
  layout = GameLayout{};
  layout.ImageBase = image.Base();
  layout.ImageSize = image.End() - image.Base();
  const std::uint32_t started = ticks();
  const auto offset = [&](std::uint64_t address) {
    return static_cast<unsigned long long>(address == 0 ? 0 : address - layout.ImageBase);
  };

  // One pass over the image for all the class tables, instead of three per class.
  const RttiIndex classes(image);
  layout.MinimapVtable = classes.FindVtable(decorated::kMinimap);
  layout.WorldMapVtable = classes.FindVtable(decorated::kWorldMap);
  layout.IconVtable = classes.FindVtable(decorated::kIcon);

  const bool inWorld = settings.InWorldRouteCanBeShown();
  if (inWorld) layout.CameraVtable = classes.FindVtable(decorated::kCamera);

  if (inWorld || settings.wagonRoutingEnabled) {
    layout.VehicleComponentVtable = classes.FindVtable(decorated::kVehicleComponent);
    if (layout.VehicleComponentVtable != 0) layout.SessionGlobal = FindSessionGlobal(image);

    if (layout.SessionGlobal != 0 && settings.wagonRoutingEnabled) {
      const std::uint64_t condition = classes.FindVtable(decorated::kRidingVehicleCondition);
      layout.ActorManagerVtable = classes.FindVtable(decorated::kActorManager);
      if (condition != 0 && layout.ActorManagerVtable != 0) FindVehicleTypeGlobals(image, condition, layout);
      // The three name one vehicle type together; one without the others is of no use.
      if (layout.ActorsGlobal == 0 || layout.CharactersGlobal == 0 || layout.VehiclesGlobal == 0) {
        layout.ActorsGlobal = layout.CharactersGlobal = layout.VehiclesGlobal = 0;
      }
      Log("GameInit: vehicle types %s (actors +0x%llX, characters +0x%llX, vehicles +0x%llX)",
          layout.VehiclesGlobal != 0 ? "found" : "not found", offset(layout.ActorsGlobal),
          offset(layout.CharactersGlobal), offset(layout.VehiclesGlobal));
    }

    if (layout.SessionGlobal != 0 && inWorld) FindGameClock(image, layout);
  }

  Log("GameInit: image %zu MB, vtables minimap=+0x%llX worldmap=+0x%llX icon=+0x%llX camera=+0x%llX, %lu ms",
      static_cast<std::size_t>(layout.ImageSize >> 20), offset(layout.MinimapVtable), offset(layout.WorldMapVtable),
      offset(layout.IconVtable), offset(layout.CameraVtable), static_cast<unsigned long>(ticks() - started));
  return layout.MinimapVtable != 0 && layout.WorldMapVtable != 0 && layout.IconVtable != 0;
}

}  // namespace pathlight
