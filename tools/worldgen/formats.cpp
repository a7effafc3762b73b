#include "formats.hpp"

#include <cstring>
#include <map>

namespace worldgen {

void PutU32(Bytes& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void PutF32(Bytes& out, float value) {
  std::uint32_t bits;
  std::memcpy(&bits, &value, 4);
  PutU32(out, bits);
}

void PutText(Bytes& out, const std::string& text) { out.insert(out.end(), text.begin(), text.end()); }

void PutFill(Bytes& out, std::size_t count, std::uint8_t value) { out.insert(out.end(), count, value); }

namespace {

// A name block as a tree of fragments; nodes are written parents first, so both link forms can
// point back.
class NameBlockWriter {
 public:
  explicit NameBlockWriter(bool fixedLinks) : fixed_(fixedLinks) {}

  std::uint32_t Node(const std::vector<std::string>& fragments) {
    std::int64_t parent = -1;
    for (const std::string& fragment : fragments) {
      const auto key = std::make_pair(parent, fragment);
      auto found = nodes_.find(key);
      if (found == nodes_.end()) {
        const auto offset = static_cast<std::uint32_t>(bytes_.size());
        if (fixed_) {
          PutU32(bytes_, parent < 0 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(parent));
        } else {
          std::uint64_t back = parent < 0 ? 0 : offset - static_cast<std::uint64_t>(parent);
          do {
            const auto group = static_cast<std::uint8_t>(back & 0x7F);
            back >>= 7;
            bytes_.push_back(back != 0 ? group | 0x80 : group);
          } while (back != 0);
        }
        bytes_.push_back(static_cast<std::uint8_t>(fragment.size()));
        PutText(bytes_, fragment);
        found = nodes_.emplace(key, offset).first;
      }
      parent = found->second;
    }
    return static_cast<std::uint32_t>(parent);
  }

  const Bytes& bytes() const { return bytes_; }

 private:
  bool fixed_;
  Bytes bytes_;
  std::map<std::pair<std::int64_t, std::string>, std::uint32_t> nodes_;
};

}  // namespace

Bytes WriteIndex(IndexLayout& layout) {
  NameBlockWriter folderNames(layout.fixedLinks), fileNames(layout.fixedLinks);
  std::vector<std::uint32_t> folderNodes;
  std::vector<std::uint32_t> fileNodes;
  for (const IndexFolder& folder : layout.folders) {
    folderNodes.push_back(folderNames.Node(folder.nameFragments));
    for (const IndexFile& file : folder.files) fileNodes.push_back(fileNames.Node(file.nameFragments));
  }

  Bytes out;
  PutU32(out, 0x50414D54);  // head word, not read
  PutU32(out, layout.archiveCount);
  PutU32(out, 0x00000610);  // head word, not read
  if (layout.archiveCount == 0) {
    PutU32(out, 0);
  } else {
    for (std::uint32_t a = 0; a < layout.archiveCount; ++a) {
      PutU32(out, a);
      PutU32(out, 0xC0FFEE00u + a);
      PutU32(out, 0);
    }
  }
  PutU32(out, static_cast<std::uint32_t>(folderNames.bytes().size()));
  layout.folderNamesAt = out.size();
  layout.folderNamesLength = folderNames.bytes().size();
  out.insert(out.end(), folderNames.bytes().begin(), folderNames.bytes().end());
  PutU32(out, static_cast<std::uint32_t>(fileNames.bytes().size()));
  out.insert(out.end(), fileNames.bytes().begin(), fileNames.bytes().end());

  PutU32(out, static_cast<std::uint32_t>(layout.folders.size()));
  std::uint32_t firstFile = 0;
  for (std::size_t f = 0; f < layout.folders.size(); ++f) {
    PutU32(out, 0x1234u + static_cast<std::uint32_t>(f));  // not read
    PutU32(out, folderNodes[f]);
    PutU32(out, firstFile);
    PutU32(out, static_cast<std::uint32_t>(layout.folders[f].files.size()));
    firstFile += static_cast<std::uint32_t>(layout.folders[f].files.size());
  }
  PutU32(out, firstFile);
  std::size_t n = 0;
  for (const IndexFolder& folder : layout.folders) {
    for (const IndexFile& file : folder.files) {
      PutU32(out, fileNodes[n++]);
      PutU32(out, file.offset);
      PutU32(out, file.storedSize);
      PutU32(out, file.unpackedSize);
      // Bits 20-31 carry something the reader must ignore.
      PutU32(out, (file.archive & 0xFFFF) | ((file.compression & 0xF) << 16) | (0x5A5u << 20));
    }
  }
  return out;
}

void PutTileEdge(TileLayer& layer, const std::vector<std::uint32_t>& ids, std::uint32_t noise) {
  Bytes& out = layer.edges;
  for (int i = 0; i < 26; ++i) out.push_back(static_cast<std::uint8_t>(noise * 7 + i));
  PutU32(out, ids.front());
  PutU32(out, ids.back());
  PutU32(out, static_cast<std::uint32_t>(ids.size() - 2));
  for (std::size_t i = 1; i + 1 < ids.size(); ++i) PutU32(out, ids[i]);
  for (int i = 0; i < 5; ++i) out.push_back(static_cast<std::uint8_t>(0xE0 + noise + i));
  ++layer.edgeCount;
}

void PutTileVertex(TileLayer& layer, std::uint32_t id, float x, float y, float z, std::uint32_t trailingWords) {
  Bytes& out = layer.vertices;
  PutU32(out, id);
  PutF32(out, x);
  PutF32(out, y);
  PutF32(out, z);
  PutU32(out, 0xDEADBEEF);
  PutU32(out, id ^ 0x55555555u);
  PutU32(out, trailingWords);
  for (std::uint32_t k = 0; k < trailingWords; ++k) PutU32(out, k + 1);
  ++layer.vertexCount;
}

Bytes WriteTile(const TileChunks& tile, std::uint32_t version, std::uint32_t padding, std::int32_t lengthError) {
  Bytes chunks[16];
  for (int j = 0; j < 16; ++j) {
    PutU32(chunks[j], static_cast<std::uint32_t>(tile.chunks[j].size()));
    for (const TileLayer& layer : tile.chunks[j]) {
      PutU32(chunks[j], static_cast<std::uint32_t>(layer.name.size()));
      PutText(chunks[j], layer.name);
      PutU32(chunks[j], layer.edgeCount);
      chunks[j].insert(chunks[j].end(), layer.edges.begin(), layer.edges.end());
      PutU32(chunks[j], layer.vertexCount);
      chunks[j].insert(chunks[j].end(), layer.vertices.begin(), layer.vertices.end());
    }
  }
  Bytes out;
  PutU32(out, version);
  PutU32(out, 0x00010002);  // not read
  PutU32(out, 0x00030004);  // not read
  PutU32(out, 16 + 8 * 16 + padding);
  for (int j = 0; j < 16; ++j) {
    PutU32(out, static_cast<std::uint32_t>(chunks[j].size() + (j == 1 ? lengthError : 0)));
    PutU32(out, 0xAB000000u + static_cast<std::uint32_t>(j));  // not read
  }
  PutFill(out, padding, 0xCC);
  for (const Bytes& chunk : chunks) out.insert(out.end(), chunk.begin(), chunk.end());
  return out;
}

Bytes WriteFieldDefault(const std::vector<FieldSection>& sections) {
  Bytes out;
  PutU32(out, 47);
  PutFill(out, 16, 0x11);  // not read
  PutU32(out, static_cast<std::uint32_t>(sections.size()));
  for (const FieldSection& section : sections) {
    PutU32(out, static_cast<std::uint32_t>(section.name.size()));
    PutText(out, section.name);
    // The stretch before the list: all-ones bytes never read as a plausible vertex count.
    PutFill(out, section.gap, 0xFF);
    PutU32(out, static_cast<std::uint32_t>(section.vertices.size()));
    for (std::size_t i = 0; i < section.vertices.size(); ++i) {
      const FieldVertexRecord& v = section.vertices[i];
      PutU32(out, static_cast<std::uint32_t>(i));
      PutF32(out, v.x);
      PutF32(out, v.y);
      PutF32(out, v.z);
      PutF32(out, v.w);
      // The unread word's high bytes are all ones: a list tried one to three bytes early then
      // reads an edge-id count far above 64 and is refused.
      PutU32(out, 0xFFFF0000u | static_cast<std::uint32_t>(i & 0xFFFF));
      PutU32(out, static_cast<std::uint32_t>(v.edgeIds.size()));
      for (const std::uint32_t id : v.edgeIds) PutU32(out, id);
    }
  }
  return out;
}

}  // namespace worldgen
