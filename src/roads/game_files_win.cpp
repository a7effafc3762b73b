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
  std::vector<std::byte> bytes;
  std::FILE* file = _wfopen(path.c_str(), L"rb");
  if (file == nullptr) return bytes;
  // 64-bit seeks: archives pass 2 GB, where the C runtime's long offsets stop.
  long long end = -1;
  if (_fseeki64(file, 0, SEEK_END) == 0) end = _ftelli64(file);
  if (end >= 0 && offset < static_cast<std::uint64_t>(end) && _fseeki64(file, static_cast<long long>(offset), SEEK_SET) == 0) {
    const std::uint64_t left = static_cast<std::uint64_t>(end) - offset;
    bytes.resize(static_cast<std::size_t>(size == kReadToEnd || size > left ? left : size));
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
  }
  std::fclose(file);
  return bytes;
}

}  // namespace pathlight
