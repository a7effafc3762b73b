// Every road a game folder's files hold, read into one builder: each archive index's road tiles,
// then the base game's fielddefault. The one reading loop of the library's road loader and of the
// simulated game's own maps. Road loader thread (or the caller's) only.
#pragma once

#include <cstddef>
#include <string>

#include "roads/graph_builder.hpp"

namespace pathlight {

struct RoadFileCounts {
  std::size_t archives = 0;     // index paths looked for, existing or not
  std::size_t indexesRead = 0;  // of those, the ones that exist and could be read
  int tiles = 0;
  int skipped = 0;
};

// Adds to the counts; logs what LoadRoadTiles and LoadFieldDefault log, nothing of its own.
void ReadRoadFiles(const std::wstring& gameFolder, GraphBuilder& builder, RoadFileCounts& counts);

}  // namespace pathlight
