#include "roads/road_tile.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
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
// Look-ups in the vertex and node maps are started this many records or roads ahead: the maps are
// far larger than the caches, and the hash spreads a tile's keys over all of them.
constexpr std::size_t kAhead = 8;

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

namespace {

// A dense layer's array spans at most twice its keys, and this many slots more.
constexpr std::uint64_t kDenseSlack = 4096;

}  // namespace

const TileVertexMap::Layer* TileVertexMap::FindLayer(std::uint32_t hash) const {
  // A handful of layers at most: the road layers' names are few.
  for (const Layer& layer : layers_) {
    if (layer.hash == hash) return &layer;
  }
  return nullptr;
}

TileVertexMap::Layer& TileVertexMap::LayerFor(std::uint32_t hash) {
  if (lastLayer_ < layers_.size() && layers_[lastLayer_].hash == hash) return layers_[lastLayer_];
  for (lastLayer_ = 0; lastLayer_ < layers_.size(); ++lastLayer_) {
    if (layers_[lastLayer_].hash == hash) return layers_[lastLayer_];
  }
  layers_.push_back({});
  layers_.back().hash = hash;
  return layers_.back();
}

bool TileVertexMap::MakeRoom(Layer& layer, std::uint32_t id) const {
  if (layer.places.empty()) {
    layer.base = id;
    layer.places.assign(1, kMissing);
    return true;
  }
  const std::uint64_t end = std::uint64_t{layer.base} + layer.places.size();
  if (id >= layer.base && id < end) return true;
  const std::uint64_t low = std::min<std::uint64_t>(layer.base, id), high = std::max<std::uint64_t>(end, id + 1ull);
  if (high - low > 2 * std::max(layer.stored + 1, expected_) + kDenseSlack) return false;
  if (id >= end) {
    layer.places.resize(static_cast<std::size_t>(high - layer.base), kMissing);  // grows by doubling
    return true;
  }
  // Downwards by at least the array's length once more, so that falling ids move it rarely.
  const std::uint32_t newBase = id - std::min<std::uint32_t>(id, static_cast<std::uint32_t>(layer.places.size()));
  layer.places.insert(layer.places.begin(), layer.base - newBase, kMissing);
  layer.base = newBase;
  return true;
}

void TileVertexMap::MakeSparse(Layer& layer) {
  index_.Reserve(index_.size() + layer.stored);
  for (std::size_t i = 0; i < layer.places.size(); ++i) {
    if (layer.places[i] != kMissing)
      index_.TryEmplace(TileVertexKey(layer.hash, layer.base + static_cast<std::uint32_t>(i)), layer.places[i]);
  }
  layer.sparse = true;
  std::vector<std::uint32_t>().swap(layer.places);
}

void TileVertexMap::Store(std::uint32_t& place, const TileVertex& vertex) {
  if (place == kMissing) {
    place = static_cast<std::uint32_t>(positions_.size());
    positions_.push_back(vertex);
  } else {
    positions_[place] = vertex;
  }
}

void TileVertexMap::Add(std::uint64_t key, const TileVertex& vertex) {
  Layer& layer = LayerFor(static_cast<std::uint32_t>(key >> 32));
  const auto id = static_cast<std::uint32_t>(key);
  if (!layer.sparse && !MakeRoom(layer, id)) MakeSparse(layer);
  if (layer.sparse) {
    pending_.push_back({key, vertex});
    return;
  }
  std::uint32_t& place = layer.places[id - layer.base];
  layer.stored += place == kMissing ? 1 : 0;
  Store(place, vertex);
}

std::uint32_t TileVertexMap::IndexOf(std::uint64_t key) const {
  const Layer* layer = FindLayer(static_cast<std::uint32_t>(key >> 32));
  if (layer == nullptr) return kMissing;
  if (layer->sparse) {
    const std::uint32_t* index = index_.Find(key);
    return index == nullptr ? kMissing : *index;
  }
  const std::uint64_t slot = std::uint64_t{static_cast<std::uint32_t>(key)} - layer->base;
  return slot < layer->places.size() ? layer->places[static_cast<std::size_t>(slot)] : kMissing;
}

