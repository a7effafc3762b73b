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

// ReadFileBytes's work on a file each platform opens: the platform's 64-bit seek and tell (archives
// pass 2 GB, where the C runtime's long offsets stop). Closes the file; a null file reads nothing.
struct FileSeeking {
  int (*seek)(std::FILE* file, std::int64_t offset, int origin);
  std::int64_t (*tell)(std::FILE* file);
};
[[nodiscard]] std::vector<std::byte> ReadOpenedFileBytes(std::FILE* file, const FileSeeking& seeking,
                                                         std::uint64_t offset, std::uint32_t size);

#if !defined(_WIN32)
// The native tools take folders from their command lines: UTF-8 in, the library's wide form out.
[[nodiscard]] std::wstring WidePathFromNative(std::string_view path);
// The native file name of a library path: UTF-8, "\" becomes "/".
[[nodiscard]] std::string NativePathFromWide(std::wstring_view path);
#endif

}  // namespace pathlight
