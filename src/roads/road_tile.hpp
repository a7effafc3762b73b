// Road tiles: the game's "roadlevel_*" files, each holding pieces of the small road networks
// (wagon tracks, horse paths, sidewalks and their connectors) as polylines over vertex ids. The
// tiles of one archive index share one vertex map, so a road may use vertices stored in another
// tile of the same index. Road loader thread only.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "roads/flat_map.hpp"
#include "roads/graph_builder.hpp"

namespace pathlight {

inline constexpr std::uint32_t kRoadFileVersion = 47;

// h = h * 31 + byte over the name's bytes, wrapping at 32 bits.
[[nodiscard]] std::uint32_t LayerNameHash(std::string_view name);
// The road type of a tile layer name; none for every layer that is not a road (names are case
// sensitive: "Sidewalk" is not one).
[[nodiscard]] std::optional<RoadType> LayerRoadType(std::string_view name);

struct TileVertex {
  float x = 0;
  float y = 0;
  float z = 0;
};

[[nodiscard]] inline std::uint64_t TileVertexKey(std::uint32_t layerHash, std::uint32_t vertexId) {
  return (static_cast<std::uint64_t>(layerHash) << 32) | vertexId;
}

// Keyed by TileVertexKey; a later record with the same key replaces the position. The positions
// lie in one array in the order their keys were stored (a tile's vertices side by side), and the
// map gives each key's place in it. A layer's ids are mostly numbers close together, so while they
// span at most twice as many as the layer holds (or as ExpectAtMost allows), a layer finds a place
// by indexing an array with the id; a layer whose ids spread further moves to a hash map.
class TileVertexMap {
 public:
  static constexpr std::uint32_t kMissing = 0xFFFFFFFFu;
  // What ExpectAtMost believes at most: a layer's array of places, before its keys fill it, never
  // passes 64 MB, whatever an index claims.
  static constexpr std::uint64_t kMostExpected = std::uint64_t{8} << 20;

  // Stores (key, vertex), perhaps only at the next Flush, which must come before any other use
  // of the map: the look-ups of a sparse layer's records are started together there.
  void Add(std::uint64_t key, const TileVertex& vertex);
  void Flush();
  // At most this many keys are coming (an index's tile bytes tell): a layer's ids stay in its
  // array while they span at most twice as many (and twice kMostExpected), however they arrive.
  void ExpectAtMost(std::uint64_t keys) { expected_ = std::min(keys, kMostExpected); }
  [[nodiscard]] std::size_t size() const { return positions_.size(); }
  // The key's place in the array, or kMissing.
  [[nodiscard]] std::uint32_t IndexOf(std::uint64_t key) const;
  void Prefetch(std::uint64_t key) const;
  // Whether any layer has gone to the hash map, the only place where Prefetch does anything.
  [[nodiscard]] bool HasSparseLayer() const {
    return std::any_of(layers_.begin(), layers_.end(), [](const Layer& layer) { return layer.sparse; });
  }
  [[nodiscard]] const TileVertex& At(std::uint32_t index) const { return positions_[index]; }
  [[nodiscard]] const TileVertex* Find(std::uint64_t key) const {
    const std::uint32_t index = IndexOf(key);
    return index == kMissing ? nullptr : &positions_[index];
  }

 private:
  struct Layer {
    std::uint32_t hash = 0;
    bool sparse = false;                // its keys are in index_
    std::uint32_t base = 0;             // the id of places[0]
    std::vector<std::uint32_t> places;  // id - base -> place, or kMissing
    std::uint64_t stored = 0;           // keys with a place in places
  };
  struct Pending {
    std::uint64_t key;
    TileVertex vertex;
  };
  [[nodiscard]] const Layer* FindLayer(std::uint32_t hash) const;
  Layer& LayerFor(std::uint32_t hash);
  // Room in the layer's array for id, if the layer stays dense; false when it has to go sparse.
  bool MakeRoom(Layer& layer, std::uint32_t id) const;
  void MakeSparse(Layer& layer);
  void Store(std::uint32_t& place, const TileVertex& vertex);

  std::vector<Layer> layers_;
  std::size_t lastLayer_ = 0;
  std::uint64_t expected_ = 0;
  FlatMap64<std::uint32_t> index_;
  std::vector<TileVertex> positions_;
  std::vector<Pending> pending_;
};

// A vertex only becomes a node when its position is believable: finite, and on the ground within
// kMaxGroundCoordinate. Any other vertex counts as missing, and the roads through it are dropped.
[[nodiscard]] bool IsUsableTileVertex(const TileVertex& vertex);

// The roads of one archive index, their vertex ids in one flat list so that millions of short
// roads do not cost an allocation each.
class TileRoadList {
 public:
  struct Road {
    std::uint32_t layerHash;
    RoadType type;
    std::uint32_t firstId;  // into ids()
    std::uint32_t idCount;
  };

  void Add(std::uint32_t layerHash, RoadType type, std::span<const std::uint32_t> ids);
  // A road of idCount ids whose ids the caller then writes in place, idCount of them from the
  // returned pointer (valid until the next Add or Begin).
  std::uint32_t* Begin(std::uint32_t layerHash, RoadType type, std::uint32_t idCount);
  // Back to an earlier size(), dropping what a failed tile added.
  void Truncate(std::size_t size);
  [[nodiscard]] std::size_t size() const { return roads_.size(); }
  [[nodiscard]] const std::vector<Road>& roads() const { return roads_; }
  [[nodiscard]] std::span<const std::uint32_t> Ids(const Road& road) const {
    return {ids_.data() + road.firstId, road.idCount};
  }
  // Every road's ids, one road after the other.
  [[nodiscard]] std::size_t IdCount() const { return ids_.size(); }

 private:
  std::vector<Road> roads_;
  std::vector<std::uint32_t> ids_;
};

// Adds one tile's typed vertices to the map and its typed roads to the list. Raises
// std::runtime_error "truncated", "version" or "chunk size mismatch"; what it added before the
// error stays for the caller to roll back.
void ParseRoadTile(std::span<const std::byte> tile, TileVertexMap& vertices, TileRoadList& roads);

// Turns one index's roads into nodes and segments: a road with a missing (or unusable) vertex is
// dropped; consecutive vertices on the same node give no segment.
void AssembleTileRoads(const TileVertexMap& vertices, const TileRoadList& roads, GraphBuilder& builder);

// One archive index's road tiles, read and not yet made into nodes and segments.
struct IndexTiles {
  TileVertexMap vertices;
  TileRoadList roads;

  // At most this many nodes and segments come from them.
  [[nodiscard]] std::size_t MaxNodes() const { return vertices.size(); }
  [[nodiscard]] std::size_t MaxSegments() const { return roads.IdCount() - roads.size(); }
};

// Every tile of one archive index, read. Counts parsed tiles and skipped ones (packed, short, of
// another version, malformed: not logged); an unreadable index (empty, cut short or malformed)
// logs one line and gives false.
bool ReadRoadTiles(const std::wstring& indexPath, IndexTiles& read, int& tiles, int& skipped);

// ReadRoadTiles, then the tiles into the builder.
bool LoadRoadTiles(const std::wstring& indexPath, GraphBuilder& builder, int& tiles, int& skipped);

}  // namespace pathlight
