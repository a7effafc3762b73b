// Writers of the game's file formats, byte for byte as the game lays them out: archive index
// (".pamt") with its name blocks, road tiles and the fielddefault file. worldgen's own code,
// independent of the library's readers, so the round trips test one against the other.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace worldgen {

using Bytes = std::vector<std::uint8_t>;

void PutU32(Bytes& out, std::uint32_t value);
void PutF32(Bytes& out, float value);
void PutText(Bytes& out, const std::string& text);
void PutFill(Bytes& out, std::size_t count, std::uint8_t value);

// One file of an index: its name as fragments (outermost first; fragments shared with other
// names become one name node), where its bytes lie, and its flags.
struct IndexFile {
  std::vector<std::string> nameFragments;
  std::uint32_t archive = 0;
  std::uint32_t offset = 0;
  std::uint32_t storedSize = 0;
  std::uint32_t unpackedSize = 0;
  std::uint32_t compression = 0;
};

struct IndexFolder {
  std::vector<std::string> nameFragments;  // e.g. {"road/", "rootlevel/", "roadlevel"}
  std::vector<IndexFile> files;
};

struct IndexLayout {
  bool fixedLinks = true;          // u32 parent offsets; otherwise 7-bit-group back distances
  std::uint32_t archiveCount = 0;  // g, the table before the name blocks
  std::vector<IndexFolder> folders;
  std::size_t folderNamesAt = 0;  // filled by WriteIndex: where the folder-name block starts
  std::size_t folderNamesLength = 0;
};

[[nodiscard]] Bytes WriteIndex(IndexLayout& layout);

// Road tile: layers placed in 16 chunks.
struct TileLayer {
  std::string name;
  std::uint32_t edgeCount = 0;
  Bytes edges;
  std::uint32_t vertexCount = 0;
  Bytes vertices;
};

void PutTileEdge(TileLayer& layer, const std::vector<std::uint32_t>& ids, std::uint32_t noise);
void PutTileVertex(TileLayer& layer, std::uint32_t id, float x, float y, float z, std::uint32_t trailingWords);

struct TileChunks {
  std::vector<TileLayer> chunks[16];
};

// padding: bytes between the chunk table and the first chunk. lengthError: added to chunk 1's
// declared length (a malformed tile).
[[nodiscard]] Bytes WriteTile(const TileChunks& tile, std::uint32_t version, std::uint32_t padding,
                              std::int32_t lengthError = 0);

struct FieldVertexRecord {
  float x, y, z, w;
  std::vector<std::uint32_t> edgeIds;
};

struct FieldSection {
  std::string name;
  std::uint32_t gap = 4;  // uninterpreted bytes between the name and the vertex list
  std::vector<FieldVertexRecord> vertices;
};

[[nodiscard]] Bytes WriteFieldDefault(const std::vector<FieldSection>& sections);

}  // namespace worldgen
