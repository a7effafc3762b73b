// Sections of this file: the vertex-list search, the spanning trees per edge, the junction links,
// and the file-level loop.
#include "roads/field_default.hpp"

#include <algorithm>
#include <climits>
#include <cmath>
#include <exception>
#include <optional>
#include <span>
#include <stdexcept>
#include <string_view>
#include <tuple>
#include <vector>

#include "platform/log.hpp"
#include "roads/archive.hpp"
#include "roads/byte_reader.hpp"
#include "roads/road_tile.hpp"

namespace pathlight {

namespace {

constexpr std::uint64_t kFileHeadBytes = 24;
constexpr std::uint64_t kFieldVertexFixedBytes = 28;
constexpr std::uint32_t kMaxFieldVertices = 2'000'000;
constexpr std::uint32_t kMaxEdgeIdsPerVertex = 64;
constexpr float kMaxFieldGround = 100000.0f;
constexpr float kMaxFieldHeight = 10000.0f;
constexpr float kMaxFieldW = 100.0f;
// The stretch between a section's name and its vertex list is at least this long.
constexpr std::uint64_t kMinNameToListGap = 4;
// A candidate list needs room for its count and one record's fixed bytes, plus a little more.
constexpr std::uint64_t kMinCandidateBytes = 36;
constexpr std::uint32_t kMaxSectionNameLength = 63;
constexpr double kJunctionCellSize = 5.0;
constexpr int kJunctionCellReach = 2;
constexpr double kJunctionRadius = 6.0;
constexpr double kPrimUnreached = 1e30;

struct FieldVertex {
  float x, y, z;
  std::uint64_t edgeIdsAt;  // file offset of its k edge ids
  std::uint32_t edgeIdCount;
};

// Reads the record at pos if it is valid as record number `position`; raises "truncated" for a
// valid record whose edge ids run past the end of the file, also while a candidate is tested.
std::optional<FieldVertex> ReadFieldVertex(const ByteReader& reader, std::uint64_t pos, std::uint32_t position) {
  if (!reader.Fits(pos, kFieldVertexFixedBytes)) return std::nullopt;
  if (reader.U32(pos) != position) return std::nullopt;
  const float x = reader.F32(pos + 4), y = reader.F32(pos + 8), z = reader.F32(pos + 12), w = reader.F32(pos + 16);
  const std::uint32_t k = reader.U32(pos + 24);
  const bool valid = std::isfinite(x) && std::isfinite(y) && std::isfinite(z) && std::isfinite(w) &&
                     std::fabs(x) < kMaxFieldGround && std::fabs(z) < kMaxFieldGround &&
                     std::fabs(y) < kMaxFieldHeight && w >= 0 && w < kMaxFieldW && k <= kMaxEdgeIdsPerVertex;
  if (!valid) return std::nullopt;
  reader.Require(pos + kFieldVertexFixedBytes, 4 * static_cast<std::uint64_t>(k));
  return FieldVertex{x, y, z, pos + kFieldVertexFixedBytes, k};
}

bool IsAsciiLetter(std::uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// The end of the vertex list at p, if p holds one: a plausible count, every record valid and in
// order, and then either the end of the file or what looks like the next section's name.
std::optional<std::uint64_t> VertexListEnd(const ByteReader& reader, std::uint64_t p) {
  const std::uint32_t count = reader.U32(p);
  if (count < 1 || count > kMaxFieldVertices) return std::nullopt;
  std::uint64_t pos = p + 4;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::optional<FieldVertex> vertex = ReadFieldVertex(reader, pos, i);
    if (!vertex) return std::nullopt;
    pos = vertex->edgeIdsAt + 4 * static_cast<std::uint64_t>(vertex->edgeIdCount);
  }
  if (pos == reader.size()) return pos;
  if (pos + 4 >= reader.size()) return std::nullopt;
  const std::uint32_t nextNameLength = reader.U32(pos);
  if (nextNameLength < 1 || nextNameLength > kMaxSectionNameLength || !IsAsciiLetter(reader.U8(pos + 4)))
    return std::nullopt;
  return pos;
}

// The blocks of 8 x 8 junction cells (40 m) that a search from any of the vertices looks at, as
// one bit each over the rectangle of blocks they span (at most about 5000 by 5000: the vertices
// lie within kMaxFieldGround).
class SearchedBlocks {
 public:
  static constexpr int kBlockShift = 3;

