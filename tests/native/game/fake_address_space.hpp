// A fake address space that serves GameMemory: regions of bytes mapped at addresses, which a
// test may unmap or re-map between two reads, as the game frees and reuses its memory. It counts
// reads so tests can see that a check needed none.
#pragma once

#include <cstdint>
#include <cstring>
#include <iterator>
#include <map>
#include <vector>

#include "platform/game_memory.hpp"

namespace pathlight::testing {

class FakeAddressSpace final : public GameMemory {
 public:
  void Map(std::uint64_t base, std::vector<std::uint8_t> bytes) { regions_[base] = std::move(bytes); }
  void Unmap(std::uint64_t base) { regions_.erase(base); }
  void Poke64(std::uint64_t address, std::uint64_t value) {
    auto region = Find(address);
    std::memcpy(region->second.data() + (address - region->first), &value, 8);
  }

  std::size_t ReadSome(std::uint64_t address, void* out, std::size_t size) override {
    ++reads;
    std::size_t copied = 0;
    while (copied < size) {
      const std::uint64_t at = address + copied;
      auto region = Find(at);
      if (region == regions_.end()) break;
      const std::size_t offset = at - region->first;
      const std::size_t chunk = std::min(size - copied, region->second.size() - offset);
      std::memcpy(static_cast<char*>(out) + copied, region->second.data() + offset, chunk);
      copied += chunk;
    }
    return copied;
  }

  int reads = 0;

  using Regions = std::map<std::uint64_t, std::vector<std::uint8_t>>;
  [[nodiscard]] const Regions& MappedRegions() const { return regions_; }

 private:
  Regions::iterator Find(std::uint64_t address) {
    auto after = regions_.upper_bound(address);
    if (after == regions_.begin()) return regions_.end();
    auto region = std::prev(after);
    return address - region->first < region->second.size() ? region : regions_.end();
  }
  Regions regions_;
};

}  // namespace pathlight::testing
