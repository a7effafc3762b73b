// Sections: random numbers and the intended model; the road layout (towns, tracks, main and wide
// roads with their junctions); tiles; archives and indexes; the odd files and the faults.
#include "countryside.hpp"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <unordered_map>
#include <unordered_set>

#include "formats.hpp"
#include "terrain.hpp"

namespace worldgen {

namespace fs = std::filesystem;

namespace {

enum Type { kMain, kWide, kWagon, kHorse, kSidewalk, kToSidewalk, kLink };
const char* const kLayerNames[] = {"", "", "smallwagon", "horsesidewalk", "sidewalk", "tosidewalk"};

constexpr int kTownSpacing = 1000;
constexpr int kBlock = 40;
constexpr int kStreetStep = 10;
constexpr int kTrackStep = 12;
constexpr int kFieldStep = 30;
constexpr int kTileSize = 512;
constexpr int kFieldPieceVertices = 12;
// Junction rule margins in whole metres: written positions are off by at most 0.3 m per axis, so
// 7 m apart stays above the loader's 6 m and 3 m apart stays below it.
constexpr int kNoLinkDistance = 7;
constexpr int kLinkDistance = 3;
constexpr std::size_t kArchiveBytes = 8u << 20;
constexpr int kArchiveFiles = 20;

struct P {
  std::int32_t x, z;
  bool operator==(const P&) const = default;
};
std::uint64_t Key(P p) {
  return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(p.x)) << 32) | static_cast<std::uint32_t>(p.z);
}
std::int64_t Dist2(P a, P b) {
  const std::int64_t dx = a.x - b.x, dz = a.z - b.z;
  return dx * dx + dz * dz;
}

class Rng {
 public:
  explicit Rng(std::uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 0x1234567) {}
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  double Uniform() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }
  int Int(int lo, int hi) { return lo + static_cast<int>(Next() % static_cast<std::uint64_t>(hi - lo + 1)); }

 private:
  std::uint64_t state_;
};

struct Polyline {
  Type type;
  std::vector<P> points;
};

// What the library should find: one node per whole-metre position, one segment per pair of
// consecutive distinct positions of a road, one per junction.
class Model {
 public:
  void AddRoad(const Polyline& road) {
    for (std::size_t i = 0; i < road.points.size(); ++i) {
      nodes_.insert(Key(road.points[i]));
      if (i > 0 && !(road.points[i] == road.points[i - 1])) ++segments_[road.type];
    }
  }
  void AddLink() { ++segments_[kLink]; }
  void Fill(Expected& e) const {
    e.nodes = nodes_.size();
    e.segments = 0;
    for (int t = 0; t < 7; ++t) {
      e.segmentsByType[t] = segments_[t];
      e.segments += segments_[t];
    }
  }

 private:
  std::unordered_set<std::uint64_t> nodes_;
  std::size_t segments_[7] = {};
};

// Whole-metre tile node positions, for keeping field roads clear of them except at junctions.
class NodeCells {
 public:
  void Add(P p) { cells_[Cell(p)].push_back(p); }
  // Tile nodes closer than `distance` to p.
  std::vector<P> Near(P p, int distance) const {
    std::vector<P> found;
    const P c = {FloorDiv(p.x, kCell), FloorDiv(p.z, kCell)};
    for (int dx = -1; dx <= 1; ++dx) {
      for (int dz = -1; dz <= 1; ++dz) {
        const auto it = cells_.find(Key({c.x + dx, c.z + dz}));
        if (it == cells_.end()) continue;
        for (const P& q : it->second) {
          if (Dist2(p, q) < static_cast<std::int64_t>(distance) * distance) found.push_back(q);
        }
      }
    }
    return found;
  }

 private:
  static constexpr int kCell = 16;
  static std::int32_t FloorDiv(std::int32_t v, std::int32_t d) { return v >= 0 ? v / d : -((-v + d - 1) / d); }
  static std::uint64_t Cell(P p) { return Key({FloorDiv(p.x, kCell), FloorDiv(p.z, kCell)}); }
  std::unordered_map<std::uint64_t, std::vector<P>> cells_;
};

