// Slots for relays and trampolines, in blocks of the allocation granularity placed near the
// targets and shared by every hook whose reach they fall in. Freed slots are reused last
// (first in, first out), and blocks go back to the OS only in ReleaseAll, so a detour still
// running when its hook was removed finds its old trampoline intact for as long as possible.
// Not synchronised: the engine's lock guards it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <vector>

#include "hookengine/prologue.hpp"

namespace pathlight::hookengine {

class SlotPool {
 public:
  // A slot address in `range`, preferring memory close to `origin`; 0 when none can be had.
  [[nodiscard]] std::uint64_t Allocate(AddressRange range, std::uint64_t origin);
  void Free(std::uint64_t slot);
  // Writes a slot's bytes (the blocks are executable and read-only otherwise).
  [[nodiscard]] bool Write(std::uint64_t slot, std::span<const std::uint8_t> bytes);
  void ReleaseAll();

 private:
  struct Block {
    std::uint64_t base = 0;
    std::deque<std::uint16_t> freeSlots;
  };
  std::uint64_t TakeSlot(Block& block, AddressRange range);
  bool AddBlockIn(AddressRange range, std::uint64_t origin);
  std::vector<Block> blocks_;
};

}  // namespace pathlight::hookengine
