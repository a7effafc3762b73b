#include "world_roads.hpp"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <thread>

#include "host.hpp"
#include "roads/road_files.hpp"

namespace simhost {

namespace {

// A grid of at most this many cells a side, whatever the world's size.
constexpr int kMaxGridSide = 1024;
constexpr float kMinCellSize = 64.0f;
// A line whose box covers more cells than this is kept apart.
constexpr long kMaxCellsPerLine = 64;

}  // namespace

WorldRoads& GameRoads() {
  // Never destroyed: the loading thread may outlive the main loop.
  static WorldRoads* roads = new WorldRoads;
  return *roads;
}

void WorldRoads::StartLoading(const std::wstring& gameFolder) {
  if (started_.exchange(true)) return;
  std::thread([this, gameFolder] {
    // Below the library's threads: the game's own map may wait, the library's start may not.
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
    Load(gameFolder);
    finished_.store(true, std::memory_order_release);
  }).detach();
}

void WorldRoads::Load(const std::wstring& gameFolder) {
  const DWORD start = GetTickCount();
  try {
    pathlight::GraphBuilder builder;
    pathlight::RoadFileCounts counts;
    pathlight::ReadRoadFiles(gameFolder, builder, counts);
    const auto& nodes = builder.nodes();
    lines_.reserve(builder.segments().size());
    for (const pathlight::RoadSegment& segment : builder.segments()) {
      const pathlight::RoadNode& a = nodes[segment.first];
      const pathlight::RoadNode& b = nodes[segment.second];
      if (!std::isfinite(a.x) || !std::isfinite(a.z) || !std::isfinite(b.x) || !std::isfinite(b.z)) continue;
      const bool major = segment.type == pathlight::RoadType::Main || segment.type == pathlight::RoadType::Wide;
      lines_.push_back({a.x, a.z, b.x, b.z, major});
    }
    BuildGrid();
  } catch (const std::exception& error) {
    Say("simhost: roads unreadable (%s)", error.what());
    lines_.clear();
    return;
  }
  Say("simhost: roads: %zu lines, %lu ms", lines_.size(), static_cast<unsigned long>(GetTickCount() - start));
  if (!lines_.empty()) ready_.store(true, std::memory_order_release);
}

void WorldRoads::BuildGrid() {
  float minX = INFINITY, minZ = INFINITY, maxX = -INFINITY, maxZ = -INFINITY;
  for (const RoadLine& l : lines_) {
    minX = std::min({minX, l.x0, l.x1});
    maxX = std::max({maxX, l.x0, l.x1});
    minZ = std::min({minZ, l.z0, l.z1});
    maxZ = std::max({maxZ, l.z0, l.z1});
  }
  if (lines_.empty()) return;
  const float extent = std::max(maxX - minX, maxZ - minZ);
  cellSize_ = std::max(kMinCellSize, extent / static_cast<float>(kMaxGridSide - 1));
  originX_ = minX;
  originZ_ = minZ;
  columns_ = std::min(kMaxGridSide, static_cast<int>((maxX - minX) / cellSize_) + 1);
  rows_ = std::min(kMaxGridSide, static_cast<int>((maxZ - minZ) / cellSize_) + 1);
  seen_.assign(lines_.size(), 0);

  // Two passes over the lines' boxes: count per cell, then fill.
  const auto box = [&](const RoadLine& l, int& c0, int& r0, int& c1, int& r1) {
    c0 = std::clamp(static_cast<int>((std::min(l.x0, l.x1) - originX_) / cellSize_), 0, columns_ - 1);
    c1 = std::clamp(static_cast<int>((std::max(l.x0, l.x1) - originX_) / cellSize_), 0, columns_ - 1);
    r0 = std::clamp(static_cast<int>((std::min(l.z0, l.z1) - originZ_) / cellSize_), 0, rows_ - 1);
    r1 = std::clamp(static_cast<int>((std::max(l.z0, l.z1) - originZ_) / cellSize_), 0, rows_ - 1);
    return static_cast<long>(c1 - c0 + 1) * (r1 - r0 + 1) <= kMaxCellsPerLine;
  };
  cellStarts_.assign(static_cast<std::size_t>(columns_) * rows_ + 1, 0);
  int c0, r0, c1, r1;
  for (const RoadLine& l : lines_) {
    if (!box(l, c0, r0, c1, r1)) continue;
    for (int r = r0; r <= r1; ++r)
      for (int c = c0; c <= c1; ++c) ++cellStarts_[static_cast<std::size_t>(r) * columns_ + c + 1];
  }
  for (std::size_t i = 1; i < cellStarts_.size(); ++i) cellStarts_[i] += cellStarts_[i - 1];
  cellLines_.resize(cellStarts_.back());
  std::vector<std::uint32_t> fill(cellStarts_.begin(), cellStarts_.end() - 1);
  for (std::uint32_t i = 0; i < lines_.size(); ++i) {
    if (!box(lines_[i], c0, r0, c1, r1)) {
      longLines_.push_back(i);
      continue;
    }
    for (int r = r0; r <= r1; ++r)
      for (int c = c0; c <= c1; ++c) cellLines_[fill[static_cast<std::size_t>(r) * columns_ + c]++] = i;
  }
}

void WorldRoads::Collect(float minX, float minZ, float maxX, float maxZ, std::vector<std::uint32_t>& out) const {
  out.clear();
  if (!Ready() || !(minX <= maxX) || !(minZ <= maxZ)) return;
  if (++stamp_ == 0) {
    std::fill(seen_.begin(), seen_.end(), 0);
    stamp_ = 1;
  }
  // Cell indices in double, so a rectangle of any size stays within the grid.
  const auto cell = [&](float v, float origin, int count) {
    return static_cast<int>(std::clamp(std::floor((static_cast<double>(v) - origin) / cellSize_), 0.0, count - 1.0));
  };
  const float margin = cellSize_;
  if (maxX < originX_ - margin || maxZ < originZ_ - margin || minX > originX_ + columns_ * cellSize_ + margin ||
      minZ > originZ_ + rows_ * cellSize_ + margin) {
    out = longLines_;
    return;
  }
  const int c0 = cell(minX, originX_, columns_), c1 = cell(maxX, originX_, columns_);
  const int r0 = cell(minZ, originZ_, rows_), r1 = cell(maxZ, originZ_, rows_);
  for (int r = r0; r <= r1; ++r) {
    for (int c = c0; c <= c1; ++c) {
      const std::size_t at = static_cast<std::size_t>(r) * columns_ + c;
      for (std::uint32_t k = cellStarts_[at]; k < cellStarts_[at + 1]; ++k) {
        const std::uint32_t line = cellLines_[k];
        if (seen_[line] == stamp_) continue;
        seen_[line] = stamp_;
        out.push_back(line);
      }
    }
  }
  out.insert(out.end(), longLines_.begin(), longLines_.end());
}

}  // namespace simhost
