#include "roads/road_files.hpp"

#include <vector>

#include "roads/archive.hpp"
#include "roads/field_default.hpp"
#include "roads/game_files.hpp"
#include "roads/road_tile.hpp"

namespace pathlight {

void ReadRoadFiles(const std::wstring& gameFolder, GraphBuilder& builder, RoadFileCounts& counts) {
  const std::vector<std::wstring> indexes = FindArchiveIndexes(gameFolder);
  counts.archives += indexes.size();
  for (const std::wstring& index : indexes) {
    if (PathExists(index) && LoadRoadTiles(index, builder, counts.tiles, counts.skipped)) ++counts.indexesRead;
  }
  // The base game's index comes first, and always: the fielddefault lives only there.
  if (!indexes.empty()) LoadFieldDefault(indexes.front(), builder);
}

}  // namespace pathlight
