// The game's archive reader: finding the archive indexes (".pamt") of the base game and of every
// downloadable package, listing the files of a folder in an index, and reading a file's bytes out
// of its numbered archive (".paz"). It knows nothing of roads. Road loader thread only; nothing is
// cached, every listing reads and parses its index again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "roads/game_files.hpp"

namespace pathlight {

struct ArchiveEntry {
  std::string name;          // full file name, without its folder
  std::wstring archivePath;  // <index folder>\<archive number>.paz
  std::uint32_t offset = 0;
  std::uint32_t storedSize = 0;
  std::uint32_t unpackedSize = 0;
  std::uint8_t compressionKind = 0;  // 0: stored as they are
};

// Index paths, base game first, then one per package folder under "dlc" in the order the OS lists
// them (folders only, none whose name begins with "."). Paths are listed whether or not the index
// exists; callers test each before use.
[[nodiscard]] std::vector<std::wstring> FindArchiveIndexes(const std::wstring& gameFolder);

// Entries of every folder of the index whose full name ends with folderText (byte-wise, case
// sensitive), folders in record order, files in record order. A missing or empty index lists
// nothing; a malformed one raises std::runtime_error("truncated").
[[nodiscard]] std::vector<ArchiveEntry> ListArchiveFolder(const std::wstring& indexPath, std::string_view folderText);

// The parsing behind ListArchiveFolder, over an index already in memory; the archives lie in the
// folder of indexPath.
[[nodiscard]] std::vector<ArchiveEntry> ParseArchiveIndex(std::span<const std::byte> index, std::wstring_view indexPath,
                                                          std::string_view folderText);

// size bytes from offset (kReadToEnd: to the end of the archive), cut to what could be read;
// empty when the archive cannot be opened. The caller compares the length.
[[nodiscard]] std::vector<std::byte> ReadEntryBytes(const std::wstring& archivePath, std::uint32_t offset,
                                                    std::uint32_t size);

// Entries' stored bytes, each as ReadEntryBytes reads them, with the last archive kept open: the
// files of an index lie archive after archive.
class ArchiveReader {
 public:
  void Read(const ArchiveEntry& entry, std::vector<std::byte>& out);
  // How many of the entry's stored bytes Read would give.
  [[nodiscard]] std::uint64_t ReadableBytes(const ArchiveEntry& entry);

 private:
  FileRangeReader& Open(const std::wstring& archivePath);
  std::wstring path_;
  std::unique_ptr<FileRangeReader> file_;
};

}  // namespace pathlight
