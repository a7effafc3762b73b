// The game's memory as a fuzz input builds it: regions of bytes at addresses the input chooses,
// pages between them that are not mapped, and regions mapped but unreadable (guard pages,
// no-access memory). It serves the guarded reads (GameMemory) and the region query the finder
// walks, and counts reads so a target can check that the work done stays bounded.
//
// Input format, after the target's own fixed header:
//   repeated: u32 offset (the region starts at the page of kSpaceBase + offset: regions start on
//             4 KB pages, as the OS maps them), u16 length, u8 flags, u8 unused, then `length`
//             bytes (fewer where the input ends)
// Flags: kUnreadable (mapped, but every read fails), kNotScannable (readable, not private
// read-write). A region overlapping an earlier one is dropped; at most kMaxRegions are kept.
//
// SpaceWriter builds such inputs for the seeds.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <span>
#include <vector>

#include "game/finder.hpp"
#include "platform/game_memory.hpp"

namespace pathlight::fuzzing {

inline constexpr std::uint64_t kSpaceBase = 0x20000000;
inline constexpr std::uint8_t kUnreadable = 1;
inline constexpr std::uint8_t kNotScannable = 2;
inline constexpr std::size_t kMaxRegions = 64;
inline constexpr std::size_t kRegionHeader = 8;

// Reads plain values off the front of the input; past its end they read as zero.
class InputReader {
 public:
  explicit InputReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  template <typename T> T Take() {
    T value{};
    const std::size_t n = std::min(sizeof value, bytes_.size());
    std::memcpy(&value, bytes_.data(), n);
    bytes_ = bytes_.subspan(n);
    return value;
  }
  [[nodiscard]] std::span<const std::uint8_t> Rest() const { return bytes_; }

 private:
  std::span<const std::uint8_t> bytes_;
};

class FuzzMemory final : public GameMemory, public RegionQuery {
 public:
  explicit FuzzMemory(std::span<const std::uint8_t> records) {
    while (records.size() >= kRegionHeader && regions_.size() < kMaxRegions) {
      InputReader header(records);
      const auto offset = header.Take<std::uint32_t>();
      const auto length = header.Take<std::uint16_t>();
      const auto flags = header.Take<std::uint8_t>();
      records = records.subspan(kRegionHeader);
      const std::size_t n = std::min<std::size_t>(length, records.size());
      Region region{std::vector<std::uint8_t>(records.begin(), records.begin() + static_cast<std::ptrdiff_t>(n)),
                    flags};
      records = records.subspan(n);
      if (n == 0) continue;
      const std::uint64_t base = kSpaceBase + (offset & ~std::uint32_t{0xFFF});
      if (Overlaps(base, n)) continue;
      regions_.emplace(base, std::move(region));
    }
  }

  std::size_t ReadSome(std::uint64_t address, void* out, std::size_t size) override {
    ++reads;
    std::size_t copied = 0;
    while (copied < size) {
      const std::uint64_t at = address + copied;
      if (at < address) break;  // wrapped past the top of the address space
      const auto region = Find(at);
      if (region == regions_.end() || (region->second.flags & kUnreadable) != 0) break;
      const std::size_t offset = at - region->first;
      const std::size_t chunk = std::min(size - copied, region->second.bytes.size() - offset);
      std::memcpy(static_cast<char*>(out) + copied, region->second.bytes.data() + offset, chunk);
      copied += chunk;
    }
    return copied;
  }

  // As the OS answers: the region from the queried page to its end; gaps are regions of their
  // own, never scannable.
  bool RegionAt(std::uint64_t address, MemoryRegion& region) override {
    ++queries;
    if (address > kHighestUserAddress) return false;
    const std::uint64_t page = address & ~std::uint64_t{0xFFF};
    auto after = regions_.upper_bound(address);
    if (after != regions_.begin()) {
      const auto holder = std::prev(after);
      const std::uint64_t end = holder->first + holder->second.bytes.size();
      if (address < end) {
        region = {page, end - page, holder->second.flags == 0};
        return true;
      }
    }
    const std::uint64_t end = after == regions_.end() ? kHighestUserAddress + 1 : after->first;
    region = {page, end - page, false};
    return true;
  }

  // Whether [address, address + size) lies wholly in readable regions.
  [[nodiscard]] bool Readable(std::uint64_t address, std::size_t size) {
    std::vector<std::uint8_t> scratch(size);
    const int before = reads;
    const bool ok = ReadSome(address, scratch.data(), size) == size;
    reads = before;
    return ok;
  }

  [[nodiscard]] std::size_t MappedBytes() const {
    std::size_t total = 0;
    for (const auto& [base, region] : regions_) total += region.bytes.size();
    return total;
  }

  int reads = 0;
  int queries = 0;

 private:
  struct Region {
    std::vector<std::uint8_t> bytes;
    std::uint8_t flags = 0;
  };
  using Regions = std::map<std::uint64_t, Region>;

  Regions::iterator Find(std::uint64_t address) {
    auto after = regions_.upper_bound(address);
    if (after == regions_.begin()) return regions_.end();
    const auto region = std::prev(after);
    return address - region->first < region->second.bytes.size() ? region : regions_.end();
  }
  bool Overlaps(std::uint64_t base, std::size_t size) const {
    const auto after = regions_.lower_bound(base);
    if (after != regions_.end() && after->first < base + size) return true;
    if (after == regions_.begin()) return false;
    const auto before = std::prev(after);
    return before->first + before->second.bytes.size() > base;
  }

  Regions regions_;
};

// Writes a fuzz input: the header's values, then regions, each filled by Put.
class SpaceWriter {
 public:
  template <typename T> void Header(T value) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(&value);
    header_.insert(header_.end(), p, p + sizeof value);
  }
  void Map(std::uint64_t address, std::size_t size, std::uint8_t flags = 0) {
    regions_.push_back({address, flags, std::vector<std::uint8_t>(size)});
  }
  template <typename T> void Put(std::uint64_t address, T value) {
    for (auto& region : regions_) {
      if (address >= region.address && address + sizeof value <= region.address + region.bytes.size()) {
        std::memcpy(region.bytes.data() + (address - region.address), &value, sizeof value);
        return;
      }
    }
  }
  void PutBytes(std::uint64_t address, std::span<const std::uint8_t> bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i) Put<std::uint8_t>(address + i, bytes[i]);
  }
  [[nodiscard]] std::vector<std::uint8_t> Bytes() const {
    std::vector<std::uint8_t> out = header_;
    for (const auto& region : regions_) {
      const auto offset = static_cast<std::uint32_t>(region.address - kSpaceBase);
      const auto length = static_cast<std::uint16_t>(region.bytes.size());
      const std::uint8_t head[kRegionHeader] = {static_cast<std::uint8_t>(offset),
                                                static_cast<std::uint8_t>(offset >> 8),
                                                static_cast<std::uint8_t>(offset >> 16),
                                                static_cast<std::uint8_t>(offset >> 24),
                                                static_cast<std::uint8_t>(length),
                                                static_cast<std::uint8_t>(length >> 8),
                                                region.flags,
                                                0};
      out.insert(out.end(), std::begin(head), std::end(head));
      out.insert(out.end(), region.bytes.begin(), region.bytes.end());
    }
    return out;
  }

 private:
  struct Region {
    std::uint64_t address;
    std::uint8_t flags;
    std::vector<std::uint8_t> bytes;
  };
  std::vector<std::uint8_t> header_;
  std::vector<Region> regions_;
};

// A failed check: prints what broke and aborts, which libFuzzer reports as a crash with the input.
[[noreturn]] inline void Broken(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

}  // namespace pathlight::fuzzing