void TileVertexMap::Prefetch(std::uint64_t key) const {
  const Layer* layer = FindLayer(static_cast<std::uint32_t>(key >> 32));
  // A dense layer's look-ups walk its array nearly in order, which the processor follows alone.
  if (layer != nullptr && layer->sparse) index_.Prefetch(key);
}

void TileVertexMap::Flush() {
  // Room for them all at once: an index's records are flushed together, and growing the table
  // step by step would move every entry once more per doubling.
  index_.Reserve(index_.size() + pending_.size());
  for (std::size_t i = 0; i < pending_.size(); ++i) {
    if (i + kAhead < pending_.size()) index_.Prefetch(pending_[i + kAhead].key);
    std::uint32_t& place = *index_.TryEmplace(pending_[i].key, kMissing).first;
    Store(place, pending_[i].vertex);
  }
  // Released, not kept: an index's records are many, and the roads are assembled next.
  std::vector<Pending>().swap(pending_);
}

void TileRoadList::Add(std::uint32_t layerHash, RoadType type, std::span<const std::uint32_t> ids) {
  roads_.push_back({layerHash, type, static_cast<std::uint32_t>(ids_.size()), static_cast<std::uint32_t>(ids.size())});
  ids_.insert(ids_.end(), ids.begin(), ids.end());
}

std::uint32_t* TileRoadList::Begin(std::uint32_t layerHash, RoadType type, std::uint32_t idCount) {
  const std::size_t first = ids_.size();
  roads_.push_back({layerHash, type, static_cast<std::uint32_t>(first), idCount});
  ids_.resize(first + idCount);
  return ids_.data() + first;
}

void TileRoadList::Truncate(std::size_t size) {
  if (size >= roads_.size()) return;
  ids_.resize(roads_[size].firstId);
  roads_.resize(size);
}

namespace {

void ParseTileRecords(std::span<const std::byte> tile, TileVertexMap& vertices, TileRoadList& roads) {
  const ByteReader reader(tile);
  if (reader.size() < 4) throw std::runtime_error("truncated");
  if (reader.U32(0) != kRoadFileVersion) throw std::runtime_error("version");
  if (reader.size() < 16) throw std::runtime_error("truncated");

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
          const std::byte* innerIds = reader.At(pos + 38, 4 * inner);
          std::uint32_t* ids = roads.Begin(hash, *type, static_cast<std::uint32_t>(inner + 2));
          ids[0] = reader.U32(pos + 26);
          std::memcpy(ids + 1, innerIds, 4 * inner);
          ids[inner + 1] = reader.U32(pos + 30);
        }
        pos += kEdgeRecordFixedBytes + 4 * inner;
      }

      const std::uint32_t vertexCount = reader.U32(pos);
      pos += 4;
      for (std::uint32_t v = 0; v < vertexCount; ++v) {
        reader.Require(pos, kVertexRecordFixedBytes);
        if (type)
          vertices.Add(TileVertexKey(hash, reader.U32(pos)),
                       {reader.F32(pos + 4), reader.F32(pos + 8), reader.F32(pos + 12)});
        pos += kVertexRecordFixedBytes + 4 * static_cast<std::uint64_t>(reader.U32(pos + 24));
      }
    }
    if (pos != chunkEnd) throw std::runtime_error("chunk size mismatch");
  }
}

}  // namespace

void ParseRoadTile(std::span<const std::byte> tile, TileVertexMap& vertices, TileRoadList& roads) {
  try {
    ParseTileRecords(tile, vertices, roads);
  } catch (const std::runtime_error&) {
    vertices.Flush();  // what the tile stored before the error stays
    throw;
  }
  vertices.Flush();
}

