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
    if (capacity > keys_.size()) Rehash(capacity);
  }

  [[nodiscard]] const V* Find(std::uint64_t key) const {
    if (key == kEmpty) return hasSentinel_ ? &sentinelValue_ : nullptr;
    if (keys_.empty()) return nullptr;
    for (std::size_t slot = Hash(key) & mask_;; slot = (slot + 1) & mask_) {
      if (keys_[slot] == key) return &values_[slot];
      if (keys_[slot] == kEmpty) return nullptr;
    }
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
    if ((size_ + 1) * kLoadDen > keys_.size() * kLoadNum) Rehash(keys_.empty() ? 16 : keys_.size() * 2);
    std::size_t slot = Hash(key) & mask_;
    for (; keys_[slot] != kEmpty; slot = (slot + 1) & mask_) {
      if (keys_[slot] == key) return {&values_[slot], false};
    }
    keys_[slot] = key;
    values_[slot] = value;
    ++size_;
    return {&values_[slot], true};
  }

  V& operator[](std::uint64_t key) { return *TryEmplace(key, V{}).first; }

  template <class F> void ForEach(F&& visit) const {
    for (std::size_t slot = 0; slot < keys_.size(); ++slot) {
      if (keys_[slot] != kEmpty) visit(keys_[slot], values_[slot]);
    }
    if (hasSentinel_) visit(kEmpty, sentinelValue_);
  }

  [[nodiscard]] std::size_t MemoryBytes() const {
    return keys_.capacity() * sizeof(std::uint64_t) + values_.capacity() * sizeof(V);
  }

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

  void Rehash(std::size_t capacity) {
    std::vector<std::uint64_t> oldKeys(capacity, kEmpty);
    std::vector<V> oldValues(capacity);
    oldKeys.swap(keys_);
    oldValues.swap(values_);
    mask_ = capacity - 1;
    for (std::size_t i = 0; i < oldKeys.size(); ++i) {
      if (oldKeys[i] == kEmpty) continue;
      std::size_t slot = Hash(oldKeys[i]) & mask_;
      while (keys_[slot] != kEmpty) slot = (slot + 1) & mask_;
      keys_[slot] = oldKeys[i];
      values_[slot] = std::move(oldValues[i]);
    }
  }

  std::vector<std::uint64_t> keys_;
  std::vector<V> values_;
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