void AppendLine(std::vector<P>& points, P from, P to, int step, double wobble, double waves) {
  const double dx = to.x - from.x, dz = to.z - from.z;
  const double length = std::hypot(dx, dz);
  const int count = std::max(1, static_cast<int>(std::round(length / step)));
  for (int i = points.empty() ? 0 : 1; i <= count; ++i) {
    const double t = static_cast<double>(i) / count;
    const double side = wobble * std::sin(t * waves * 3.14159265358979);
    const P p = {static_cast<std::int32_t>(std::lround(from.x + dx * t - dz / length * side)),
                 static_cast<std::int32_t>(std::lround(from.z + dz * t + dx / length * side))};
    if (points.empty() || !(points.back() == p)) points.push_back(p);
  }
}

// ---- the layout -------------------------------------------------------------------------------

struct Layout {
  std::vector<Polyline> tileRoads;
  std::vector<Polyline> fieldRoads;              // kMain or kWide
  std::vector<std::vector<bool>> fieldJunction;  // per field road vertex: placed 3 m from a tile node
};

Layout MakeLayout(const Options& options, Rng& rng) {
  // About 300 nodes per town with its tracks at four blocks a side; small worlds shrink the town.
  const std::int64_t perTown = 300;
  const int side = static_cast<int>(std::max<std::int64_t>(
      1, static_cast<std::int64_t>(std::ceil(std::sqrt(static_cast<double>(options.nodes) / perTown)))));
  const int blocks = options.nodes < 60 ? 1 : options.nodes < 200 ? 2 : 4;
  const int half = blocks * kBlock / 2;
  const int origin = -side * kTownSpacing / 2;

  std::vector<std::vector<P>> towns(static_cast<std::size_t>(side), std::vector<P>(static_cast<std::size_t>(side)));
  for (int i = 0; i < side; ++i) {
    for (int j = 0; j < side; ++j) {
      towns[i][j] = {origin + i * kTownSpacing + rng.Int(-150, 150), origin + j * kTownSpacing + rng.Int(-150, 150)};
    }
  }

  Layout layout;
  for (int i = 0; i < side; ++i) {
    for (int j = 0; j < side; ++j) {
      const P c = towns[i][j];
      // Streets: a grid of sidewalks, the crossings shared by the two streets.
      for (int k = 0; k <= blocks; ++k) {
        Polyline across{kSidewalk, {}}, down{kSidewalk, {}};
        AppendLine(across.points, {c.x - half, c.z - half + k * kBlock}, {c.x + half, c.z - half + k * kBlock},
                   kStreetStep, 0, 0);
        AppendLine(down.points, {c.x - half + k * kBlock, c.z - half}, {c.x - half + k * kBlock, c.z + half},
                   kStreetStep, 0, 0);
        layout.tileRoads.push_back(across);
        layout.tileRoads.push_back(down);
      }
      // Paths from the corners to the sidewalks of the houses.
      for (const int sx : {-1, 1}) {
        for (const int sz : {-1, 1}) {
          const P corner = {c.x + sx * half, c.z + sz * half};
          layout.tileRoads.push_back(
              {kToSidewalk,
               {corner, {corner.x + sx * 7, corner.z + sz * 7}, {corner.x + sx * 14, corner.z + sz * 14}}});
        }
      }
      const int middle = (blocks / 2) * kBlock - half;
      if (i + 1 < side) {
        const P d = towns[i + 1][j];
        Polyline track{kWagon, {}};
        AppendLine(track.points, {c.x + half, c.z + middle}, {d.x - half, d.z + middle}, kTrackStep, rng.Int(-40, 40),
                   1 + rng.Int(0, 1));
        layout.tileRoads.push_back(track);
      }
      if (j + 1 < side) {
        const P d = towns[i][j + 1];
        Polyline path{kHorse, {}};
        AppendLine(path.points, {c.x + middle, c.z + half}, {d.x + middle, d.z - half}, kTrackStep, rng.Int(-60, 60),
                   2);
        layout.tileRoads.push_back(path);
      }
    }
  }

  NodeCells tileNodes;
  for (const Polyline& road : layout.tileRoads) {
    for (const P& p : road.points) tileNodes.Add(p);
  }
  // Main roads run east-west between rows of towns, wide roads north-south between columns; both
  // straight, so each edge's spanning tree is its chain. Where one crosses a track, the vertex
  // nearest the crossing is set 3 m beside a track node (a junction) and vertices that would come
  // within 7 m of a tile node otherwise are left out.
  auto addFieldRoad = [&](Type type, P from, P to) {
    std::vector<P> line;
    AppendLine(line, from, to, kFieldStep, 0, 0);
    Polyline road{type, {}};
    std::vector<bool> junction;
    for (const P& v : line) {
      const std::vector<P> near = tileNodes.Near(v, kNoLinkDistance);
      if (near.empty()) {
        road.points.push_back(v);
        junction.push_back(false);
        continue;
      }
      const P target = *std::min_element(near.begin(), near.end(), [&](P a, P b) { return Dist2(a, v) < Dist2(b, v); });
      const bool eastWest = from.z == to.z;
      const P offsets[] = {eastWest ? P{0, kLinkDistance} : P{kLinkDistance, 0},
                           eastWest ? P{0, -kLinkDistance} : P{-kLinkDistance, 0}};
      bool placed = false;
      for (const P& o : offsets) {
        const P moved = {target.x + o.x, target.z + o.z};
        const std::vector<P> around = tileNodes.Near(moved, kNoLinkDistance);
        if (around.size() == 1 && around[0] == target) {
          road.points.push_back(moved);
          junction.push_back(true);
          placed = true;
          break;
        }
      }
      (void)placed;
    }
    if (road.points.size() >= 2) {
      layout.fieldRoads.push_back(road);
      layout.fieldJunction.push_back(junction);
    }
  };
  const int west = origin - kTownSpacing / 2, east = origin + side * kTownSpacing - kTownSpacing / 2;
  for (int j = 0; j < side; j += 2) {
    const int z = origin + j * kTownSpacing + kTownSpacing / 2;
    addFieldRoad(kMain, {west, z}, {east, z});
  }
  for (int i = 0; i < side; i += 3) {
    const int x = origin + i * kTownSpacing + kTownSpacing / 2;
    addFieldRoad(kWide, {x, west}, {x, east});
  }
  return layout;
}

