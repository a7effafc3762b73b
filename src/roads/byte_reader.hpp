// Bounds-checked little-endian reads over a byte span, for the parsers of the game's files. Every
// read is tested against the end of the data with 64-bit positions, so offset arithmetic on 32-bit
// file fields cannot wrap; a read that does not fit raises "truncated".
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <stdexcept>
#include <string_view>

#include "platform/bytes.hpp"

namespace pathlight {

static_assert(std::endian::native == std::endian::little, "the game's files are read in place as little-endian");

class ByteReader {
 public:
  explicit ByteReader(std::span<const std::byte> bytes) : bytes_(bytes) {}

  [[nodiscard]] std::uint64_t size() const { return bytes_.size(); }

  [[nodiscard]] bool Fits(std::uint64_t pos, std::uint64_t count) const {
    return pos <= bytes_.size() && count <= bytes_.size() - pos;
  }
  void Require(std::uint64_t pos, std::uint64_t count) const {
    if (!Fits(pos, count)) throw std::runtime_error("truncated");
  }

  [[nodiscard]] std::uint8_t U8(std::uint64_t pos) const {
    Require(pos, 1);
    return static_cast<std::uint8_t>(bytes_[pos]);
  }
  [[nodiscard]] std::uint32_t U32(std::uint64_t pos) const {
    Require(pos, 4);
    return LoadLittle<std::uint32_t>(bytes_.data() + pos);
  }
  [[nodiscard]] float F32(std::uint64_t pos) const {
    Require(pos, 4);
    return LoadLittle<float>(bytes_.data() + pos);
  }
  // The count bytes at pos, to be copied as they lie.
  [[nodiscard]] const std::byte* At(std::uint64_t pos, std::uint64_t count) const {
    Require(pos, count);
    return bytes_.data() + pos;
  }
  [[nodiscard]] std::string_view Text(std::uint64_t pos, std::uint64_t length) const {
    Require(pos, length);
    return {reinterpret_cast<const char*>(bytes_.data() + pos), static_cast<std::size_t>(length)};
  }

 private:
  std::span<const std::byte> bytes_;
};

}  // namespace pathlight
