#include "game/byte_search.hpp"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pathlight {

std::uint64_t FollowJumpThunks(const MappedImage& image, std::uint64_t address) {
  constexpr int kMaxJumps = 8;
  for (int jumps = 0; jumps < kMaxJumps && image.Contains(address, 5) && image.U8(address) == 0xE9; ++jumps) {
    address = address + 5 + static_cast<std::int64_t>(image.I32(address + 1));
  }
  return address;
}

std::uint64_t CallTargetBefore(const MappedImage& image, std::uint64_t next) {
  if (next < 5 || !image.Contains(next - 5, 5) || image.U8(next - 5) != 0xE8) return 0;
  return next + static_cast<std::int64_t>(image.I32(next - 4));
}

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

}  // namespace pathlight
