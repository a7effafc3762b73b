// Hand-made bytes of the game's road formats, written field by field from the format tables (not
// by worldgen), a scratch game folder, and the captured log's messages.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "log_capture.hpp"
#include "roads/game_files.hpp"

namespace pathlight::testing {

class Bytes {
 public:
  Bytes& U8(std::uint8_t v) { return data_.push_back(static_cast<std::byte>(v)), *this; }
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
    return data_.insert(data_.end(), count, static_cast<std::byte>(v)), *this;
  }
  Bytes& Append(const Bytes& other) { return data_.insert(data_.end(), other.data_.begin(), other.data_.end()), *this; }
  Bytes& PatchU32(std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) data_[at + i] = static_cast<std::byte>(v >> (8 * i));
    return *this;
  }
  // Keeps the first size bytes.
  void CutTo(std::size_t size) {
    data_.erase(data_.begin() + static_cast<std::ptrdiff_t>(std::min(size, data_.size())), data_.end());
  }
  [[nodiscard]] std::size_t size() const { return data_.size(); }
  [[nodiscard]] std::span<const std::byte> span() const { return data_; }
  [[nodiscard]] const std::vector<std::byte>& vector() const { return data_; }

 private:
  std::vector<std::byte> data_;
};

// ---- road tiles: edge record 43 + 4a bytes, vertex record 28 + 4k bytes --------------------------

struct EdgeRecord {
  std::uint32_t first, last;
  std::vector<std::uint32_t> inner;
};
struct VertexRecord {
  std::uint32_t id;
  float x, y, z;
  std::uint32_t k = 0;
};
struct Layer {
  std::string name;
  std::vector<EdgeRecord> edges;
  std::vector<VertexRecord> vertices;
};

inline Bytes LayerBytes(const Layer& layer) {
  Bytes b;
  b.U32(static_cast<std::uint32_t>(layer.name.size()))
      .Text(layer.name)
      .U32(static_cast<std::uint32_t>(layer.edges.size()));
  for (const EdgeRecord& e : layer.edges) {
    b.Fill(26, 0xAA).U32(e.first).U32(e.last).U32(static_cast<std::uint32_t>(e.inner.size()));
    for (const std::uint32_t id : e.inner) b.U32(id);
    b.Fill(5, 0xBB);
  }
  b.U32(static_cast<std::uint32_t>(layer.vertices.size()));
  for (const VertexRecord& v : layer.vertices)
    b.U32(v.id).F32(v.x).F32(v.y).F32(v.z).Fill(8, 0xCC).U32(v.k).Fill(4 * v.k, 0xDD);
  return b;
}

// Chunk 0 holds the layers, chunks 1 to 15 none; chunkLengthError is added to chunk 0's declared
// length.
inline Bytes TileBytes(const std::vector<Layer>& layers, std::uint32_t version = 47,
                       std::int32_t chunkLengthError = 0) {
  Bytes chunk0;
  chunk0.U32(static_cast<std::uint32_t>(layers.size()));
  for (const Layer& layer : layers) chunk0.Append(LayerBytes(layer));
  Bytes tile;
  tile.U32(version).Fill(8, 0).U32(16 + 8 * 16);
  for (int j = 0; j < 16; ++j)
    tile.U32(j == 0 ? static_cast<std::uint32_t>(chunk0.size() + chunkLengthError) : 4).U32(0);
  tile.Append(chunk0);
  for (int j = 1; j < 16; ++j) tile.U32(0);
  return tile;
}

// ---- archive index: g = 1, fixed parent links, every name one root node ---------------------------

struct IndexFileRecord {
  std::string name;
  std::uint32_t archive = 0, offset = 0, stored = 0, unpacked = 0, compression = 0;
};
struct IndexFolderRecord {
  std::string name;
  std::vector<IndexFileRecord> files;
};