// ---- tiles ---------------------------------------------------------------------------------------

struct TileData {
  int index = 0;
  std::map<std::string, TileLayer> layers;  // typed layers by name
};

float Height(double x, double z) { return TerrainHeight(x, z); }

class TileWriter {
 public:
  TileWriter(Rng& rng, int indexCount, std::uint64_t seed) : rng_(rng), indexCount_(indexCount), seed_(seed) {}

  int IndexOfTile(std::uint64_t tile) const {
    if (indexCount_ == 1) return 0;
    const std::uint64_t h = (tile ^ seed_) * 0x9E3779B97F4A7C15ull >> 40;
    const int pick = static_cast<int>(h % 12);
    return pick < indexCount_ - 1 ? pick + 1 : 0;  // most tiles in the base game
  }

  // Splits the road into one piece per run of vertices in one tile; a piece starts with the last
  // vertex of the run before it, by the same vertex id when both tiles are in one index (half the
  // time) and otherwise by a vertex of its own at the same whole-metre position.
  void AddRoad(const Polyline& road) {
    const std::string layer = kLayerNames[road.type];
    std::size_t start = 0;
    std::int64_t carryId = -1;
    std::uint64_t carryTile = 0;
    while (start < road.points.size()) {
      const std::uint64_t tile = TileOf(road.points[start]);
      std::size_t end = start;
      while (end + 1 < road.points.size() && TileOf(road.points[end + 1]) == tile) ++end;
      TileData& data = Tile(tile);
      std::vector<std::uint32_t> ids;
      if (start > 0) {
        if (carryId >= 0 && Tile(carryTile).index == data.index && rng_.Uniform() < 0.5) {
          ids.push_back(static_cast<std::uint32_t>(carryId));
        } else {
          ids.push_back(NewVertex(data, layer, road.points[start - 1]));
        }
      }
      for (std::size_t i = start; i <= end; ++i) ids.push_back(NewVertex(data, layer, road.points[i]));
      if (ids.size() >= 2) PutTileEdge(data.layers[layer], ids, static_cast<std::uint32_t>(rng_.Int(0, 15)));
      carryId = ids.back();
      carryTile = tile;
      start = end + 1;
    }
  }

