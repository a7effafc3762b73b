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

std::FILE* OpenFileForReading(const std::wstring& path) { return _wfopen(path.c_str(), L"rb"); }

int SeekFile(std::FILE* file, std::int64_t offset, int origin) { return _fseeki64(file, offset, origin); }

std::int64_t TellFile(std::FILE* file) { return static_cast<std::int64_t>(_ftelli64(file)); }

}  // namespace pathlight
