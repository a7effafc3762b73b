// Code-like filler for synthetic images: common x64 instructions with random displacements and
// immediates, so that a scan's early tests pass and fail about as often as on a real game's code
// (now and then a rip-relative load followed by a load of its +0x30 field, each with a target of
// its own). The same seed every time: the bytes of a given span are always the same.
#pragma once

#include <cstdint>
#include <cstring>

namespace testkit {

// Fills [at, end) with instructions, up to a tail shorter than the longest; returns where the
// instructions end. Four-byte displacements reach `reach` bytes either way.
inline std::uint8_t* FillCodeLike(std::uint8_t* at, std::uint8_t* end, std::int64_t reach) {
  std::uint64_t state = 0x9E3779B97F4A7C15ull;
  const auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  struct Shape {
    std::uint8_t bytes[6];
    std::uint8_t length;
    std::uint8_t immediate;  // bytes of random displacement or immediate after the opcode
  };
  static const Shape shapes[] = {
      {{0x48, 0x8B, 0x05}, 3, 4},
      {{0x48, 0x8B, 0x48}, 3, 1},
      {{0x48, 0x89, 0x5C, 0x24, 0x08}, 5, 0},
      {{0xE8}, 1, 4},
      {{0x48, 0x83, 0xEC, 0x28}, 4, 0},
      {{0x48, 0x83, 0xC4, 0x28}, 4, 0},
      {{0xC3}, 1, 0},
      {{0xCC}, 1, 0},
      {{0x48, 0x8B, 0xCB}, 3, 0},
      {{0x4C, 0x8B, 0x05}, 3, 4},
      {{0x0F, 0x1F, 0x44, 0x00, 0x00}, 5, 0},
      {{0x48, 0x85, 0xC0}, 3, 0},
      {{0x74}, 1, 1},
      {{0x0F, 0x84}, 2, 4},
      {{0x48, 0xB8}, 2, 8},
      {{0xF3, 0x0F, 0x10, 0x05}, 4, 4},
      {{0x41, 0x8B, 0x45}, 3, 1},
      {{0x48, 0x8D, 0x0D}, 3, 4},
      {{0x89, 0x44, 0x24}, 3, 1},
      {{0x48, 0x8B, 0x4E, 0x18}, 4, 0},
  };
  while (at + 16 <= end) {
    const Shape& shape = shapes[next() % (sizeof shapes / sizeof shapes[0])];
    std::memcpy(at, shape.bytes, shape.length);
    at += shape.length;
    // Displacements reach about as far as the image does, so many targets land inside it.
    std::uint64_t value = shape.immediate == 4
                              ? static_cast<std::uint64_t>(static_cast<std::int64_t>(next() % (2 * reach)) - reach)
                              : next();
    std::memcpy(at, &value, shape.immediate);
    at += shape.immediate;
  }
  return at;
}

}  // namespace testkit
