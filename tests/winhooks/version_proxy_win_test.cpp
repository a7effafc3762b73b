// The loader's version.dll answers as the system's does: every export forwards with its
// arguments unchanged; without the system's copy, or when the system's path leads back to the
// loader itself, each export fails as its callers expect. Loaded here under other names, so that
// Wine does not put its own in its place; its thread then finds no Pathlight.dll beside it and does
// nothing.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <cwctype>
#include <string>
#include <vector>

namespace {

// A copy of the built loader in the temporary folder under `name`, loaded.
HMODULE LoadCopy(const wchar_t* name, std::wstring& path) {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  path = std::wstring(temp) + name;
  const std::string built = PATHLIGHT_LOADER_DLL;
  if (!CopyFileW(std::wstring(L"Z:" + std::wstring(built.begin(), built.end())).c_str(), path.c_str(), FALSE)) {
    return nullptr;
  }
  return LoadLibraryW(path.c_str());
}

// Points `module`'s import of kernel32's `function` at `replacement`; false when it imports none.
bool PatchImport(HMODULE module, const char* function, void* replacement) {
  auto* base = reinterpret_cast<unsigned char*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  for (auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); d->Name != 0; ++d) {
    if (_stricmp(reinterpret_cast<const char*>(base + d->Name), "kernel32.dll") != 0) continue;
    auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0) continue;
      DWORD old = 0;
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &old);
      slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, old, &old);
      return true;
    }
  }
  return false;
}

// What the patched loader's LoadLibraryW finds for the system's version.dll.
enum class SystemCopy { kMissing, kItself };
std::atomic<SystemCopy> g_systemCopy{SystemCopy::kMissing};
std::wstring g_itself;
std::atomic<int> g_systemLoads{0};

HMODULE WINAPI LoadLibraryAsTold(LPCWSTR path) {
  std::wstring lower(path != nullptr ? path : L"");
  for (wchar_t& c : lower) c = static_cast<wchar_t>(std::towlower(c));
  const std::wstring tail = L"\\version.dll";
  if (lower.size() < tail.size() || lower.compare(lower.size() - tail.size(), tail.size(), tail) != 0) {
    return LoadLibraryW(path);
  }
  g_systemLoads.fetch_add(1);
  if (g_systemCopy.load() == SystemCopy::kItself) return LoadLibraryW(g_itself.c_str());  // a reference of its own
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

template <typename Fn> Fn Get(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

TEST(VersionProxy, ForwardedExportsGiveTheSystemsAnswers) {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring copy = std::wstring(temp) + L"pathlight_version_proxy.dll";
  const std::string built = PATHLIGHT_LOADER_DLL;
  ASSERT_TRUE(CopyFileW(std::wstring(L"Z:" + std::wstring(built.begin(), built.end())).c_str(), copy.c_str(), FALSE));
  HMODULE proxy = LoadLibraryW(copy.c_str());
  ASSERT_NE(proxy, nullptr);

  wchar_t kernel[MAX_PATH] = {};
  GetSystemDirectoryW(kernel, MAX_PATH);
  const std::wstring file = std::wstring(kernel) + L"\\kernel32.dll";

  using SizeW = DWORD(WINAPI*)(LPCWSTR, LPDWORD);
  using InfoW = BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID);
  using QueryW = BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT);
  using LanguageW = DWORD(WINAPI*)(DWORD, LPWSTR, DWORD);
  const auto size = Get<SizeW>(proxy, "GetFileVersionInfoSizeW");
  const auto info = Get<InfoW>(proxy, "GetFileVersionInfoW");
  const auto query = Get<QueryW>(proxy, "VerQueryValueW");
  const auto language = Get<LanguageW>(proxy, "VerLanguageNameW");
  ASSERT_TRUE(size && info && query && language);
  for (const char* name : {"GetFileVersionInfoA", "GetFileVersionInfoExW", "GetFileVersionInfoSizeExA", "VerFindFileW",
                           "VerInstallFileA", "VerQueryValueA", "GetFileVersionInfoByHandle"}) {
    EXPECT_NE(GetProcAddress(proxy, name), nullptr) << name;
  }

  DWORD handle = 0, systemHandle = 0;
  const DWORD bytes = size(file.c_str(), &handle);
  ASSERT_EQ(bytes, GetFileVersionInfoSizeW(file.c_str(), &systemHandle));
  ASSERT_GT(bytes, 0u);
  std::vector<char> mine(bytes), theirs(bytes);
  ASSERT_TRUE(info(file.c_str(), 0, bytes, mine.data()));
  ASSERT_TRUE(GetFileVersionInfoW(file.c_str(), 0, bytes, theirs.data()));
  VS_FIXEDFILEINFO* a = nullptr;
  VS_FIXEDFILEINFO* b = nullptr;
  UINT lengthA = 0, lengthB = 0;
  ASSERT_TRUE(query(mine.data(), L"\\", reinterpret_cast<void**>(&a), &lengthA));
  ASSERT_TRUE(VerQueryValueW(theirs.data(), L"\\", reinterpret_cast<void**>(&b), &lengthB));
  EXPECT_EQ(lengthA, lengthB);
  EXPECT_EQ(a->dwFileVersionMS, b->dwFileVersionMS);
  EXPECT_EQ(a->dwFileVersionLS, b->dwFileVersionLS);
  // A missing file fails alike, with the same error.
  SetLastError(0);
  EXPECT_EQ(size(L"C:\\no\\such\\file.dll", &handle), 0u);
  const DWORD error = GetLastError();
  GetFileVersionInfoSizeW(L"C:\\no\\such\\file.dll", &handle);
  EXPECT_EQ(error, GetLastError());
  wchar_t nameA[64] = {}, nameB[64] = {};
  EXPECT_EQ(language(0x0409, nameA, 64), VerLanguageNameW(0x0409, nameB, 64));
  EXPECT_STREQ(nameA, nameB);
}

