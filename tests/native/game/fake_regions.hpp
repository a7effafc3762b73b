// The region query over a fake address space, as VirtualQuery answers it: a mapped region from
// the queried page to its end, and the gaps between mapped regions as regions of their own that
// are not scannable. Regions are scannable unless a test marks them otherwise (read-only, mapped
// files, image sections).
#pragma once

#include <cstdint>
#include <set>

#include "fake_address_space.hpp"
#include "game/finder.hpp"

namespace pathlight::testing {

class FakeRegions final : public RegionQuery {
 public:
  explicit FakeRegions(const FakeAddressSpace& memory) : memory_(memory) {}

  void MarkUnscannable(std::uint64_t base) { unscannable_.insert(base); }

  bool RegionAt(std::uint64_t address, MemoryRegion& region) override {
    ++queries;
    if (address > kHighestUserAddress) return false;
    const std::uint64_t page = address & ~std::uint64_t{0xFFF};
    const auto& mapped = memory_.MappedRegions();
    auto after = mapped.upper_bound(address);
    if (after != mapped.begin()) {
      auto holder = std::prev(after);
      if (address - holder->first < holder->second.size()) {
        region = {page, holder->first + holder->second.size() - page, !unscannable_.contains(holder->first)};
        return true;
      }
    }
    const std::uint64_t end = after == mapped.end() ? kHighestUserAddress + 1 : after->first;
    region = {page, end - page, false};
    return true;
  }

  int queries = 0;

 private:
  const FakeAddressSpace& memory_;
  std::set<std::uint64_t> unscannable_;
};

}  // namespace pathlight::testing