  std::map<std::uint64_t, TileData>& tiles() { return tiles_; }

 private:
  static std::uint64_t TileOf(P p) {
    const auto tx = static_cast<std::int32_t>(std::floor(static_cast<double>(p.x) / kTileSize));
    const auto tz = static_cast<std::int32_t>(std::floor(static_cast<double>(p.z) / kTileSize));
    return Key({tx, tz});
  }
  TileData& Tile(std::uint64_t tile) {
    auto it = tiles_.find(tile);
    if (it == tiles_.end()) {
      it = tiles_.emplace(tile, TileData{}).first;
      it->second.index = IndexOfTile(tile);
    }
    return it->second;
  }
  std::uint32_t NewVertex(TileData& data, const std::string& layer, P p) {
    const std::uint32_t id = nextIds_[{data.index, layer}]++;
    // Off the whole metre by up to 0.3 m, so every vertex of a node has its own raw position.
    const float x = static_cast<float>(p.x + (rng_.Uniform() - 0.5) * 0.6);
    const float z = static_cast<float>(p.z + (rng_.Uniform() - 0.5) * 0.6);
    PutTileVertex(data.layers[layer], id, x, Height(x, z), z, static_cast<std::uint32_t>(rng_.Int(0, 2)));
    return id;
  }

  Rng& rng_;
  int indexCount_;
  std::uint64_t seed_;
  std::map<std::uint64_t, TileData> tiles_;
  std::map<std::pair<int, std::string>, std::uint32_t> nextIds_;
};

// Lays a tile's layers out in its 16 chunks, with layers that are not roads beside them.
Bytes TileBytes(const TileData& data, std::uint64_t tileKey, Rng& rng) {
  TileChunks chunks;
  int j = static_cast<int>(tileKey % 16);
  for (const auto& [name, typed] : data.layers) {
    TileLayer layer = typed;
    layer.name = name;
    if (rng.Uniform() < 0.5 && layer.edgeCount > 0 && layer.vertexCount > 0) {
      // The same layer twice: its edges in one chunk, its vertices in a later one.
      TileLayer edges = layer, vertices = layer;
      edges.vertexCount = 0;
      edges.vertices.clear();
      vertices.edgeCount = 0;
      vertices.edges.clear();
      chunks.chunks[j].push_back(edges);
      chunks.chunks[(j + 5) % 16].push_back(vertices);
    } else {
      chunks.chunks[j].push_back(layer);
    }
    j = (j + 3) % 16;
  }
  // Layers that are no roads: a capitalised "Sidewalk" and a river, with edges and vertices the
  // loader must step over.
  TileLayer capital{"Sidewalk", 0, {}, 0, {}};
  PutTileEdge(capital, {0, 1}, 3);
  PutTileVertex(capital, 0, 1.0f, 2.0f, 3.0f, 0);
  PutTileVertex(capital, 1, 11.0f, 2.0f, 3.0f, 1);
  chunks.chunks[(j + 7) % 16].push_back(capital);
  TileLayer river{"river", 0, {}, 0, {}};
  PutTileEdge(river, {5, 6, 7, 8}, 9);
  for (std::uint32_t v = 5; v <= 8; ++v) PutTileVertex(river, v, 100.0f * v, 0.0f, 0.0f, 2);
  chunks.chunks[(j + 11) % 16].push_back(river);
  return WriteTile(chunks, 47, static_cast<std::uint32_t>(rng.Int(0, 3) * 4));
}

