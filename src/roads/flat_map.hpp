// An open-addressing hash map from 64-bit keys, for the loader's large maps (node merge map, tile
// vertex positions, grid cells): one flat allocation instead of one per entry, which roughly
// halves the loader's peak memory on a world of millions of nodes against std::unordered_map.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace pathlight {

template <class V> class FlatMap64 {
 public:
  [[nodiscard]] std::size_t size() const { return size_ + (hasSentinel_ ? 1 : 0); }

  void Reserve(std::size_t count) {
    std::size_t capacity = 16;
    while (capacity * kLoadDen < count * kLoadNum) capacity *= 2;
    if (capacity > slots_.size()) Rehash(capacity);
  }

  [[nodiscard]] const V* Find(std::uint64_t key) const {
    if (key == kEmpty) return hasSentinel_ ? &sentinelValue_ : nullptr;
    if (slots_.empty()) return nullptr;
    for (std::size_t slot = Hash(key) & mask_;; slot = (slot + 1) & mask_) {
      if (slots_[slot].key == key) return &slots_[slot].value;
      if (slots_[slot].key == kEmpty) return nullptr;
    }
  }
  // Starts fetching the slot where a look-up of key begins, for loops that know their keys a few
  // steps ahead: the table is far larger than the caches, and its slots are spread by the hash.
  void Prefetch(std::uint64_t key) const {
    // As an instruction of its own: GCC 12 drops __builtin_prefetch of an address loaded from a
    // member at -O2.
    if (!slots_.empty())
      asm volatile("prefetcht0 %0" : : "m"(*reinterpret_cast<const char*>(&slots_[Hash(key) & mask_])));
  }
  [[nodiscard]] V* Find(std::uint64_t key) { return const_cast<V*>(static_cast<const FlatMap64*>(this)->Find(key)); }

  // Inserts (key, value) unless the key is present; returns the stored value and whether it was
  // inserted.
  std::pair<V*, bool> TryEmplace(std::uint64_t key, const V& value) {
    if (key == kEmpty) {
      const bool inserted = !hasSentinel_;
      if (inserted) sentinelValue_ = value;
      hasSentinel_ = true;
      return {&sentinelValue_, inserted};
    }
    if ((size_ + 1) * kLoadDen > slots_.size() * kLoadNum) Rehash(slots_.empty() ? 16 : slots_.size() * 2);
    std::size_t slot = Hash(key) & mask_;
    for (; slots_[slot].key != kEmpty; slot = (slot + 1) & mask_) {
      if (slots_[slot].key == key) return {&slots_[slot].value, false};
    }
    slots_[slot] = {key, value};
    ++size_;
    return {&slots_[slot].value, true};
  }

  V& operator[](std::uint64_t key) { return *TryEmplace(key, V{}).first; }

  template <class F> void ForEach(F&& visit) const {
    for (const Slot& slot : slots_) {
      if (slot.key != kEmpty) visit(slot.key, slot.value);
    }
    if (hasSentinel_) visit(kEmpty, sentinelValue_);
  }

  [[nodiscard]] std::size_t MemoryBytes() const { return slots_.capacity() * sizeof(Slot); }

 private:
  // The all-ones key marks an empty slot; a real all-ones key lives beside the table.
  static constexpr std::uint64_t kEmpty = ~std::uint64_t{0};
  static constexpr std::size_t kLoadNum = 3, kLoadDen = 4;

  static std::size_t Hash(std::uint64_t key) {
    // splitmix64's finaliser: cell and coordinate keys are far from random in their low bits.
    key ^= key >> 30;
    key *= 0xbf58476d1ce4e5b9ull;
    key ^= key >> 27;
    key *= 0x94d049bb133111ebull;
    key ^= key >> 31;
    return static_cast<std::size_t>(key);
  }

  // Key and value side by side, so that a look-up costs one cache line, not two.
  struct Slot {
    std::uint64_t key = kEmpty;
    V value{};
  };

  void Rehash(std::size_t capacity) {
    std::vector<Slot> old(capacity);
    old.swap(slots_);
    mask_ = capacity - 1;
    for (Slot& from : old) {
      if (from.key == kEmpty) continue;
      std::size_t slot = Hash(from.key) & mask_;
      while (slots_[slot].key != kEmpty) slot = (slot + 1) & mask_;
      slots_[slot] = std::move(from);
    }
  }

  std::vector<Slot> slots_;
  std::size_t size_ = 0;
  std::size_t mask_ = 0;
  bool hasSentinel_ = false;
  V sentinelValue_{};
};

// The 64-bit key of a pair of signed 32-bit values: the first in the high half, the second (as
// unsigned 32 bits) in the low half.
[[nodiscard]] inline std::uint64_t PairKey(std::int32_t high, std::int32_t low) {
  return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(high)) << 32) | static_cast<std::uint32_t>(low);
}

}  // namespace pathlight