void AssembleTileRoads(const TileVertexMap& vertices, const TileRoadList& roads, GraphBuilder& builder) {
  builder.ReserveNodes(builder.nodes().size() + vertices.size());
  // A road of n vertices gives at most n - 1 segments.
  builder.ReserveSegments(builder.segments().size() + roads.IdCount() - roads.size());
  const std::vector<TileRoadList::Road>& list = roads.roads();

  // A vertex's node once the first road through it asked: -1 not yet, -2 unusable. Nodes are made
  // in the order roads first reach them, as one NodeForPosition call per road vertex would.
  constexpr std::int32_t kNotAsked = -1, kUnusable = -2;
  std::vector<std::int32_t> nodeOf(vertices.size(), kNotAsked);
  const auto usable = [&](std::uint32_t place) {
    if (place == TileVertexMap::kMissing) return false;
    if (nodeOf[place] == kNotAsked && !IsUsableTileVertex(vertices.At(place))) nodeOf[place] = kUnusable;
    return nodeOf[place] != kUnusable;
  };
  std::vector<std::uint32_t> places;  // the road's ids to their vertices' places, or kMissing
  const bool prefetch = vertices.HasSparseLayer();
  for (std::size_t r = 0; r < list.size(); ++r) {
    if (prefetch && r + kAhead < list.size()) {
      for (const std::uint32_t id : roads.Ids(list[r + kAhead]))
        vertices.Prefetch(TileVertexKey(list[r + kAhead].layerHash, id));
    }
    const TileRoadList::Road& road = list[r];
    places.clear();
    for (const std::uint32_t id : roads.Ids(road))
      places.push_back(vertices.IndexOf(TileVertexKey(road.layerHash, id)));
    if (!std::all_of(places.begin(), places.end(), usable)) continue;
    std::int32_t previous = -1;
    for (const std::uint32_t* place = places.data(); place != places.data() + places.size(); ++place) {
      if (nodeOf[*place] == kNotAsked) {
        const TileVertex& vertex = vertices.At(*place);
        nodeOf[*place] = builder.NodeForPosition(vertex.x, vertex.y, vertex.z);
      }
      const std::int32_t node = nodeOf[*place];
      if (previous >= 0 && previous != node) builder.AddSegment(previous, node, road.type);
      previous = node;
    }
  }
}

bool ReadRoadTiles(const std::wstring& indexPath, IndexTiles& read, int& tiles, int& skipped) {
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
  const auto isTile = [](const ArchiveEntry& entry) {
    return entry.name.size() >= kTilePrefix.size() && entry.name.compare(0, kTilePrefix.size(), kTilePrefix) == 0;
  };
  // Packed tiles are never unpacked: no road tile of the game is known to be packed.
  const auto isStored = [](const ArchiveEntry& entry) {
    return entry.compressionKind == 0 && entry.storedSize == entry.unpackedSize;
  };
  ArchiveReader archive;
  // The bytes the tiles' reads will give, not the sizes the index claims.
  std::uint64_t tileBytes = 0;
  for (const ArchiveEntry& entry : entries) {
    if (isTile(entry) && isStored(entry)) tileBytes += archive.ReadableBytes(entry);
  }
  TileVertexMap& vertices = read.vertices;
  vertices.ExpectAtMost(tileBytes / kVertexRecordFixedBytes);
  TileRoadList& roads = read.roads;
  std::vector<std::byte> bytes;
  for (const ArchiveEntry& entry : entries) {
    if (!isTile(entry)) continue;
    if (!isStored(entry)) {
      ++skipped;
      continue;
    }
    archive.Read(entry, bytes);
    if (bytes.size() != entry.storedSize) {
      ++skipped;
      continue;
    }
    const std::size_t mark = roads.size();
    try {
      // The index's vertex records are stored together once every tile is read.
      ParseTileRecords(bytes, vertices, roads);
      ++tiles;
    } catch (const std::runtime_error&) {
      // The tile's roads go; the positions it stored stay, as later tiles may name them.
      roads.Truncate(mark);
      ++skipped;
    }
  }
  vertices.Flush();
  return true;
}

bool LoadRoadTiles(const std::wstring& indexPath, GraphBuilder& builder, int& tiles, int& skipped) {
  IndexTiles read;
  if (!ReadRoadTiles(indexPath, read, tiles, skipped)) return false;
  AssembleTileRoads(read.vertices, read.roads, builder);
  return true;
}

}  // namespace pathlight
