#include "roads/road_tile.hpp"

#include <cmath>
#include <stdexcept>

#include "platform/log.hpp"
#include "roads/archive.hpp"
#include "roads/byte_reader.hpp"
#include "roads/game_files.hpp"

namespace pathlight {

namespace {

constexpr int kChunkCount = 16;
constexpr std::uint64_t kEdgeRecordFixedBytes = 43;  // 38 before the inner ids, 5 after
constexpr std::uint64_t kVertexRecordFixedBytes = 28;
constexpr std::string_view kTilePrefix = "roadlevel_";

}  // namespace

std::uint32_t LayerNameHash(std::string_view name) {
  std::uint32_t hash = 0;
  for (const char c : name) hash = hash * 31u + static_cast<unsigned char>(c);
  return hash;
}

std::optional<RoadType> LayerRoadType(std::string_view name) {
  if (name == "smallwagon") return RoadType::Wagon;
  if (name == "horsesidewalk") return RoadType::Horse;
  if (name == "sidewalk") return RoadType::Sidewalk;
  if (name == "tosidewalk") return RoadType::ToSidewalk;
  return std::nullopt;
}

bool IsUsableTileVertex(const TileVertex& v) {
  return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z) && std::fabs(v.x) < kMaxGroundCoordinate &&
         std::fabs(v.z) < kMaxGroundCoordinate;
}

void TileRoadList::Add(std::uint32_t layerHash, RoadType type, std::span<const std::uint32_t> ids) {
  roads_.push_back({layerHash, type, static_cast<std::uint32_t>(ids_.size()), static_cast<std::uint32_t>(ids.size())});
  ids_.insert(ids_.end(), ids.begin(), ids.end());
}

void TileRoadList::Truncate(std::size_t size) {
  if (size >= roads_.size()) return;
  ids_.resize(roads_[size].firstId);
  roads_.resize(size);
}

void ParseRoadTile(std::span<const std::byte> tile, TileVertexMap& vertices, TileRoadList& roads) {
  const ByteReader reader(tile);
  if (reader.size() < 4) throw std::runtime_error("truncated");
  if (reader.U32(0) != kRoadFileVersion) throw std::runtime_error("version");
  if (reader.size() < 16) throw std::runtime_error("truncated");

  std::vector<std::uint32_t> ids;
  std::uint64_t pos = reader.U32(12);
  for (int j = 0; j < kChunkCount; ++j) {
    const std::uint64_t chunkEnd = pos + reader.U32(16 + 8 * static_cast<std::uint64_t>(j));
    const std::uint32_t layerCount = reader.U32(pos);
    pos += 4;
    for (std::uint32_t layer = 0; layer < layerCount; ++layer) {
      const std::uint32_t nameLength = reader.U32(pos);
      const std::string_view name = reader.Text(pos + 4, nameLength);
      pos += 4 + static_cast<std::uint64_t>(nameLength);
      const std::optional<RoadType> type = LayerRoadType(name);
      const std::uint32_t hash = LayerNameHash(name);

      const std::uint32_t edgeCount = reader.U32(pos);
      pos += 4;
      for (std::uint32_t e = 0; e < edgeCount; ++e) {
        const std::uint64_t inner = reader.U32(pos + 34);
        if (type) {
          reader.Require(pos + 38, 4 * inner);
          ids.clear();
          ids.push_back(reader.U32(pos + 26));
          for (std::uint64_t i = 0; i < inner; ++i) ids.push_back(reader.U32(pos + 38 + 4 * i));
          ids.push_back(reader.U32(pos + 30));
          roads.Add(hash, *type, ids);
        }
        pos += kEdgeRecordFixedBytes + 4 * inner;
      }

      const std::uint32_t vertexCount = reader.U32(pos);
      pos += 4;
      for (std::uint32_t v = 0; v < vertexCount; ++v) {
        reader.Require(pos, kVertexRecordFixedBytes);
        if (type)
          vertices[TileVertexKey(hash, reader.U32(pos))] = {reader.F32(pos + 4), reader.F32(pos + 8),
                                                            reader.F32(pos + 12)};
        pos += kVertexRecordFixedBytes + 4 * static_cast<std::uint64_t>(reader.U32(pos + 24));
      }
    }
    if (pos != chunkEnd) throw std::runtime_error("chunk size mismatch");
  }
}

void AssembleTileRoads(const TileVertexMap& vertices, const TileRoadList& roads, GraphBuilder& builder) {
  builder.ReserveNodes(builder.nodes().size() + vertices.size());
  std::vector<const TileVertex*> path;
  for (const TileRoadList::Road& road : roads.roads()) {
    path.clear();
    for (const std::uint32_t id : roads.Ids(road)) {
      const TileVertex* vertex = vertices.Find(TileVertexKey(road.layerHash, id));
      if (vertex == nullptr || !IsUsableTileVertex(*vertex)) break;
      path.push_back(vertex);
    }
    if (path.size() != road.idCount) continue;
    std::int32_t previous = -1;
    for (const TileVertex* vertex : path) {
      const std::int32_t node = builder.NodeForPosition(vertex->x, vertex->y, vertex->z);
      if (previous >= 0 && previous != node) builder.AddSegment(previous, node, road.type);
      previous = node;
    }
  }
}

bool LoadRoadTiles(const std::wstring& indexPath, GraphBuilder& builder, int& tiles, int& skipped) {
  // The caller saw the index exist: one that reads as no bytes is as unreadable as a cut one.
  if (ReadFileBytes(indexPath, 0, 1).empty()) {
    Log("Roads: index %ls unreadable (empty)", indexPath.c_str());
    return false;
  }
  std::vector<ArchiveEntry> entries;
  try {
    entries = ListArchiveFolder(indexPath, "road/rootlevel/roadlevel");
  } catch (const std::runtime_error& error) {
    Log("Roads: index %ls unreadable (%s)", indexPath.c_str(), error.what());
    return false;
  }
  TileVertexMap vertices;
  TileRoadList roads;
  for (const ArchiveEntry& entry : entries) {
    if (entry.name.size() < kTilePrefix.size() || entry.name.compare(0, kTilePrefix.size(), kTilePrefix) != 0) continue;
    // Packed tiles are never unpacked: no road tile of the game is known to be packed.
    if (entry.compressionKind != 0 || entry.storedSize != entry.unpackedSize) {
      ++skipped;
      continue;
    }
    const std::vector<std::byte> bytes = ReadEntryBytes(entry.archivePath, entry.offset, entry.storedSize);
    if (bytes.size() != entry.storedSize) {
      ++skipped;
      continue;
    }
    const std::size_t mark = roads.size();
    try {
      ParseRoadTile(bytes, vertices, roads);
      ++tiles;
    } catch (const std::runtime_error&) {
      // The tile's roads go; the positions it stored stay, as later tiles may name them.
      roads.Truncate(mark);
      ++skipped;
    }
  }
  AssembleTileRoads(vertices, roads, builder);
  return true;
}

}  // namespace pathlight
