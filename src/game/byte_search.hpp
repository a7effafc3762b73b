// Searches for byte patterns in the mapped image, and the two ways its code leads elsewhere (jump
// thunks, a call's target), for the class-table index and the code patterns.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include "game/mapped_image.hpp"

namespace pathlight {

template <std::size_t N> using Pattern = std::array<std::uint8_t, N>;

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
[[nodiscard]] std::uint64_t FollowJumpThunks(const MappedImage& image, std::uint64_t address);

// The target of the `call rel32` that ends just before `next`, or 0 when the byte 5 before it is
// not a call.
[[nodiscard]] std::uint64_t CallTargetBefore(const MappedImage& image, std::uint64_t next);

// The first occurrence of needle[0, length) in [first, last), or last. The scans of whole
// sections run at memory speed: sixteen positions at a time are tested for the two needle bytes
// at `anchor` (chosen rare in code and data), and only where both are in place is the rest
// compared.
[[nodiscard]] const std::uint8_t* FindBytes(const std::uint8_t* first, const std::uint8_t* last,
                                            const std::uint8_t* needle, std::size_t length, std::size_t anchor);

}  // namespace pathlight