// A valid tile holding one wagon track far from everything: if the loader ever read it, the
// node and segment counts would show it.
Bytes DecoyTile(float x, std::uint32_t version, std::int32_t lengthError = 0) {
  TileChunks chunks;
  TileLayer layer{"smallwagon", 0, {}, 0, {}};
  PutTileEdge(layer, {900000, 900001, 900002}, 1);
  for (std::uint32_t v = 0; v < 3; ++v) PutTileVertex(layer, 900000 + v, x + 20.0f * v, 0.0f, x, 0);
  chunks.chunks[0].push_back(layer);
  chunks.chunks[1].push_back(TileLayer{"fence", 0, {}, 0, {}});
  return WriteTile(chunks, version, 0, lengthError);
}

// ---- archives and indexes -------------------------------------------------------------------

class ArchiveSet {
 public:
  IndexFile Add(const std::vector<std::string>& name, const Bytes& bytes) {
    if (archives_.empty() || archives_.back().size() >= kArchiveBytes || files_ >= kArchiveFiles) {
      archives_.emplace_back();
      files_ = 0;
    }
    IndexFile file;
    file.nameFragments = name;
    file.archive = static_cast<std::uint32_t>(archives_.size() - 1);
    file.offset = static_cast<std::uint32_t>(archives_.back().size());
    file.storedSize = file.unpackedSize = static_cast<std::uint32_t>(bytes.size());
    archives_.back().insert(archives_.back().end(), bytes.begin(), bytes.end());
    // Files do not always follow each other directly.
    PutFill(archives_.back(), (bytes.size() * 7) % 16, 0);
    ++files_;
    return file;
  }
  // The file's first half only, at the very end of the last archive: the index promises more.
  IndexFile AddCut(const std::vector<std::string>& name, const Bytes& bytes) {
    IndexFile file = Add(name, Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(bytes.size() / 2)));
    archives_.back().resize(file.offset + bytes.size() / 2);
    file.storedSize = file.unpackedSize = static_cast<std::uint32_t>(bytes.size());
    return file;
  }
  void Write(const fs::path& folder) const {
    for (std::size_t a = 0; a < archives_.size(); ++a) {
      std::ofstream out(folder / (std::to_string(a) + ".paz"), std::ios::binary);
      out.write(reinterpret_cast<const char*>(archives_[a].data()), static_cast<std::streamsize>(archives_[a].size()));
    }
  }
  std::uint32_t count() const { return static_cast<std::uint32_t>(archives_.size()); }

 private:
  std::vector<Bytes> archives_;
  int files_ = 0;
};

const std::vector<std::string> kRoadLevelFolder = {"road/", "rootlevel/", "roadlevel"};
const std::vector<std::string> kMainFolder = {"road/", "rootlevel/", "main"};

