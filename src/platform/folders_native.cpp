#include <unistd.h>

#include <cstdlib>

#include "platform/folders.hpp"
#include "platform/paths.hpp"

namespace pathlight {

namespace {

std::wstring Widen(const char* text) {
  std::wstring wide;
  std::mbstate_t state{};
  wchar_t c;
  const char* end = text + std::char_traits<char>::length(text);
  while (text < end) {
    const std::size_t used = std::mbrtowc(&c, text, static_cast<std::size_t>(end - text), &state);
    if (used == 0 || used > static_cast<std::size_t>(end - text)) {  // invalid byte: keep it as is
      wide.push_back(static_cast<unsigned char>(*text++));
      state = {};
      continue;
    }
    wide.push_back(c);
    text += used;
  }
  return wide;
}

}  // namespace

void SetLibraryModule(void*) {}

std::wstring HostExecutablePath() {
  char path[4096];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  path[length > 0 ? length : 0] = '\0';
  return Widen(path);
}

std::wstring ModuleFileName(void* module) { return module == nullptr ? HostExecutablePath() : std::wstring(); }

std::wstring GetModuleFolder() { return ModuleFolderFromPath(HostExecutablePath()); }

std::wstring GetGameFolder() { return GameFolderFromPath(HostExecutablePath()); }

}  // namespace pathlight