  explicit SearchedBlocks(std::span<const FieldVertex> vertices) {
    if (vertices.empty()) return;
    std::int32_t lowX = INT32_MAX, highX = INT32_MIN, lowZ = INT32_MAX, highZ = INT32_MIN;
    for (const FieldVertex& v : vertices) {
      const std::int32_t cx = FloorCell(v.x, kJunctionCellSize), cz = FloorCell(v.z, kJunctionCellSize);
      lowX = std::min(lowX, (cx - kJunctionCellReach) >> kBlockShift);
      highX = std::max(highX, (cx + kJunctionCellReach) >> kBlockShift);
      lowZ = std::min(lowZ, (cz - kJunctionCellReach) >> kBlockShift);
      highZ = std::max(highZ, (cz + kJunctionCellReach) >> kBlockShift);
    }
    x0_ = lowX;
    z0_ = lowZ;
    width_ = static_cast<std::int64_t>(highX) - lowX + 1;
    height_ = static_cast<std::int64_t>(highZ) - lowZ + 1;
    bits_.assign(static_cast<std::size_t>((width_ * height_ + 63) / 64), 0);
    for (const FieldVertex& v : vertices) {
      const std::int32_t cx = FloorCell(v.x, kJunctionCellSize), cz = FloorCell(v.z, kJunctionCellSize);
      for (std::int32_t bx = (cx - kJunctionCellReach) >> kBlockShift; bx <= (cx + kJunctionCellReach) >> kBlockShift;
           ++bx) {
        for (std::int32_t bz = (cz - kJunctionCellReach) >> kBlockShift; bz <= (cz + kJunctionCellReach) >> kBlockShift;
             ++bz) {
          const std::size_t bit = Bit(bx, bz);
          bits_[bit / 64] |= std::uint64_t{1} << (bit % 64);
        }
      }
    }
  }

  [[nodiscard]] bool Has(std::int32_t bx, std::int32_t bz) const {
    const std::int64_t x = static_cast<std::int64_t>(bx) - x0_, z = static_cast<std::int64_t>(bz) - z0_;
    if (x < 0 || x >= width_ || z < 0 || z >= height_) return false;
    const std::size_t bit = Bit(bx, bz);
    return (bits_[bit / 64] >> (bit % 64)) & 1;
  }

 private:
  [[nodiscard]] std::size_t Bit(std::int32_t bx, std::int32_t bz) const {
    return static_cast<std::size_t>((static_cast<std::int64_t>(bx) - x0_) * height_ +
                                    (static_cast<std::int64_t>(bz) - z0_));
  }

  std::int64_t x0_ = 0, z0_ = 0, width_ = 0, height_ = 0;
  std::vector<std::uint64_t> bits_;
};

// The tile nodes, bucketed by blocks of 8 x 8 junction cells (40 m), each block listing its nodes
// with their 5 m cells in ascending node order. A vertex's 5 x 5 cells lie in at most 2 x 2 blocks,
// so a search costs four hash look-ups instead of twenty-five; with a million tile nodes those
// look-ups are cache misses and were most of the file's time.
class JunctionCells {
 public:
  struct Entry {
    std::int32_t cellX, cellZ, node;
  };

  // Only the nodes in blocks that a search from one of the vertices looks at: the field's roads
  // meet a small part of the tile nodes, and a search finds exactly the nodes it would find among
  // them all.
  JunctionCells(const std::vector<RoadNode>& nodes, std::span<const FieldVertex> vertices) {
    const SearchedBlocks searched(vertices);
    // Two passes, count then fill, so each block is one slice of one array. Nodes come road by
    // road, so a node mostly lies in the block of the one before it, which is tried first.
    std::vector<std::uint32_t> blockOf;
    std::vector<Entry> unsorted;
    std::vector<std::uint32_t> counts;
    std::uint64_t lastKey = 0;
    std::uint32_t lastBlock = 0;
    for (std::size_t i = 0; i < nodes.size(); ++i) {
      const std::int32_t cx = Cell(nodes[i].x), cz = Cell(nodes[i].z);
      if (!searched.Has(cx >> kBlockShift, cz >> kBlockShift)) continue;
      const std::uint64_t key = PairKey(cx >> kBlockShift, cz >> kBlockShift);
      if (counts.empty() || key != lastKey) {
        const auto [block, inserted] = blocks_.TryEmplace(key, static_cast<std::uint32_t>(counts.size()));
        if (inserted) counts.push_back(0);
        lastKey = key;
        lastBlock = *block;
      }
      ++counts[lastBlock];
      blockOf.push_back(lastBlock);
      unsorted.push_back({cx, cz, static_cast<std::int32_t>(i)});
    }
    starts_.resize(counts.size() + 1);
    starts_[0] = 0;
    for (std::size_t b = 0; b < counts.size(); ++b) starts_[b + 1] = starts_[b] + counts[b];
    // counts becomes each block's cursor.
    std::copy(starts_.begin(), starts_.end() - 1, counts.begin());
    entries_.resize(unsorted.size());
    for (std::size_t i = 0; i < unsorted.size(); ++i) entries_[counts[blockOf[i]]++] = unsorted[i];
  }

