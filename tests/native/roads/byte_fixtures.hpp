// Hand-made bytes of the game's road formats for the tests, written field by field from the
// format tables (not by worldgen), and a scratch game folder on disk.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <span>
#include <string>
#include <vector>

#include "roads/game_files.hpp"

namespace pathlight::testing {

class Bytes {
 public:
  Bytes& U8(std::uint8_t v) {
    data_.push_back(static_cast<std::byte>(v));
    return *this;
  }
  Bytes& U8s(std::initializer_list<std::uint8_t> values) {
    for (const std::uint8_t v : values) U8(v);
    return *this;
  }
  Bytes& U32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) U8(static_cast<std::uint8_t>(v >> (8 * i)));
    return *this;
  }
  Bytes& F32(float v) {
    std::uint32_t bits;
    std::memcpy(&bits, &v, 4);
    return U32(bits);
  }
  Bytes& Text(const std::string& text) {
    for (const char c : text) U8(static_cast<std::uint8_t>(c));
    return *this;
  }
  Bytes& Fill(std::size_t count, std::uint8_t v) {
    for (std::size_t i = 0; i < count; ++i) U8(v);
    return *this;
  }
  Bytes& Append(const Bytes& other) {
    data_.insert(data_.end(), other.data_.begin(), other.data_.end());
    return *this;
  }
  // Overwrites a u32 already written.
  Bytes& PatchU32(std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) data_[at + i] = static_cast<std::byte>(v >> (8 * i));
    return *this;
  }
  [[nodiscard]] std::size_t size() const { return data_.size(); }
  [[nodiscard]] std::span<const std::byte> span() const { return data_; }
  [[nodiscard]] const std::vector<std::byte>& vector() const { return data_; }
  void Resize(std::size_t size) { data_.resize(size); }

 private:
  std::vector<std::byte> data_;
};

// ---- road tiles --------------------------------------------------------------------------------

struct EdgeRecord {
  std::uint32_t first, last;
  std::vector<std::uint32_t> inner;
};
struct VertexRecord {
  std::uint32_t id;
  float x, y, z;
  std::uint32_t trailing = 0;  // k
};
struct Layer {
  std::string name;
  std::vector<EdgeRecord> edges;
  std::vector<VertexRecord> vertices;
};

inline Bytes LayerBytes(const Layer& layer) {
  Bytes b;
  b.U32(static_cast<std::uint32_t>(layer.name.size())).Text(layer.name).U32(static_cast<std::uint32_t>(layer.edges.size()));
  for (const EdgeRecord& e : layer.edges) {
    b.Fill(26, 0xAA).U32(e.first).U32(e.last).U32(static_cast<std::uint32_t>(e.inner.size()));
    for (const std::uint32_t id : e.inner) b.U32(id);
    b.Fill(5, 0xBB);
  }
  b.U32(static_cast<std::uint32_t>(layer.vertices.size()));
  for (const VertexRecord& v : layer.vertices) {
    b.U32(v.id).F32(v.x).F32(v.y).F32(v.z).Fill(8, 0xCC).U32(v.trailing);
    for (std::uint32_t k = 0; k < v.trailing; ++k) b.U32(0xDDDDDDDD);
  }
  return b;
}

// A tile whose chunk 0 holds the given layers and chunks 1 to 15 none; chunkLengthError is added
// to chunk 0's declared length.
inline Bytes TileBytes(const std::vector<Layer>& layers, std::uint32_t version = 47, std::int32_t chunkLengthError = 0) {
  Bytes chunk0;
  chunk0.U32(static_cast<std::uint32_t>(layers.size()));
  for (const Layer& layer : layers) chunk0.Append(LayerBytes(layer));
  Bytes tile;
  tile.U32(version).Fill(8, 0).U32(16 + 8 * 16);
  for (int j = 0; j < 16; ++j) tile.U32(j == 0 ? static_cast<std::uint32_t>(chunk0.size() + chunkLengthError) : 4).U32(0);
  tile.Append(chunk0);
  for (int j = 1; j < 16; ++j) tile.U32(0);  // empty chunks: layer count 0
  return tile;
}

// ---- archive index -------------------------------------------------------------------------------

struct IndexFileRecord {
  std::string name;  // one name node
  std::uint32_t archive = 0, offset = 0, stored = 0, unpacked = 0, compression = 0;
};
struct IndexFolderRecord {
  std::string name;  // one name node
  std::vector<IndexFileRecord> files;
};

// An index with g = 1 and fixed (u32) parent links; every name is a single root node.
inline Bytes IndexBytes(const std::vector<IndexFolderRecord>& folders) {
  Bytes folderNames, fileNames;
  std::vector<std::uint32_t> folderNodes, fileNodes;
  for (const IndexFolderRecord& folder : folders) {
    folderNodes.push_back(static_cast<std::uint32_t>(folderNames.size()));
    folderNames.U32(0xFFFFFFFF).U8(static_cast<std::uint8_t>(folder.name.size())).Text(folder.name);
    for (const IndexFileRecord& file : folder.files) {
      fileNodes.push_back(static_cast<std::uint32_t>(fileNames.size()));
      fileNames.U32(0xFFFFFFFF).U8(static_cast<std::uint8_t>(file.name.size())).Text(file.name);
    }
  }
  Bytes index;
  index.U32(0).U32(1).U32(0).Fill(12, 0);  // head, g = 1, one 12-byte record
  index.U32(static_cast<std::uint32_t>(folderNames.size())).Append(folderNames);
  index.U32(static_cast<std::uint32_t>(fileNames.size())).Append(fileNames);
  index.U32(static_cast<std::uint32_t>(folders.size()));
  std::uint32_t first = 0;
  for (std::size_t f = 0; f < folders.size(); ++f) {
    index.U32(0).U32(folderNodes[f]).U32(first).U32(static_cast<std::uint32_t>(folders[f].files.size()));
    first += static_cast<std::uint32_t>(folders[f].files.size());
  }
  index.U32(first);
  std::size_t n = 0;
  for (const IndexFolderRecord& folder : folders) {
    for (const IndexFileRecord& file : folder.files) {
      index.U32(fileNodes[n++]).U32(file.offset).U32(file.stored).U32(file.unpacked).U32(file.archive | (file.compression << 16));
    }
  }
  return index;
}