// VerFindFile and VerInstallFile answer bit masks in which 0 is success: an installer asking a
// loader without the system's copy must read a failure, not "found" and "installed". A system path
// that leads back to the loader is refused once, not followed into itself until the stack ends.
TEST(VersionProxy, WithoutTheSystemsCopyEveryExportFails) {
  struct Case {
    const wchar_t* copyName;
    SystemCopy system;
    int systemLoadsAfterTwoRounds;  // -1: not counted
  };
  const Case cases[] = {
      {L"pathlight_version_missing.dll", SystemCopy::kMissing, -1},
      {L"pathlight_version_itself.dll", SystemCopy::kItself, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << static_cast<int>(c.system));
    std::wstring path;
    HMODULE proxy = LoadCopy(c.copyName, path);
    ASSERT_NE(proxy, nullptr);
    g_itself = path;
    g_systemCopy.store(c.system);
    g_systemLoads.store(0);
    ASSERT_TRUE(PatchImport(proxy, "LoadLibraryW", reinterpret_cast<void*>(&LoadLibraryAsTold)));

    using SizeW = DWORD(WINAPI*)(LPCWSTR, LPDWORD);
    using InfoW = BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID);
    using FindW = DWORD(WINAPI*)(DWORD, LPCWSTR, LPCWSTR, LPCWSTR, LPWSTR, PUINT, LPWSTR, PUINT);
    using InstallA = DWORD(WINAPI*)(DWORD, LPCSTR, LPCSTR, LPCSTR, LPCSTR, LPCSTR, LPSTR, PUINT);
    using QueryW = BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT);
    using LanguageW = DWORD(WINAPI*)(DWORD, LPWSTR, DWORD);
    for (int round = 0; round < 2; ++round) {
      DWORD handle = 0;
      SetLastError(0);
      EXPECT_EQ(Get<SizeW>(proxy, "GetFileVersionInfoSizeW")(L"C:\\windows\\system32\\kernel32.dll", &handle), 0u);
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
      char block[64] = {};
      EXPECT_FALSE(Get<InfoW>(proxy, "GetFileVersionInfoW")(L"C:\\x.dll", 0, sizeof block, block));
      wchar_t cur[MAX_PATH] = {}, dest[MAX_PATH] = {};
      UINT curLength = MAX_PATH, destLength = MAX_PATH;
      EXPECT_EQ(Get<FindW>(proxy, "VerFindFileW")(0, L"x.dll", nullptr, L"C:\\", cur, &curLength, dest, &destLength),
                static_cast<DWORD>(VFF_FILEINUSE));
      char tmp[MAX_PATH] = {};
      UINT tmpLength = MAX_PATH;
      EXPECT_EQ(Get<InstallA>(proxy, "VerInstallFileA")(0, "x.dll", "x.dll", "C:\\a", "C:\\b", "", tmp, &tmpLength),
                static_cast<DWORD>(VIF_CANNOTREADSRC));
      void* value = nullptr;
      UINT length = 0;
      EXPECT_FALSE(Get<QueryW>(proxy, "VerQueryValueW")(block, L"\\", &value, &length));
      wchar_t name[64] = {};
      EXPECT_EQ(Get<LanguageW>(proxy, "VerLanguageNameW")(0x0409, name, 64), 0u);
    }
    if (c.systemLoadsAfterTwoRounds >= 0) {
      EXPECT_EQ(g_systemLoads.load(), c.systemLoadsAfterTwoRounds);
    }
    EXPECT_GT(g_systemLoads.load(), 0);
  }
}

}  // namespace
