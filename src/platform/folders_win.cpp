#include <windows.h>

#include "platform/folders.hpp"
#include "platform/paths.hpp"

namespace pathlight {

namespace {

HMODULE g_libraryModule = nullptr;

std::wstring ModulePath(HMODULE module) {
  wchar_t path[kPathChars] = {};
  const DWORD length = GetModuleFileNameW(module, path, static_cast<DWORD>(kPathChars));
  return std::wstring(path, length < kPathChars ? length : kPathChars);
}

}  // namespace

void SetLibraryModule(void* module) { g_libraryModule = static_cast<HMODULE>(module); }

std::wstring HostExecutablePath() { return ModulePath(nullptr); }

std::wstring GetModuleFolder() { return ModuleFolderFromPath(ModulePath(g_libraryModule)); }

std::wstring GetGameFolder() { return GameFolderFromPath(HostExecutablePath()); }

}  // namespace pathlight