void WriteFile(const fs::path& path, const Bytes& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

// Writes one archive index with its archives; returns the index bytes.
Bytes WriteIndexFolder(const fs::path& folder, IndexLayout& layout, const ArchiveSet& archives) {
  fs::create_directories(folder);
  archives.Write(folder);
  layout.archiveCount = archives.count();
  Bytes index = WriteIndex(layout);
  WriteFile(folder / "0.pamt", index);
  return index;
}

std::vector<FieldSection> FieldSections(const Layout& layout, Model& model, Rng& rng) {
  FieldSection main{"worldmaproad", 4, {}}, wide{"wagon", 13, {}};
  std::uint32_t nextEdge = 1000;
  for (std::size_t r = 0; r < layout.fieldRoads.size(); ++r) {
    const Polyline& road = layout.fieldRoads[r];
    FieldSection& section = road.type == kMain ? main : wide;
    model.AddRoad(road);
    // Pieces of 12 vertices, one edge id each, the vertex between two pieces in both.
    std::uint32_t edge = nextEdge++;
    for (std::size_t i = 0; i < road.points.size(); ++i) {
      const P& p = road.points[i];
      FieldVertexRecord v;
      v.x = static_cast<float>(p.x + (rng.Uniform() - 0.5) * 0.6);
      v.z = static_cast<float>(p.z + (rng.Uniform() - 0.5) * 0.6);
      v.y = Height(v.x, v.z);
      v.w = road.type == kMain ? 8.0f : 5.5f;
      v.edgeIds.push_back(edge);
      if (i > 0 && i % (kFieldPieceVertices - 1) == 0 && i + 1 < road.points.size()) {
        edge = nextEdge++;
        v.edgeIds.push_back(edge);
      }
      section.vertices.push_back(v);
      if (layout.fieldJunction[r][i]) model.AddLink();
    }
  }
  // Sections that are no roads: found and passed over.
  FieldSection river{"river", 7, {}};
  for (int i = 0; i < 5; ++i) river.vertices.push_back({100.0f * i, 0.0f, 5.0f, 1.0f, {77, 78}});
  // The last section's list must leave room for the loader's 36-byte look-ahead.
  FieldSection fence{"fence", 22, {}};
  fence.vertices.push_back({1.0f, 2.0f, 3.0f, 0.5f, {5, 6}});
  // A road section without vertices would end the file's reading; a world without such roads
  // simply has no section for them.
  std::vector<FieldSection> sections;
  for (FieldSection* section : {&main, &river, &wide, &fence}) {
    if (!section->vertices.empty()) sections.push_back(*section);
  }
  return sections;
}

}  // namespace

