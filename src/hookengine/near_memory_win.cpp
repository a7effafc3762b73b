#include "hookengine/near_memory_win.hpp"

#include <windows.h>

#include <algorithm>
#include <cstring>

namespace pathlight::hookengine {
namespace {

struct AddressSpace {
  std::uint64_t granularity;
  std::uint64_t lowest;
  std::uint64_t highest;  // last usable byte
};

AddressSpace QueryAddressSpace() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return AddressSpace{info.dwAllocationGranularity, reinterpret_cast<std::uint64_t>(info.lpMinimumApplicationAddress),
                      reinterpret_cast<std::uint64_t>(info.lpMaximumApplicationAddress)};
}

std::uint64_t AlignDown(std::uint64_t value, std::uint64_t alignment) { return value - value % alignment; }

// Reserves and commits one block at `at` if the free region there holds it.
bool TryBlockAt(std::uint64_t at, std::uint64_t size, const MEMORY_BASIC_INFORMATION& region) {
  const auto regionEnd = reinterpret_cast<std::uint64_t>(region.BaseAddress) + region.RegionSize;
  if (region.State != MEM_FREE || at + size > regionEnd) return false;
  return VirtualAlloc(reinterpret_cast<void*>(at), size, MEM_RESERVE | MEM_COMMIT, PAGE_EXECUTE_READ) != nullptr;
}

}  // namespace

std::uint64_t SlotPool::TakeSlot(Block& block, AddressRange range) {
  for (auto it = block.freeSlots.begin(); it != block.freeSlots.end(); ++it) {
    const std::uint64_t slot = block.base + std::uint64_t{*it} * kSlotSize;
    if (slot < range.lowest || slot > range.highest) continue;
    block.freeSlots.erase(it);
    return slot;
  }
  return 0;
}

bool SlotPool::AddBlockIn(AddressRange range, std::uint64_t origin) {
  const AddressSpace space = QueryAddressSpace();
  const std::uint64_t size = space.granularity;
  // Blocks start inside the range, so their first slot is always one the caller can use.
  const std::uint64_t lowest = AlignDown(std::max(range.lowest, space.lowest) + size - 1, size);
  const std::uint64_t highest = AlignDown(std::min(range.highest, space.highest - size), size);
  if (lowest > highest) return false;
  const std::uint64_t start = AlignDown(std::clamp(origin, lowest, highest), size);
  const auto add = [&](std::uint64_t at) {
    blocks_.push_back(Block{at, {}});
    for (std::uint16_t i = 0; i < size / kSlotSize; ++i) blocks_.back().freeSlots.push_back(i);
    return true;
  };
  // Downwards from the target's granule, then upwards; every step passes at least one granule, so
  // each walk is bounded by the range's size / 64 KB.
  MEMORY_BASIC_INFORMATION region;
  for (std::uint64_t at = start; at >= lowest;) {
    if (VirtualQuery(reinterpret_cast<void*>(at), &region, sizeof region) == 0) break;
    if (TryBlockAt(at, size, region)) return add(at);
    // BaseAddress is only the queried page; the allocation below it starts at AllocationBase.
    const std::uint64_t base = AlignDown(reinterpret_cast<std::uint64_t>(region.AllocationBase), size);
    const std::uint64_t below = region.State == MEM_FREE ? at : std::min(at, base);
    if (below < size) break;
    at = below - size;
  }
  for (std::uint64_t at = start + size; at <= highest;) {
    if (VirtualQuery(reinterpret_cast<void*>(at), &region, sizeof region) == 0) break;
    if (TryBlockAt(at, size, region)) return add(at);
    const std::uint64_t end = reinterpret_cast<std::uint64_t>(region.BaseAddress) + region.RegionSize;
    const std::uint64_t above = AlignDown(end + size - 1, size);
    at = (region.State == MEM_FREE || above <= at) ? at + size : above;
  }
  return false;
}

std::uint64_t SlotPool::Allocate(AddressRange range, std::uint64_t origin) {
  if (range.lowest > range.highest) return 0;
  for (auto& block : blocks_) {
    if (const std::uint64_t slot = TakeSlot(block, range)) return slot;
  }
  if (!AddBlockIn(range, origin)) return 0;
  return TakeSlot(blocks_.back(), range);
}

void SlotPool::Free(std::uint64_t slot) {
  const std::uint64_t size = QueryAddressSpace().granularity;
  for (auto& block : blocks_) {
    if (slot >= block.base && slot < block.base + size) {
      block.freeSlots.push_back(static_cast<std::uint16_t>((slot - block.base) / kSlotSize));
      return;
    }
  }
}

bool SlotPool::Write(std::uint64_t slot, std::span<const std::uint8_t> bytes) {
  auto* at = reinterpret_cast<void*>(slot);
  DWORD previous = 0;
  if (!VirtualProtect(at, bytes.size(), PAGE_EXECUTE_READWRITE, &previous)) return false;
  std::memcpy(at, bytes.data(), bytes.size());
  VirtualProtect(at, bytes.size(), previous, &previous);
  FlushInstructionCache(GetCurrentProcess(), at, bytes.size());
  return true;
}

void SlotPool::ReleaseAll() {
  for (const auto& block : blocks_) VirtualFree(reinterpret_cast<void*>(block.base), 0, MEM_RELEASE);
  blocks_.clear();
}

}  // namespace pathlight::hookengine
