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
// is what Windows' own delay-load helper does, and the lock is re-entrant on its thread. Nothing
// else is held meanwhile: the resolved pointers are plain atomics, never a function-local static
// whose guard a second thread would wait on while the first waits for the loader lock that the
// second holds.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

namespace {

HMODULE g_self = nullptr;

// A module's full path, however long; empty when the system cannot give it whole.
std::wstring ModulePath(HMODULE module) {
  std::wstring path(MAX_PATH, L'\0');
  while (path.size() <= 32768) {
    SetLastError(ERROR_SUCCESS);
    const DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size() && GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
  return {};
}

// The folder of the path, without its trailing separator; empty when there is none.
std::wstring FolderOf(const std::wstring& path) {
  const std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos || slash == 0 ? std::wstring() : path.substr(0, slash);
}

std::wstring SystemFolder() {
  std::wstring folder(MAX_PATH, L'\0');
  UINT length = GetSystemDirectoryW(folder.data(), static_cast<UINT>(folder.size()));
  if (length >= folder.size()) {
    folder.resize(length + 1);
    length = GetSystemDirectoryW(folder.data(), static_cast<UINT>(folder.size()));
  }
  if (length == 0 || length >= folder.size()) return {};
  folder.resize(length);
  return folder;
}

// The system's version.dll; null when it cannot be had. A set-up that resolves the system path
// back to this very file (a copy of the loader in the system folder, a redirect) would make every
// export call itself until the stack overflows: that copy is refused.
HMODULE SystemVersion() {
  static std::atomic<HMODULE> module{nullptr};  // constant-initialised: no guard
  static std::atomic<bool> refused{false};
  if (HMODULE loaded = module.load(std::memory_order_acquire); loaded != nullptr) return loaded;
  if (refused.load(std::memory_order_acquire)) return nullptr;
  const std::wstring folder = SystemFolder();
  if (folder.empty()) return nullptr;
  HMODULE loaded = LoadLibraryW((folder + L"\\version.dll").c_str());
  if (loaded == nullptr) return nullptr;
  if (loaded == g_self) {
    FreeLibrary(loaded);
    refused.store(true, std::memory_order_release);
    return nullptr;
  }
  HMODULE expected = nullptr;
  // Two threads may both have loaded it: the second gives its reference back.
  if (!module.compare_exchange_strong(expected, loaded, std::memory_order_acq_rel)) {
    FreeLibrary(loaded);
    return expected;
  }
  return loaded;
}

FARPROC SystemFunction(const char* name) {
  HMODULE module = SystemVersion();
  return module != nullptr ? GetProcAddress(module, name) : nullptr;
}

DWORD WINAPI LoadPathlight(LPVOID) {
  // Without this DLL's own folder there is no Pathlight.dll to load: never a path of the drive's root.
  const std::wstring folder = FolderOf(ModulePath(g_self));
  if (folder.empty()) return 0;
  // Kept loaded for the life of the process; a missing library leaves the game as it is.
  LoadLibraryW((folder + L"\\Pathlight.dll").c_str());
  return 0;
}

}  // namespace

// Each proxy looks its function up once and calls it; a function the system's version.dll lacks
// fails as a missing one would.
#define PATHLIGHT_PROXY(ret, name, failure, params, args)                          \
  extern "C" ret WINAPI Proxy_##name params {                                      \
    using Fn = ret(WINAPI*) params;                                                \
    static std::atomic<Fn> resolved{nullptr};                                      \
    Fn real = resolved.load(std::memory_order_acquire);                            \
    if (real == nullptr) {                                                         \
      real = reinterpret_cast<Fn>(reinterpret_cast<void*>(SystemFunction(#name))); \
      resolved.store(real, std::memory_order_release);                             \
    }                                                                              \
    if (real == nullptr) {                                                         \
      SetLastError(ERROR_PROC_NOT_FOUND);                                          \
      return failure;                                                              \
    }                                                                              \
    return real args;                                                              \
  }

PATHLIGHT_PROXY(BOOL, GetFileVersionInfoA, FALSE, (LPCSTR file, DWORD handle, DWORD length, LPVOID data),
                (file, handle, length, data))
// Undocumented; four arguments in registers, passed on as they came.
PATHLIGHT_PROXY(BOOL, GetFileVersionInfoByHandle, FALSE, (DWORD flags, HANDLE file, LPVOID* data, PDWORD length),
                (flags, file, data, length))
PATHLIGHT_PROXY(BOOL, GetFileVersionInfoExA, FALSE, (DWORD flags, LPCSTR file, DWORD handle, DWORD length, LPVOID data),
                (flags, file, handle, length, data))
PATHLIGHT_PROXY(BOOL, GetFileVersionInfoExW, FALSE,
                (DWORD flags, LPCWSTR file, DWORD handle, DWORD length, LPVOID data),
                (flags, file, handle, length, data))
PATHLIGHT_PROXY(DWORD, GetFileVersionInfoSizeA, 0, (LPCSTR file, LPDWORD handle), (file, handle))
PATHLIGHT_PROXY(DWORD, GetFileVersionInfoSizeExA, 0, (DWORD flags, LPCSTR file, LPDWORD handle), (flags, file, handle))
PATHLIGHT_PROXY(DWORD, GetFileVersionInfoSizeExW, 0, (DWORD flags, LPCWSTR file, LPDWORD handle), (flags, file, handle))
PATHLIGHT_PROXY(DWORD, GetFileVersionInfoSizeW, 0, (LPCWSTR file, LPDWORD handle), (file, handle))
PATHLIGHT_PROXY(BOOL, GetFileVersionInfoW, FALSE, (LPCWSTR file, DWORD handle, DWORD length, LPVOID data),
                (file, handle, length, data))
// VerFindFile and VerInstallFile answer bit masks in which 0 means success: without the system's
// copy, the file is "in use" and the source "cannot be read", which an installer takes as failures.
PATHLIGHT_PROXY(DWORD, VerFindFileA, VFF_FILEINUSE,
                (DWORD flags, LPCSTR file, LPCSTR winDir, LPCSTR appDir, LPSTR curDir, PUINT curDirLength,
                 LPSTR destDir, PUINT destDirLength),
                (flags, file, winDir, appDir, curDir, curDirLength, destDir, destDirLength))
PATHLIGHT_PROXY(DWORD, VerFindFileW, VFF_FILEINUSE,
                (DWORD flags, LPCWSTR file, LPCWSTR winDir, LPCWSTR appDir, LPWSTR curDir, PUINT curDirLength,
                 LPWSTR destDir, PUINT destDirLength),
                (flags, file, winDir, appDir, curDir, curDirLength, destDir, destDirLength))
PATHLIGHT_PROXY(DWORD, VerInstallFileA, VIF_CANNOTREADSRC,
                (DWORD flags, LPCSTR source, LPCSTR dest, LPCSTR sourceDir, LPCSTR destDir, LPCSTR curDir,
                 LPSTR tmpFile, PUINT tmpFileLength),
                (flags, source, dest, sourceDir, destDir, curDir, tmpFile, tmpFileLength))
PATHLIGHT_PROXY(DWORD, VerInstallFileW, VIF_CANNOTREADSRC,
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
