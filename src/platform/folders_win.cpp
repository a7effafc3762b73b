#include <windows.h>

#include "platform/folders.hpp"
#include "platform/paths.hpp"

namespace pathlight {

namespace {

HMODULE g_libraryModule = nullptr;

}  // namespace

std::wstring ModuleFileName(void* module) {
  wchar_t path[kPathChars] = {};
  const DWORD length = GetModuleFileNameW(static_cast<HMODULE>(module), path, static_cast<DWORD>(kPathChars));
  return std::wstring(path, length < kPathChars ? length : kPathChars);
}

void SetLibraryModule(void* module) { g_libraryModule = static_cast<HMODULE>(module); }

std::wstring HostExecutablePath() { return ModuleFileName(nullptr); }

std::wstring GetModuleFolder() { return ModuleFolderFromPath(ModuleFileName(g_libraryModule)); }

std::wstring GetGameFolder() { return GameFolderFromPath(HostExecutablePath()); }

}  // namespace pathlight
