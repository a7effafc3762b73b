#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>

#include "platform/utf8.hpp"
#include "roads/game_files.hpp"

namespace pathlight {

std::string NativePathFromWide(std::wstring_view path) {
  std::wstring slashed(path);
  std::replace(slashed.begin(), slashed.end(), L'\\', L'/');
  return ToUtf8(slashed);
}

std::wstring WidePathFromNative(std::string_view path) {
  // UTF-8 decoding; a byte that does not start a valid sequence stands for itself, so no name
  // that the file system gave us is lost.
  std::wstring out;
  for (std::size_t i = 0; i < path.size();) {
    const auto b = static_cast<unsigned char>(path[i]);
    const int extra = b >= 0xF0 && b < 0xF8 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : 0;
    std::uint32_t c = extra == 3 ? b & 0x07u : extra == 2 ? b & 0x0Fu : extra == 1 ? b & 0x1Fu : b;
    bool valid = b < 0x80 || extra > 0;
    for (int k = 1; valid && k <= extra; ++k) {
      if (i + k >= path.size() || (static_cast<unsigned char>(path[i + k]) & 0xC0) != 0x80)
        valid = false;
      else
        c = (c << 6) | (static_cast<unsigned char>(path[i + k]) & 0x3Fu);
    }
    if (!valid) {
      out.push_back(static_cast<wchar_t>(b));
      ++i;
      continue;
    }
    out.push_back(static_cast<wchar_t>(c));
    i += static_cast<std::size_t>(extra) + 1;
  }
  return out;
}

std::vector<FolderEntry> ListFolder(const std::wstring& folder) {
  std::vector<FolderEntry> entries;
  const std::string native = NativePathFromWide(folder);
  DIR* dir = opendir(native.c_str());
  if (dir == nullptr) return entries;
  while (const dirent* entry = readdir(dir)) {
    bool isFolder = entry->d_type == DT_DIR;
    if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
      struct stat info {};
      isFolder = stat((native + "/" + entry->d_name).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    }
    entries.push_back({WidePathFromNative(entry->d_name), isFolder});
  }
  closedir(dir);
  return entries;
}

bool PathExists(const std::wstring& path) {
  struct stat info {};
  return stat(NativePathFromWide(path).c_str(), &info) == 0;
}

std::FILE* OpenFileForReading(const std::wstring& path) { return std::fopen(NativePathFromWide(path).c_str(), "rb"); }

int SeekFile(std::FILE* file, std::int64_t offset, int origin) {
  return fseeko(file, static_cast<off_t>(offset), origin);
}

std::int64_t TellFile(std::FILE* file) { return static_cast<std::int64_t>(ftello(file)); }

}  // namespace pathlight
