// Pathlight's loader: a version.dll that the game picks up from its own folder (Windows looks
// there before the system folder for a DLL that is not one of the "known DLLs"). It answers every
// version.dll call through the system's copy and loads Pathlight.dll from its own folder.
//
// Loader lock: DllMain runs under it, and loading a library from there can deadlock or run
// Pathlight's start before the process is initialised. So DllMain only starts a thread. That
// thread cannot get past its own start-up notification until the process's initialisation has
// released the lock, and then loads Pathlight.dll with nothing held: it waits for nothing while
// the lock is held, and the game's main thread never waits for it. It runs before the game's
// window and device exist, which is what Pathlight needs to see the first DXGI factory; Pathlight's
// own start-up then runs on a thread of its own as always.
//
// Forwarding: export forwarders name a module, not a path, and "version" would name this very
// DLL; so each export is a small function that resolves the system's function on first use (the
// system folder's version.dll, by full path) and calls it with the same arguments. Resolution may
// happen under the loader lock when another DLL's entry point calls us; loading a system DLL there
// is what Windows' own delay-load helper does, and the lock is re-entrant on its thread.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

namespace {

HMODULE g_self = nullptr;

std::wstring FolderOf(HMODULE module) {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
  std::wstring text(path, length);
  const std::size_t slash = text.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : text.substr(0, slash);
}

HMODULE SystemVersion() {
  static std::atomic<HMODULE> module{nullptr};
  HMODULE loaded = module.load();
  if (loaded == nullptr) {
    wchar_t folder[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    loaded = LoadLibraryW((std::wstring(folder, length) + L"\\version.dll").c_str());
    module.store(loaded);
  }
  return loaded;
}

FARPROC SystemFunction(const char* name) {
  HMODULE module = SystemVersion();
  return module != nullptr ? GetProcAddress(module, name) : nullptr;
}

DWORD WINAPI LoadPathlight(LPVOID) {
  const std::wstring library = FolderOf(g_self) + L"\\Pathlight.dll";
  // Kept loaded for the life of the process; a missing library leaves the game as it is.
  LoadLibraryW(library.c_str());
  return 0;
}

}  // namespace

// Each proxy looks its function up once and calls it; a function the system's version.dll lacks
// fails as a missing one would.
#define PATHLIGHT_PROXY(ret, name, failure, params, args)                          \
  extern "C" ret WINAPI Proxy_##name params {                                      \
    using Fn = ret(WINAPI*) params;                                                 \
    static const Fn real = reinterpret_cast<Fn>(reinterpret_cast<void*>(SystemFunction(#name))); \
    if (real == nullptr) {                                                          \
      SetLastError(ERROR_PROC_NOT_FOUND);                                           \
      return failure;                                                               \
    }                                                                               \
    return real args;                                                               \
  }

PATHLIGHT_PROXY(BOOL, GetFileVersionInfoA, FALSE, (LPCSTR file, DWORD handle, DWORD length, LPVOID data),
                (file, handle, length, data))
// Undocumented; four arguments in registers, passed on as they came.
PATHLIGHT_PROXY(BOOL, GetFileVersionInfoByHandle, FALSE, (DWORD flags, HANDLE file, LPVOID* data, PDWORD length),
                (flags, file, data, length))
PATHLIGHT_PROXY(BOOL, GetFileVersionInfoExA, FALSE,
                (DWORD flags, LPCSTR file, DWORD handle, DWORD length, LPVOID data),
                (flags, file, handle, length, data))
PATHLIGHT_PROXY(BOOL, GetFileVersionInfoExW, FALSE,
                (DWORD flags, LPCWSTR file, DWORD handle, DWORD length, LPVOID data),
                (flags, file, handle, length, data))
PATHLIGHT_PROXY(DWORD, GetFileVersionInfoSizeA, 0, (LPCSTR file, LPDWORD handle), (file, handle))
PATHLIGHT_PROXY(DWORD, GetFileVersionInfoSizeExA, 0, (DWORD flags, LPCSTR file, LPDWORD handle),
                (flags, file, handle))
PATHLIGHT_PROXY(DWORD, GetFileVersionInfoSizeExW, 0, (DWORD flags, LPCWSTR file, LPDWORD handle),
                (flags, file, handle))
PATHLIGHT_PROXY(DWORD, GetFileVersionInfoSizeW, 0, (LPCWSTR file, LPDWORD handle), (file, handle))
PATHLIGHT_PROXY(BOOL, GetFileVersionInfoW, FALSE, (LPCWSTR file, DWORD handle, DWORD length, LPVOID data),
                (file, handle, length, data))
PATHLIGHT_PROXY(DWORD, VerFindFileA, 0,
                (DWORD flags, LPCSTR file, LPCSTR winDir, LPCSTR appDir, LPSTR curDir, PUINT curDirLength,
                 LPSTR destDir, PUINT destDirLength),
                (flags, file, winDir, appDir, curDir, curDirLength, destDir, destDirLength))
PATHLIGHT_PROXY(DWORD, VerFindFileW, 0,
                (DWORD flags, LPCWSTR file, LPCWSTR winDir, LPCWSTR appDir, LPWSTR curDir, PUINT curDirLength,
                 LPWSTR destDir, PUINT destDirLength),
                (flags, file, winDir, appDir, curDir, curDirLength, destDir, destDirLength))
PATHLIGHT_PROXY(DWORD, VerInstallFileA, 0,
                (DWORD flags, LPCSTR source, LPCSTR dest, LPCSTR sourceDir, LPCSTR destDir, LPCSTR curDir,
                 LPSTR tmpFile, PUINT tmpFileLength),
                (flags, source, dest, sourceDir, destDir, curDir, tmpFile, tmpFileLength))
PATHLIGHT_PROXY(DWORD, VerInstallFileW, 0,
                (DWORD flags, LPCWSTR source, LPCWSTR dest, LPCWSTR sourceDir, LPCWSTR destDir, LPCWSTR curDir,
                 LPWSTR tmpFile, PUINT tmpFileLength),
                (flags, source, dest, sourceDir, destDir, curDir, tmpFile, tmpFileLength))
PATHLIGHT_PROXY(DWORD, VerLanguageNameA, 0, (DWORD language, LPSTR name, DWORD size), (language, name, size))
PATHLIGHT_PROXY(DWORD, VerLanguageNameW, 0, (DWORD language, LPWSTR name, DWORD size), (language, name, size))
PATHLIGHT_PROXY(BOOL, VerQueryValueA, FALSE, (LPCVOID block, LPCSTR subBlock, LPVOID* buffer, PUINT length),
                (block, subBlock, buffer, length))
PATHLIGHT_PROXY(BOOL, VerQueryValueW, FALSE, (LPCVOID block, LPCWSTR subBlock, LPVOID* buffer, PUINT length),
                (block, subBlock, buffer, length))

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_self = instance;
    DisableThreadLibraryCalls(instance);
    if (HANDLE thread = CreateThread(nullptr, 0, &LoadPathlight, nullptr, 0, nullptr); thread != nullptr) {
      CloseHandle(thread);
    }
  }
  return TRUE;
}
