// The growing road network while the road files are read: nodes, segments, and the merge map that
// makes every vertex at the same whole-metre ground position one node, across tiles, archive
// indexes and both kinds of road file. Private to the road loader thread.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include "roads/flat_map.hpp"
#include "roads/road_types.hpp"

namespace pathlight {

// Nearest 32-bit integer, halves away from zero; a value that is not finite or does not fit in 32
// bits gives 0.
[[nodiscard]] inline std::int32_t RoundToMetre(float value) {
  // Half away from zero, then toward zero: exact for every float, as a float's bits and the half
  // fit in a double (a float far below one half only rounds the sum to one half), and without a
  // call into the maths library.
  const double shifted = static_cast<double>(value) + std::copysign(0.5, static_cast<double>(value));
  if (!(shifted > -2147483649.0 && shifted < 2147483648.0)) return 0;
  return static_cast<std::int32_t>(shifted);
}

// floor(value / cellSize) as a cell number, saturated to +-2^30 so that a few neighbouring cells
// can be added without overflow; a value that is not finite gives cell 0. Positions that reach
// the limits are refused before they become nodes, so this only keeps bad input harmless.
[[nodiscard]] inline std::int32_t FloorCell(double value, double cellSize) {
  constexpr double kLimit = 1073741824.0;
  const double quotient = value / cellSize;
  if (!std::isfinite(quotient)) return 0;
  if (quotient >= kLimit) return static_cast<std::int32_t>(kLimit);
  if (quotient <= -kLimit) return -static_cast<std::int32_t>(kLimit);
  // Toward zero, then one down for a negative value with a fraction: the floor, without a call
  // into the maths library on processors older than SSE4.1, and without a branch, as coordinates
  // of either sign come in no order.
  const auto cell = static_cast<std::int32_t>(quotient);
  return cell - static_cast<std::int32_t>(static_cast<double>(cell) > quotient);
}

// Whole-metre ground positions to nodes, in two levels: the square of 256 m a position lies in,
// then the position within its square's own small table. The roads of a tile lie in a few squares,
// so their look-ups stay in tables the caches hold, where one table over the whole world would
// cost a miss of cache and address translation for nearly every vertex. Within its square a
// position needs 16 bits, so an entry is 8 bytes.
class NodeMergeMap {
 public:
  // The node at (x, z), or node stored there when there is none yet; and whether it was stored.
  std::pair<std::int32_t, bool> TryEmplace(std::int32_t x, std::int32_t z, std::int32_t node) {
    const std::uint64_t square = PairKey(x >> kSquareShift, z >> kSquareShift);
    if (tables_.empty() || square != lastSquare_) {
      const auto [table, inserted] = squares_.TryEmplace(square, static_cast<std::uint32_t>(tables_.size()));
      if (inserted) tables_.emplace_back();
      lastSquare_ = square;
      lastTable_ = *table;
    }
    const auto local = static_cast<std::uint32_t>(((x & kSquareMask) << kSquareShift) | (z & kSquareMask));
    return tables_[lastTable_].TryEmplace(local, node);
  }

 private:
  static constexpr int kSquareShift = 8;
  static constexpr std::int32_t kSquareMask = (1 << kSquareShift) - 1;

  // Open addressing over a power-of-two number of slots, at most three quarters full.
  class Table {
   public:
    std::pair<std::int32_t, bool> TryEmplace(std::uint32_t local, std::int32_t node) {
      if (4 * (size_ + 1) > 3 * slots_.size()) Grow();
      for (std::size_t slot = Home(local);; slot = (slot + 1) & (slots_.size() - 1)) {
        if (slots_[slot].local == local) return {slots_[slot].node, false};
        if (slots_[slot].local == kFree) {
          slots_[slot] = {local, node};
          ++size_;
          return {node, true};
        }
      }
    }

   private:
    static constexpr std::uint32_t kFree = 0xFFFFFFFFu;
    struct Slot {
      std::uint32_t local = kFree;
      std::int32_t node = 0;
    };
    [[nodiscard]] std::size_t Home(std::uint32_t local) const {
      return static_cast<std::size_t>((local * 0x9E3779B1u) >> (32 - bits_));
    }
    void Grow() {
      std::vector<Slot> old(slots_.empty() ? 32 : 2 * slots_.size());
      old.swap(slots_);
      bits_ = static_cast<int>(std::countr_zero(slots_.size()));
      for (const Slot& from : old) {
        if (from.local == kFree) continue;
        std::size_t slot = Home(from.local);
        while (slots_[slot].local != kFree) slot = (slot + 1) & (slots_.size() - 1);
        slots_[slot] = from;
      }
    }

    std::vector<Slot> slots_;
    std::uint32_t size_ = 0;
    int bits_ = 0;
  };

  FlatMap64<std::uint32_t> squares_;
  std::vector<Table> tables_;
  std::uint64_t lastSquare_ = 0;
  std::uint32_t lastTable_ = 0;
};

class GraphBuilder {
 public:
  // The node at (round(x), round(z)); a new one at exactly (x, y, z) if there is none yet. Height
  // plays no part, and a node keeps the position of the vertex that made it.
  std::int32_t NodeForPosition(float x, float y, float z);
  // Room for this many nodes, or segments, in all. Growing past the room takes a quarter more at
  // least, so that callers asking for a little more each time do not copy the list each time.
  void ReserveNodes(std::size_t count) { Reserve(nodes_, count); }
  void ReserveSegments(std::size_t count) { Reserve(segments_, count); }
  void AddSegment(std::int32_t first, std::int32_t second, RoadType type) {
    segments_.push_back({first, second, 0.0f, type});
  }

  [[nodiscard]] const std::vector<RoadNode>& nodes() const { return nodes_; }
  [[nodiscard]] const std::vector<RoadSegment>& segments() const { return segments_; }
  std::vector<RoadNode> TakeNodes() { return std::move(nodes_); }
  std::vector<RoadSegment> TakeSegments() { return std::move(segments_); }
  // The merge map is no longer needed once the files are read; dropping it lowers the peak.
  void ReleaseMergeMap() { nodeMap_ = {}; }

 private:
  template <class T> static void Reserve(std::vector<T>& list, std::size_t count) {
    if (count > list.capacity()) list.reserve(std::max(count, list.capacity() + list.capacity() / 4));
  }

  std::vector<RoadNode> nodes_;
  std::vector<RoadSegment> segments_;
  NodeMergeMap nodeMap_;
};

}  // namespace pathlight
