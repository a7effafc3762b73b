// The game's executable image as it lies mapped, and what its PE headers say about it: its size
// and its sections. In the DLL the image is the main module in place, in tests a byte buffer, so
// every search over it is the same code in both builds.
//
// The image is read without a fault guard: every search stays inside the image's sections, every
// address taken from the image's own data (class-table slots, call and jump targets) is checked
// to lie inside the image before a byte behind it is read, and the parts of the image the OS
// reports unreadable (see MappedImage) are never touched.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

namespace pathlight {

// A range of addresses [start, end).
struct AddressRange {
  std::uint64_t start = 0;
  std::uint64_t end = 0;
};

// The mapped image: byte i of `bytes` lies at address base + i. `unreadable` lists the parts of
// it that must not be touched (pages that are not committed, not readable or guard pages, which
// packers and anti-tamper layers leave in an image), in ascending order; the scan treats them as
// if they were not part of the image.
class MappedImage {
 public:
  MappedImage(std::uint64_t base, std::span<const std::byte> bytes, std::vector<AddressRange> unreadable = {})
      : base_(base), bytes_(bytes), unreadable_(std::move(unreadable)) {}

  [[nodiscard]] std::uint64_t Base() const { return base_; }
  [[nodiscard]] std::uint64_t End() const { return base_ + bytes_.size(); }
  // True when [address, address + length) lies inside the image and may be read.
  [[nodiscard]] bool Contains(std::uint64_t address, std::uint64_t length = 1) const {
    return address >= base_ && address - base_ <= bytes_.size() && length <= bytes_.size() - (address - base_) &&
           ReadableEnd(address) - address >= length;
  }
  // Where the readable stretch that holds `address` ends: the next unreadable part or the end
  // of the image.
  [[nodiscard]] std::uint64_t ReadableEnd(std::uint64_t address) const;
  // The first address at or after `address` that is not in an unreadable part.
  [[nodiscard]] std::uint64_t NextReadable(std::uint64_t address) const;
  // Reads at an address the caller has checked with Contains.
  [[nodiscard]] const std::uint8_t* At(std::uint64_t address) const {
    return reinterpret_cast<const std::uint8_t*>(bytes_.data()) + (address - base_);
  }
  [[nodiscard]] std::uint8_t U8(std::uint64_t address) const { return *At(address); }
  [[nodiscard]] std::uint32_t U32(std::uint64_t address) const;
  [[nodiscard]] std::int32_t I32(std::uint64_t address) const { return static_cast<std::int32_t>(U32(address)); }
  [[nodiscard]] std::uint64_t U64(std::uint64_t address) const;

 private:
  std::uint64_t base_;
  std::span<const std::byte> bytes_;
  std::vector<AddressRange> unreadable_;
};

// SizeOfImage from the PE headers at the start of `headers` (0 when they are not readable as
// such). The DLL uses it to learn how far its view of the main module may reach.
[[nodiscard]] std::uint32_t ImageSizeFromHeaders(std::span<const std::byte> headers);

struct ImageSection {
  std::uint64_t start = 0;
  std::uint64_t size = 0;
  bool executable = false;
};

// The readable sections in header order, each cut to the image's bytes; a section with unreadable
// parts comes as its readable pieces, in order.
[[nodiscard]] std::vector<ImageSection> ListImageSections(const MappedImage& image);

}  // namespace pathlight
