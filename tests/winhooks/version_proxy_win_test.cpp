// The loader's version.dll answers as the system's does: every export forwards with its
// arguments unchanged. Loaded here under another name, so that Wine does not put its own in its
// place; its thread then finds no Pathlight.dll beside it and does nothing.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

template <typename Fn>
Fn Get(HMODULE module, const char* name) {
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

}  // namespace
