#include "roads/archive.hpp"

#include <algorithm>
#include <unordered_map>

#include "platform/paths.hpp"
#include "roads/byte_reader.hpp"
#include "roads/game_files.hpp"

namespace pathlight {

namespace {

constexpr std::uint32_t kNoParentFixed = 0xFFFFFFFFu;
// Deeper chains, and chains that loop, are cut here: a name is never longer than 64 fragments.
constexpr int kMaxNameDepth = 64;
constexpr std::uint64_t kFolderRecordBytes = 16;
constexpr std::uint64_t kFileRecordBytes = 20;

struct NameNode {
  bool hasParent = false;
  std::uint32_t parent = 0;
  std::string_view text;
};

using NameBlock = std::unordered_map<std::uint32_t, NameNode>;

// Reads whole nodes from start until the position reaches or passes start + length; returns the
// position where the last node ended (the next field is read there).
std::uint64_t ParseNameBlock(const ByteReader& reader, std::uint64_t start, std::uint32_t length, bool fixedLinks,
                             NameBlock& block) {
  const std::uint64_t end = start + length;
  std::uint64_t pos = start;
  while (pos < end) {
    const auto nodeOffset = static_cast<std::uint32_t>(pos - start);
    NameNode node;
    if (fixedLinks) {
      const std::uint32_t link = reader.U32(pos);
      pos += 4;
      node.hasParent = link != kNoParentFixed;
      node.parent = link;
    } else {
      // 7-bit groups, lowest first; the distance back to the parent's first byte.
      std::uint64_t back = 0;
      for (unsigned shift = 0;; shift += 7) {
        const std::uint8_t b = reader.U8(pos++);
        if (shift < 64) back |= static_cast<std::uint64_t>(b & 0x7F) << shift;
        if ((b & 0x80) == 0) break;
      }
      node.hasParent = back != 0 && back <= nodeOffset;
      node.parent = node.hasParent ? static_cast<std::uint32_t>(nodeOffset - back) : 0;
    }
    const std::uint8_t textLength = reader.U8(pos++);
    node.text = reader.Text(pos, textLength);
    pos += textLength;
    block[nodeOffset] = node;
  }
  return pos;
}

std::string FullName(const NameBlock& block, std::uint32_t nodeOffset) {
  std::string_view parts[kMaxNameDepth];
  int count = 0;
  std::uint32_t current = nodeOffset;
  while (count < kMaxNameDepth) {
    const auto found = block.find(current);
    if (found == block.end()) break;
    parts[count++] = found->second.text;
    if (!found->second.hasParent) break;
    current = found->second.parent;
  }
  std::string name;
  for (int i = count - 1; i >= 0; --i) name += parts[i];
  return name;
}

struct MatchedFolder {
  std::uint32_t firstFile;
  std::uint32_t fileCount;
};

}  // namespace

std::vector<std::wstring> FindArchiveIndexes(const std::wstring& gameFolder) {
  std::vector<std::wstring> paths{gameFolder + L"\\0008\\0.pamt"};
  for (const FolderEntry& entry : ListFolder(gameFolder + L"\\dlc")) {
    // Dot names cover "." and ".." as well as hidden folders left by tools.
    if (!entry.isFolder || entry.name.empty() || entry.name[0] == L'.') continue;
    paths.push_back(gameFolder + L"\\dlc\\" + entry.name + L"\\0008\\0.pamt");
  }
  return paths;
}

std::vector<ArchiveEntry> ParseArchiveIndex(std::span<const std::byte> index, std::wstring_view indexPath,
                                            std::string_view folderText) {
  const ByteReader reader(index);
  if (reader.size() < 8) throw std::runtime_error("truncated");
  // A 12-byte head and g records of 12 bytes precede the name blocks; with no records the head
  // still takes 16.
  const std::uint64_t g = reader.U32(4);
  const std::uint64_t blockStart = g == 0 ? 16 : 12 + 12 * g;
  const std::uint32_t folderNamesLength = reader.U32(blockStart);
  const bool fixedLinks = reader.U32(blockStart + 4) == kNoParentFixed;

  NameBlock folderNames;
  const std::uint64_t fileNamesAt = ParseNameBlock(reader, blockStart + 4, folderNamesLength, fixedLinks, folderNames);
  const std::uint32_t fileNamesLength = reader.U32(fileNamesAt);
  NameBlock fileNames;
  const std::uint64_t foldersAt = ParseNameBlock(reader, fileNamesAt + 4, fileNamesLength, fixedLinks, fileNames);

  const std::uint32_t folderCount = reader.U32(foldersAt);
  std::vector<MatchedFolder> matched;
  for (std::uint64_t f = 0; f < folderCount; ++f) {
    const std::uint64_t record = foldersAt + 4 + kFolderRecordBytes * f;
    reader.Require(record, kFolderRecordBytes);
    const std::string name = FullName(folderNames, reader.U32(record + 4));
    if (name.size() >= folderText.size() &&
        name.compare(name.size() - folderText.size(), folderText.size(), folderText) == 0) {
      matched.push_back({reader.U32(record + 8), reader.U32(record + 12)});
    }
  }

  const std::uint64_t fileCountAt = foldersAt + 4 + kFolderRecordBytes * folderCount;
  const std::uint32_t fileCount = reader.U32(fileCountAt);
  const std::uint64_t filesAt = fileCountAt + 4;
  const std::wstring folder = CutAtLastSeparator(indexPath);
  std::vector<ArchiveEntry> entries;
  for (const MatchedFolder& m : matched) {
    const std::uint64_t last = static_cast<std::uint64_t>(m.firstFile) + m.fileCount;
    for (std::uint64_t i = m.firstFile; i < last && i < fileCount; ++i) {
      const std::uint64_t record = filesAt + kFileRecordBytes * i;
      reader.Require(record, kFileRecordBytes);
      ArchiveEntry entry;
      entry.name = FullName(fileNames, reader.U32(record));
      entry.offset = reader.U32(record + 4);
      entry.storedSize = reader.U32(record + 8);
      entry.unpackedSize = reader.U32(record + 12);
      const std::uint32_t flags = reader.U32(record + 16);
      entry.compressionKind = static_cast<std::uint8_t>((flags >> 16) & 0xF);
      entry.archivePath = folder + L"\\" + std::to_wstring(flags & 0xFFFF) + L".paz";
      entries.push_back(std::move(entry));
    }
  }
  return entries;
}

std::vector<ArchiveEntry> ListArchiveFolder(const std::wstring& indexPath, std::string_view folderText) {
  const std::vector<std::byte> index = ReadFileBytes(indexPath, 0, kReadToEnd);
  if (index.empty()) return {};
  return ParseArchiveIndex(index, indexPath, folderText);
}

std::vector<std::byte> ReadEntryBytes(const std::wstring& archivePath, std::uint32_t offset, std::uint32_t size) {
  return ReadFileBytes(archivePath, offset, size);
}

FileRangeReader& ArchiveReader::Open(const std::wstring& archivePath) {
  if (file_ == nullptr || archivePath != path_) {
    file_ = std::make_unique<FileRangeReader>(archivePath);
    path_ = archivePath;
  }
  return *file_;
}

void ArchiveReader::Read(const ArchiveEntry& entry, std::vector<std::byte>& out) {
  Open(entry.archivePath).Read(entry.offset, entry.storedSize, out);
}

std::uint64_t ArchiveReader::ReadableBytes(const ArchiveEntry& entry) {
  const std::int64_t size = Open(entry.archivePath).size();
  if (size < 0 || entry.offset >= static_cast<std::uint64_t>(size)) return 0;
  return std::min<std::uint64_t>(entry.storedSize, static_cast<std::uint64_t>(size) - entry.offset);
}

}  // namespace pathlight