Expected GenerateWorld(const Options& options) {
  Rng rng(options.seed);
  Expected expected;
  Model model;
  const fs::path game(options.out);
  fs::create_directories(game);

  const Layout layout = MakeLayout(options, rng);
  for (const Polyline& road : layout.tileRoads) model.AddRoad(road);

  const int indexCount = 1 + std::max(0, options.dlc);
  TileWriter writer(rng, indexCount, options.seed);
  for (const Polyline& road : layout.tileRoads) writer.AddRoad(road);

  std::vector<IndexLayout> layouts(static_cast<std::size_t>(indexCount));
  std::vector<ArchiveSet> archives(static_cast<std::size_t>(indexCount));
  std::vector<IndexFolder> roadFolders(static_cast<std::size_t>(indexCount), IndexFolder{kRoadLevelFolder, {}});
  std::vector<Bytes> sampleTiles;
  for (auto& [key, data] : writer.tiles()) {
    const Bytes bytes = TileBytes(data, key, rng);
    const auto tx = static_cast<std::int32_t>(key >> 32),
               tz = static_cast<std::int32_t>(static_cast<std::uint32_t>(key));
    roadFolders[data.index].files.push_back(
        archives[data.index].Add({"roadlevel_", std::to_string(tx) + "_" + std::to_string(tz)}, bytes));
    ++expected.tiles;
    if (sampleTiles.size() < 4) sampleTiles.push_back(bytes);
  }
  // Not tiles: a file named exactly "roadlevel", and a tile in a folder whose name only begins
  // like the road folder's.
  roadFolders[0].files.push_back(archives[0].Add({"roadlevel"}, DecoyTile(300000.0f, 47)));
  IndexFolder oldFolder{{"road/", "rootlevel/", "roadlevel_old"}, {}};
  oldFolder.files.push_back(archives[0].Add({"roadlevel_", "old"}, DecoyTile(310000.0f, 47)));
  IndexFolder otherFolder{{"character/", "model"}, {}};
  for (int i = 0; i < 3; ++i)
    otherFolder.files.push_back(archives[0].Add({"phm_", std::to_string(i) + ".pac"}, Bytes(100 + i, 0x42)));

  Bytes fieldBytes = WriteFieldDefault(FieldSections(layout, model, rng));
  IndexFolder mainFolder{kMainFolder, {archives[0].Add({"fielddefault"}, fieldBytes)}};

  if (options.faults) {
    IndexFile packed = archives[0].Add({"roadlevel_", "packed"}, DecoyTile(320000.0f, 47));
    packed.compression = 2;
    packed.unpackedSize = packed.storedSize * 3;
    roadFolders[0].files.push_back(packed);
    roadFolders[0].files.push_back(archives[0].Add({"roadlevel_", "v46"}, DecoyTile(330000.0f, 46)));
    roadFolders[0].files.push_back(archives[0].Add({"roadlevel_", "mismatch"}, DecoyTile(340000.0f, 47, 1)));
    // Last in its archive: the archive ends halfway through it.
    roadFolders[0].files.push_back(archives[0].AddCut({"roadlevel_", "short"}, DecoyTile(350000.0f, 47)));
    expected.skipped += 4;
  }

  std::vector<Bytes> sampleIndexes;
  for (int i = 0; i < indexCount; ++i) {
    IndexLayout& l = layouts[i];
    l.fixedLinks = i == 0;  // the packages use the other link form
    l.folders.push_back(roadFolders[i]);
    fs::path folder = game / "0008";
    if (i == 0) {
      l.folders.push_back(otherFolder);
      l.folders.push_back(oldFolder);
      l.folders.push_back(mainFolder);
    } else {
      folder = game / "dlc" / ("000" + std::to_string(i) + "_package") / "0008";
      if (i == 1) {
        // A package's own fielddefault is never read: only the base game's counts.
        const Polyline far{kMain, {{-60000, -60000}, {-60000, -59970}}};
        Model ignored;
        Layout one{{}, {far}, {{false, false}}};
        Rng other(1);
        IndexFolder dlcMain{kMainFolder,
                            {archives[i].Add({"fielddefault"}, WriteFieldDefault(FieldSections(one, ignored, other)))}};
        l.folders.push_back(dlcMain);
      }
    }
    sampleIndexes.push_back(WriteIndexFolder(folder, l, archives[i]));
  }

  // What the package search must pass over: a hidden folder with a whole package in it, a plain
  // file, and a package folder without an index (listed, then skipped as missing).
  {
    ArchiveSet hidden;
    IndexLayout hiddenLayout;
    hiddenLayout.folders.push_back({kRoadLevelFolder, {hidden.Add({"roadlevel_", "0_0"}, DecoyTile(360000.0f, 47))}});
    WriteIndexFolder(game / "dlc" / ".staging" / "0008", hiddenLayout, hidden);
    WriteFile(game / "dlc" / "readme.txt", Bytes{'h', 'i', '\n'});
    fs::create_directories(game / "dlc" / "0099_placeholder");
  }
  expected.archives = static_cast<std::size_t>(indexCount) + 1;

  if (options.faults) {
    // An index cut in the middle of its folder names.
    ArchiveSet broken;
    IndexLayout brokenLayout;
    brokenLayout.fixedLinks = false;
    brokenLayout.folders.push_back({kRoadLevelFolder, {broken.Add({"roadlevel_", "0_0"}, DecoyTile(370000.0f, 47))}});
    const fs::path folder = game / "dlc" / "0098_broken" / "0008";
    Bytes index = WriteIndexFolder(folder, brokenLayout, broken);
    index.resize(brokenLayout.folderNamesAt + brokenLayout.folderNamesLength / 2);
    WriteFile(folder / "0.pamt", index);
    expected.unreadableIndexes.push_back("dlc/0098_broken/0008/0.pamt");
    ++expected.archives;
  }

  if (!options.samples.empty()) {
    const fs::path samples(options.samples);
    for (std::size_t i = 0; i < sampleIndexes.size(); ++i)
      WriteFile(samples / "index" / (std::to_string(i) + ".pamt"), sampleIndexes[i]);
    for (std::size_t i = 0; i < sampleTiles.size(); ++i)
      WriteFile(samples / "tile" / (std::to_string(i) + ".bin"), sampleTiles[i]);
    WriteFile(samples / "fielddefault" / "fielddefault.bin", fieldBytes);
  }

  model.Fill(expected);
  return expected;
}

}  // namespace worldgen