  static std::int32_t Cell(float v) { return FloorCell(v, kJunctionCellSize); }

  // Calls visit(entry) for every tile node whose cell lies within reach of (cx, cz).
  template <class F> void ForEachNear(std::int32_t cx, std::int32_t cz, F&& visit) const {
    for (std::int32_t bx = (cx - kJunctionCellReach) >> kBlockShift; bx <= (cx + kJunctionCellReach) >> kBlockShift;
         ++bx) {
      for (std::int32_t bz = (cz - kJunctionCellReach) >> kBlockShift; bz <= (cz + kJunctionCellReach) >> kBlockShift;
           ++bz) {
        const std::uint32_t* block = blocks_.Find(PairKey(bx, bz));
        if (block == nullptr) continue;
        for (std::uint32_t e = starts_[*block]; e < starts_[*block + 1]; ++e) {
          const Entry& entry = entries_[e];
          if (std::abs(std::int64_t{entry.cellX} - cx) <= kJunctionCellReach &&
              std::abs(std::int64_t{entry.cellZ} - cz) <= kJunctionCellReach) {
            visit(entry);
          }
        }
      }
    }
  }

 private:
  static constexpr int kBlockShift = SearchedBlocks::kBlockShift;
  FlatMap64<std::uint32_t> blocks_;
  std::vector<std::uint32_t> starts_;
  std::vector<Entry> entries_;
};

// Whether hypot(dx, dz) is certainly above bound, told by the squares alone: most candidates of the
// spanning trees and the junction search are, and the exact distance is then not needed. The
// margin is far wider than the rounding of either side, so a distance the comparisons could take
// is always computed.
bool SurelyFarther(double dx, double dz, double bound) { return dx * dx + dz * dz > bound * bound * (1 + 1e-9); }

struct SectionResult {
  std::size_t edges = 0;
  std::size_t treeSegments = 0;
  std::size_t links = 0;
};

SectionResult AddSection(const ByteReader& reader, std::span<const FieldVertex> vertices, RoadType type,
                         const JunctionCells& cells, GraphBuilder& builder) {
  SectionResult result;
  std::vector<std::int32_t> nodeOf(vertices.size());
  for (std::size_t i = 0; i < vertices.size(); ++i)
    nodeOf[i] = builder.NodeForPosition(vertices[i].x, vertices[i].y, vertices[i].z);

  // Groups by edge id, in the order the ids first appear; members in vertex order.
  FlatMap64<std::uint32_t> groupOf;
  std::vector<std::uint32_t> groupSizes;
  std::vector<std::uint32_t> memberGroup;
  std::size_t memberCount = 0;
  for (const FieldVertex& v : vertices) memberCount += v.edgeIdCount;
  memberGroup.reserve(memberCount);
  for (const FieldVertex& v : vertices) {
    for (std::uint32_t e = 0; e < v.edgeIdCount; ++e) {
      const auto [group, inserted] =
          groupOf.TryEmplace(reader.U32(v.edgeIdsAt + 4 * e), static_cast<std::uint32_t>(groupSizes.size()));
      if (inserted) groupSizes.push_back(0);
      ++groupSizes[*group];
      memberGroup.push_back(*group);
    }
  }
  result.edges = groupSizes.size();
  std::vector<std::uint32_t> groupStarts(groupSizes.size() + 1, 0);
  for (std::size_t g = 0; g < groupSizes.size(); ++g) groupStarts[g + 1] = groupStarts[g] + groupSizes[g];
  std::vector<std::uint32_t> members(memberGroup.size());
  {
    std::vector<std::uint32_t> cursor(groupStarts.begin(), groupStarts.end() - 1);
    std::size_t m = 0;
    for (std::size_t i = 0; i < vertices.size(); ++i) {
      for (std::uint32_t e = 0; e < vertices[i].edgeIdCount; ++e)
        members[cursor[memberGroup[m++]]++] = static_cast<std::uint32_t>(i);
    }
  }

  // Prim's method, quadratic in the group: edges of the game's road files are short pieces.
  std::vector<double> distance;
  std::vector<std::int64_t> parent;
  std::vector<char> taken;
  for (std::size_t g = 0; g < groupSizes.size(); ++g) {
    const std::uint32_t* group = members.data() + groupStarts[g];
    const std::size_t size = groupSizes[g];
    if (size < 2) continue;
    distance.assign(size, kPrimUnreached);
    parent.assign(size, -1);
    taken.assign(size, 0);
    distance[0] = 0;
    for (std::size_t round = 0; round < size; ++round) {
      std::size_t next = size;
      for (std::size_t m = 0; m < size; ++m) {
        if (!taken[m] && (next == size || distance[m] < distance[next])) next = m;
      }
      taken[next] = 1;
      const FieldVertex& at = vertices[group[next]];
      if (parent[next] >= 0 && nodeOf[group[next]] != nodeOf[group[parent[next]]]) {
        builder.AddSegment(nodeOf[group[next]], nodeOf[group[parent[next]]], type);
        ++result.treeSegments;
      }
      for (std::size_t m = 0; m < size; ++m) {
        if (taken[m]) continue;
        const FieldVertex& other = vertices[group[m]];
        const double dx = static_cast<double>(other.x) - at.x, dz = static_cast<double>(other.z) - at.z;
        if (SurelyFarther(dx, dz, distance[m])) continue;
        const double d = std::hypot(dx, dz);
        if (d < distance[m]) {
          distance[m] = d;
          parent[m] = static_cast<std::int64_t>(next);
        }
      }
    }
  }

  for (std::size_t i = 0; i < vertices.size(); ++i) {
    const FieldVertex& v = vertices[i];
    // The nearest tile node strictly within 6 m other than the vertex's own; among equally near
    // ones the first in the order cell x, cell z, node index.
    JunctionCells::Entry best{0, 0, -1};
    double bestDistance = kJunctionRadius;
    cells.ForEachNear(JunctionCells::Cell(v.x), JunctionCells::Cell(v.z), [&](const JunctionCells::Entry& entry) {
      if (entry.node == nodeOf[i]) return;
      const RoadNode& n = builder.nodes()[static_cast<std::size_t>(entry.node)];
      const double dx = static_cast<double>(n.x) - v.x, dz = static_cast<double>(n.z) - v.z;
      if (SurelyFarther(dx, dz, bestDistance)) return;
      const double d = std::hypot(dx, dz);
      const bool earlier = std::tie(entry.cellX, entry.cellZ, entry.node) < std::tie(best.cellX, best.cellZ, best.node);
      if (d < bestDistance || (d == bestDistance && best.node >= 0 && earlier)) {
        bestDistance = d;
        best = entry;
      }
    });
    if (best.node >= 0) {
      builder.AddSegment(nodeOf[i], best.node, RoadType::Link);
      ++result.links;
    }
  }
  return result;
}

}  // namespace

void AddFieldDefault(std::span<const std::byte> file, GraphBuilder& builder) {
  const ByteReader reader(file);
  if (reader.size() < 4) throw std::runtime_error("truncated");
  if (reader.U32(0) != kRoadFileVersion) return;
  if (reader.size() < kFileHeadBytes) throw std::runtime_error("truncated");

  // First every road section's vertices, then the sections into the builder: the junction search
  // only needs the tile nodes near them. What ends the first pass early (a section without a
  // vertex list, or a file cut short) is said once the sections before it are in.
  struct Section {
    std::string name;
    RoadType type;
    std::size_t firstVertex;
    std::size_t vertexCount;
  };
  std::vector<Section> sections;
  std::vector<FieldVertex> vertices;
  std::optional<std::string> missingList;
  std::exception_ptr failure;
  try {
    const std::uint32_t sectionCount = reader.U32(20);
    std::uint64_t pos = kFileHeadBytes;
    for (std::uint32_t s = 0; s < sectionCount; ++s) {
      const std::uint32_t nameLength = reader.U32(pos);
      std::string name(reader.Text(pos + 4, nameLength));
      pos += 4 + static_cast<std::uint64_t>(nameLength);

      // The bytes between a name and its vertex list have no known layout, so the list is found by
      // trying every position.
      std::optional<std::uint64_t> listAt, listEnd;
      for (std::uint64_t p = pos + kMinNameToListGap; p + kMinCandidateBytes <= reader.size(); ++p) {
        listEnd = VertexListEnd(reader, p);
        if (listEnd) {
          listAt = p;
          break;
        }
      }
      if (!listAt) {
        missingList = std::move(name);
        break;
      }
      pos = *listEnd;

      RoadType type;
      if (name == "worldmaproad")
        type = RoadType::Main;
      else if (name == "wagon")
        type = RoadType::Wide;
      else
        continue;

      const std::uint32_t count = reader.U32(*listAt);
      sections.push_back({std::move(name), type, vertices.size(), count});
      vertices.reserve(vertices.size() + count);
      std::uint64_t at = *listAt + 4;
      for (std::uint32_t i = 0; i < count; ++i) {
        vertices.push_back(*ReadFieldVertex(reader, at, i));
        at = vertices.back().edgeIdsAt + 4 * static_cast<std::uint64_t>(vertices.back().edgeIdCount);
      }
    }
  } catch (const std::runtime_error&) {
    failure = std::current_exception();
  }

  // Only the tile nodes: nodes this file adds are not link targets.
  const JunctionCells cells(builder.nodes(), vertices);
  // A vertex gives at most one tree segment and one link.
  builder.ReserveSegments(builder.segments().size() + 2 * vertices.size());
  for (const Section& section : sections) {
    const std::span<const FieldVertex> sectionVertices(vertices.data() + section.firstVertex, section.vertexCount);
    const SectionResult result = AddSection(reader, sectionVertices, section.type, cells, builder);
    Log("Roads: fielddefault '%s': %zu vertices, %zu edges, %zu segments, %zu junction links", section.name.c_str(),
        sectionVertices.size(), result.edges, result.treeSegments, result.links);
  }
  if (missingList) Log("Roads: fielddefault: no vertex list for '%s'", missingList->c_str());
  if (failure) std::rethrow_exception(failure);
}

namespace {

// The index's unpacked files named exactly "fielddefault"; none when the index cannot be listed
// (which the listing of its tiles has logged already).
std::vector<ArchiveEntry> FieldDefaultEntries(const std::wstring& baseIndexPath) {
  std::vector<ArchiveEntry> entries;
  try {
    entries = ListArchiveFolder(baseIndexPath, "road/rootlevel/main");
  } catch (const std::runtime_error&) {
    return {};
  }
  std::erase_if(entries, [](const ArchiveEntry& entry) {
    return entry.name != "fielddefault" || entry.compressionKind != 0 || entry.storedSize != entry.unpackedSize;
  });
  return entries;
}

}  // namespace

std::size_t FieldDefaultMaxVertices(const std::wstring& baseIndexPath) {
  std::uint64_t bytes = 0;
  for (const ArchiveEntry& entry : FieldDefaultEntries(baseIndexPath)) bytes += entry.storedSize;
  // Two road sections of at most kMaxFieldVertices each are read from a file.
  return static_cast<std::size_t>(std::min<std::uint64_t>(bytes / kFieldVertexFixedBytes, 2ull * kMaxFieldVertices));
}

void LoadFieldDefault(const std::wstring& baseIndexPath, GraphBuilder& builder) {
  for (const ArchiveEntry& entry : FieldDefaultEntries(baseIndexPath)) {
    const std::vector<std::byte> bytes = ReadEntryBytes(entry.archivePath, entry.offset, entry.storedSize);
    if (bytes.size() != entry.storedSize) continue;
    try {
      AddFieldDefault(bytes, builder);
    } catch (const std::runtime_error& error) {
      Log("Roads: fielddefault unreadable (%s)", error.what());
    }
  }
}

}  // namespace pathlight
