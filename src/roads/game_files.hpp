// The file-system services the road loader needs from the OS, and nothing more: list a folder,
// test that a path exists, read a byte range of a file. Paths are wide strings with "\"
// separators, as the game gives them on Windows; the native build maps them to UTF-8 with "/".
// Road loader thread only; nothing here keeps state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace pathlight {

struct FolderEntry {
  std::wstring name;
  bool isFolder = false;
};

// Entries of a folder in the order the OS returns them, including "." and ".." where the OS
// lists those; empty when the folder cannot be listed.
[[nodiscard]] std::vector<FolderEntry> ListFolder(const std::wstring& folder);

// Whether anything (file or folder) exists at the path.
[[nodiscard]] bool PathExists(const std::wstring& path);

// A size with every bit set reads from the offset to the end of the file.
inline constexpr std::uint32_t kReadToEnd = 0xFFFFFFFFu;

// Opens the file for binary reading, seeks to the offset and reads up to size bytes. The result is
// cut to what was read, and never allocated beyond the file's own size, so a bogus size in an
// index cannot exhaust memory. A file that cannot be opened gives an empty vector.
[[nodiscard]] std::vector<std::byte> ReadFileBytes(const std::wstring& path, std::uint64_t offset, std::uint32_t size);

// One file held open for reading many byte ranges, each cut as ReadFileBytes cuts it, into a buffer
// the caller reuses: thousands of small files in one archive cost no open and no allocation each.
class FileRangeReader {
 public:
  explicit FileRangeReader(const std::wstring& path);
  ~FileRangeReader();
  FileRangeReader(const FileRangeReader&) = delete;
  FileRangeReader& operator=(const FileRangeReader&) = delete;

  // What ReadFileBytes(path, offset, size) gives, into out; empty when the file could not be opened.
  void Read(std::uint64_t offset, std::uint32_t size, std::vector<std::byte>& out);
  // The file's size in bytes; -1 when it could not be opened.
  [[nodiscard]] std::int64_t size() const { return end_; }

 private:
  std::FILE* file_ = nullptr;
  std::int64_t end_ = -1;
};

// The platform's part of the two: opening a file for binary reading, and 64-bit seek and tell
// (archives pass 2 GB, where the C runtime's long offsets stop).
[[nodiscard]] std::FILE* OpenFileForReading(const std::wstring& path);
[[nodiscard]] int SeekFile(std::FILE* file, std::int64_t offset, int origin);
[[nodiscard]] std::int64_t TellFile(std::FILE* file);

#if !defined(_WIN32)
// The native tools take folders from their command lines: UTF-8 in, the library's wide form out.
[[nodiscard]] std::wstring WidePathFromNative(std::string_view path);
// The native file name of a library path: UTF-8, "\" becomes "/".
[[nodiscard]] std::string NativePathFromWide(std::wstring_view path);
#endif

}  // namespace pathlight
