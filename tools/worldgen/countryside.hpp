// The synthetic countryside: towns of sidewalk grids, wagon tracks and horse paths between them,
// main and wide roads across the land, written as a game folder. Also the counts the library
// should find in it, from worldgen's own model of what it wrote (whole-metre positions and the
// segments it intends), never from reading the files back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace worldgen {

struct Options {
  std::string out;
  std::uint64_t seed = 1;
  std::int64_t nodes = 2000;
  int dlc = 2;
  bool faults = false;
  std::string samples;  // folder for loose copies of index, tile and fielddefault files
};

struct Expected {
  std::size_t archives = 0;
  int tiles = 0;
  int skipped = 0;
  std::size_t nodes = 0;
  std::size_t segments = 0;
  std::size_t segmentsByType[7] = {};
  std::vector<std::string> unreadableIndexes;
};

// Writes the folder (which must not hold an older world's files) and returns what loading it
// should give.
Expected GenerateWorld(const Options& options);

}  // namespace worldgen
