// Values read from bytes as the formats and the game's memory lay them out: little-endian, at any
// alignment. x86-64 is little-endian, so the load is a plain copy.
#pragma once

#include <cstring>
#include <type_traits>

namespace pathlight {

template <typename T> [[nodiscard]] T LoadLittle(const void* bytes) {
  static_assert(std::is_trivially_copyable_v<T>);
  T value;
  std::memcpy(&value, bytes, sizeof value);
  return value;
}

}  // namespace pathlight
