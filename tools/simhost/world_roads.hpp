// The game's roads as its maps draw them: every road segment of the game folder's archives as one
// straight line, read once on a thread of its own (the window never waits for it unless asked),
// and a grid over the lines so a map only visits the lines near what it shows.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace simhost {

struct RoadLine {
  float x0, z0, x1, z1;  // world metres
  bool major;            // the wide roads between towns
};

class WorldRoads {
 public:
  // Starts the one load of the game folder's roads; later calls do nothing.
  void StartLoading(const std::wstring& gameFolder);
  [[nodiscard]] bool Ready() const { return ready_.load(std::memory_order_acquire); }
  // Started and not yet ended (with or without roads).
  [[nodiscard]] bool Loading() const { return started_.load() && !finished_.load(std::memory_order_acquire); }

  // Only once Ready(); never changes afterwards.
  [[nodiscard]] const std::vector<RoadLine>& Lines() const { return lines_; }
  // Indices of the lines that may cross the rectangle, each once (window thread only).
  void Collect(float minX, float minZ, float maxX, float maxZ, std::vector<std::uint32_t>& out) const;

 private:
  void Load(const std::wstring& gameFolder);
  void BuildGrid();

  std::vector<RoadLine> lines_;
  // Cells of the grid in rows of z, each listing its lines (compressed rows).
  float originX_ = 0, originZ_ = 0, cellSize_ = 64;
  int columns_ = 0, rows_ = 0;
  std::vector<std::uint32_t> cellStarts_, cellLines_;
  // Lines spanning too many cells to list in each: visited on every query.
  std::vector<std::uint32_t> longLines_;
  mutable std::vector<std::uint32_t> seen_;
  mutable std::uint32_t stamp_ = 0;
  std::atomic<bool> started_{false};
  std::atomic<bool> ready_{false};
  std::atomic<bool> finished_{false};
};

// The game's one set of roads.
WorldRoads& GameRoads();

}  // namespace simhost
