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
  // Every index read before any becomes nodes, so that the node and segment lists are sized once
  // for all of them and the fielddefault, not copied to a larger place for each.
  std::vector<IndexTiles> read;
  for (const std::wstring& index : indexes) {
    IndexTiles tiles;
    if (PathExists(index) && ReadRoadTiles(index, tiles, counts.tiles, counts.skipped)) {
      ++counts.indexesRead;
      read.push_back(std::move(tiles));
    }
  }
  const std::size_t field = indexes.empty() ? 0 : FieldDefaultMaxVertices(indexes.front());
  std::size_t nodes = builder.nodes().size() + field, segments = builder.segments().size() + 2 * field;
  for (const IndexTiles& tiles : read) nodes += tiles.MaxNodes(), segments += tiles.MaxSegments();
  builder.ReserveNodes(nodes);
  builder.ReserveSegments(segments);
  for (IndexTiles& tiles : read) {
    AssembleTileRoads(tiles.vertices, tiles.roads, builder);
    tiles = {};
  }
  // The base game's index comes first, and always: the fielddefault lives only there.
  if (!indexes.empty()) LoadFieldDefault(indexes.front(), builder);
}

}  // namespace pathlight