// ---- fielddefault --------------------------------------------------------------------------------

struct FieldRecord {
  float x, y, z, w;
  std::vector<std::uint32_t> edges;
};

inline Bytes FieldVertexBytes(std::uint32_t index, const FieldRecord& v) {
  Bytes b;
  b.U32(index).F32(v.x).F32(v.y).F32(v.z).F32(v.w).U32(0xFFFFFFFF).U32(static_cast<std::uint32_t>(v.edges.size()));
  for (const std::uint32_t e : v.edges) b.U32(e);
  return b;
}

// A section: name, a stretch of `gap` 0xFF bytes, the vertex list.
inline Bytes FieldSectionBytes(const std::string& name, std::size_t gap, const std::vector<FieldRecord>& vertices) {
  Bytes b;
  b.U32(static_cast<std::uint32_t>(name.size())).Text(name).Fill(gap, 0xFF).U32(static_cast<std::uint32_t>(vertices.size()));
  for (std::size_t i = 0; i < vertices.size(); ++i) b.Append(FieldVertexBytes(static_cast<std::uint32_t>(i), vertices[i]));
  return b;
}

inline Bytes FieldDefaultHead(std::uint32_t sectionCount, std::uint32_t version = 47) {
  Bytes b;
  b.U32(version).Fill(16, 0x11).U32(sectionCount);
  return b;
}

// ---- log output ----------------------------------------------------------------------------------

// The messages of captured log lines, each checked to begin with a "[hh:mm:ss.mmm] " time stamp
// and to end with a line end; a line that does not is returned whole, prefixed with "BAD: ".
inline std::vector<std::string> LogMessages(const std::string& out) {
  std::vector<std::string> messages;
  std::size_t at = 0;
  while (at < out.size()) {
    std::size_t end = out.find('\n', at);
    if (end == std::string::npos) end = out.size();
    const std::string line = out.substr(at, end - at);
    const std::string pattern = "[00:00:00.000] ";
    bool stamped = line.size() >= pattern.size();
    for (std::size_t i = 0; stamped && i < pattern.size(); ++i) {
      stamped = pattern[i] == '0' ? (line[i] >= '0' && line[i] <= '9') : line[i] == pattern[i];
    }
    messages.push_back(stamped && end < out.size() ? line.substr(pattern.size()) : "BAD: " + line);
    at = end + 1;
  }
  return messages;
}

// Whether message is prefix followed by a whole number and " ms".
inline bool IsPrefixAndMilliseconds(const std::string& message, const std::string& prefix) {
  if (message.compare(0, prefix.size(), prefix) != 0 || message.size() < prefix.size() + 4) return false;
  const std::string rest = message.substr(prefix.size());
  const std::size_t digits = rest.find_first_not_of("0123456789");
  return digits > 0 && digits != std::string::npos && rest.substr(digits) == " ms";
}

// ---- files ----------------------------------------------------------------------------------------

// A fresh folder under the system's temporary folder, removed with the object.
class ScratchFolder {
 public:
  ScratchFolder() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = std::filesystem::temp_directory_path() /
            ("pathlight-" + std::string(info->test_suite_name()) + "-" + info->name() + "-" + std::to_string(::getpid()));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~ScratchFolder() { std::filesystem::remove_all(path_); }

  void Write(const std::string& relative, const Bytes& bytes) const {
    const auto file = path_ / relative;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.vector().data()), static_cast<std::streamsize>(bytes.size()));
  }
  [[nodiscard]] std::filesystem::path path() const { return path_; }
  // The folder as the library names paths.
  [[nodiscard]] std::wstring Wide(const std::string& relative = "") const {
    return WidePathFromNative((relative.empty() ? path_ : path_ / relative).string());
  }

 private:
  std::filesystem::path path_;
};

// A game folder whose base index holds the given road tiles (one archive, 0.paz) and optionally a
// fielddefault.
inline void WriteIndexWithTiles(const ScratchFolder& game, const std::string& folder0008, const std::vector<std::pair<std::string, Bytes>>& tiles,
                                const Bytes* fieldDefault = nullptr) {
  Bytes archive;
  IndexFolderRecord roads{"road/rootlevel/roadlevel", {}};
  for (const auto& [name, bytes] : tiles) {
    roads.files.push_back({name, 0, static_cast<std::uint32_t>(archive.size()), static_cast<std::uint32_t>(bytes.size()),
                           static_cast<std::uint32_t>(bytes.size()), 0});
    archive.Append(bytes);
  }
  std::vector<IndexFolderRecord> folders{roads};
  if (fieldDefault != nullptr) {
    folders.push_back({"road/rootlevel/main", {{"fielddefault", 0, static_cast<std::uint32_t>(archive.size()),
                                                static_cast<std::uint32_t>(fieldDefault->size()), static_cast<std::uint32_t>(fieldDefault->size()), 0}}});
    archive.Append(*fieldDefault);
  }
  game.Write(folder0008 + "/0.paz", archive);
  game.Write(folder0008 + "/0.pamt", IndexBytes(folders));
}

}  // namespace pathlight::testing