inline Bytes IndexBytes(const std::vector<IndexFolderRecord>& folders) {
  Bytes folderNames, fileNames, folderRecords, fileRecords;
  std::uint32_t first = 0;
  for (const IndexFolderRecord& folder : folders) {
    folderRecords.U32(0)
        .U32(static_cast<std::uint32_t>(folderNames.size()))
        .U32(first)
        .U32(static_cast<std::uint32_t>(folder.files.size()));
    folderNames.U32(0xFFFFFFFF).U8(static_cast<std::uint8_t>(folder.name.size())).Text(folder.name);
    for (const IndexFileRecord& f : folder.files) {
      fileRecords.U32(static_cast<std::uint32_t>(fileNames.size()))
          .U32(f.offset)
          .U32(f.stored)
          .U32(f.unpacked)
          .U32(f.archive | (f.compression << 16));
      fileNames.U32(0xFFFFFFFF).U8(static_cast<std::uint8_t>(f.name.size())).Text(f.name);
      ++first;
    }
  }
  Bytes index;
  index.U32(0).U32(1).U32(0).Fill(12, 0);
  index.U32(static_cast<std::uint32_t>(folderNames.size()))
      .Append(folderNames)
      .U32(static_cast<std::uint32_t>(fileNames.size()))
      .Append(fileNames);
  return index.U32(static_cast<std::uint32_t>(folders.size())).Append(folderRecords).U32(first).Append(fileRecords);
}

// ---- fielddefault: vertex record 28 + 4k bytes; the unread word all ones -------------------------

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

// Name, `gap` bytes 0xFF, the vertex list.
inline Bytes FieldSectionBytes(const std::string& name, std::size_t gap, const std::vector<FieldRecord>& vertices) {
  Bytes b;
  b.U32(static_cast<std::uint32_t>(name.size()))
      .Text(name)
      .Fill(gap, 0xFF)
      .U32(static_cast<std::uint32_t>(vertices.size()));
  for (std::size_t i = 0; i < vertices.size(); ++i)
    b.Append(FieldVertexBytes(static_cast<std::uint32_t>(i), vertices[i]));
  return b;
}

inline Bytes FieldDefaultHead(std::uint32_t sectionCount, std::uint32_t version = 47) {
  return Bytes{}.U32(version).Fill(16, 0x11).U32(sectionCount);
}

// Whether message is prefix, a whole number and " ms".
inline bool IsPrefixAndMilliseconds(const std::string& message, const std::string& prefix) {
  const std::size_t digits = message.find_first_not_of("0123456789", prefix.size());
  return message.compare(0, prefix.size(), prefix) == 0 && digits > prefix.size() && digits != std::string::npos &&
         message.substr(digits) == " ms";
}

// ---- files -----------------------------------------------------------------------------------------

// A fresh folder under the temporary folder, removed with the object.
class ScratchFolder {
 public:
  ScratchFolder() {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = std::filesystem::temp_directory_path() /
            (std::string("pathlight-") + test->name() + "-" + std::to_string(::getpid()));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~ScratchFolder() { std::filesystem::remove_all(path_); }

  void Write(const std::string& relative, const Bytes& bytes) const {
    std::filesystem::create_directories((path_ / relative).parent_path());
    std::ofstream(path_ / relative, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.vector().data()), static_cast<std::streamsize>(bytes.size()));
  }
  [[nodiscard]] const std::filesystem::path& path() const { return path_; }
  // The path as the library names it.
  [[nodiscard]] std::wstring Wide(const std::string& relative = "") const {
    return WidePathFromNative((relative.empty() ? path_ : path_ / relative).string());
  }

 private:
  std::filesystem::path path_;
};

// An index (folder0008/0.pamt) whose tiles, and fielddefault if given, lie in folder0008/0.paz.
inline void WriteIndexWithTiles(const ScratchFolder& game, const std::string& folder0008,
                                const std::vector<std::pair<std::string, Bytes>>& tiles,
                                const Bytes* fieldDefault = nullptr) {
  Bytes archive;
  std::vector<IndexFolderRecord> folders{{"road/rootlevel/roadlevel", {}}, {"road/rootlevel/main", {}}};
  auto add = [&](IndexFolderRecord& folder, const std::string& name, const Bytes& bytes) {
    const auto size = static_cast<std::uint32_t>(bytes.size());
    folder.files.push_back({name, 0, static_cast<std::uint32_t>(archive.size()), size, size, 0});
    archive.Append(bytes);
  };
  for (const auto& [name, bytes] : tiles) add(folders[0], name, bytes);
  if (fieldDefault != nullptr) add(folders[1], "fielddefault", *fieldDefault);
  game.Write(folder0008 + "/0.paz", archive);
  game.Write(folder0008 + "/0.pamt", IndexBytes(folders));
}

}  // namespace pathlight::testing
