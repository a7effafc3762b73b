#include <windows.h>

#include <cstdio>

#include "roads/game_files.hpp"

namespace pathlight {

std::vector<FolderEntry> ListFolder(const std::wstring& folder) {
  std::vector<FolderEntry> entries;
  WIN32_FIND_DATAW found;
  const std::wstring pattern = folder + L"\\*";
  HANDLE search = FindFirstFileW(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return entries;
  do {
    entries.push_back({found.cFileName, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return entries;
}

bool PathExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::vector<std::byte> ReadFileBytes(const std::wstring& path, std::uint64_t offset, std::uint32_t size) {
  // 64-bit seeks: archives pass 2 GB, where the C runtime's long offsets stop.
  static constexpr FileSeeking kSeeking = {
      [](std::FILE* file, std::int64_t offset, int origin) { return _fseeki64(file, offset, origin); },
      [](std::FILE* file) { return static_cast<std::int64_t>(_ftelli64(file)); }};
  return ReadOpenedFileBytes(_wfopen(path.c_str(), L"rb"), kSeeking, offset, size);
}

}  // namespace pathlight
