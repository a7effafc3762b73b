#include "game/rtti_index.hpp"

#include <algorithm>
#include <cstring>

#include "game/byte_search.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pathlight {

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
    auto mask =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(x, wantA), _mm_cmpeq_epi8(y, wantB))));
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

}  // namespace pathlight
