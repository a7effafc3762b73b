// The INI read against the real GetPrivateProfileStringW and the number syntax against the C
// runtime's own conversion. (The shared fixtures run through GetPrivateProfileStringW inside the
// simulated game: tests/settings.)
#include <windows.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <string>

#include "platform/folders.hpp"
#include "settings/settings_load.hpp"
#include "settings/settings_syntax.hpp"
#include "win_files.hpp"

namespace pathlight {
namespace {

using testing::WriteAscii;

TEST(SettingsWin, RewrittenFileIsReadAfresh) {
  // A reload reads the file the user just saved under the same name.
  const std::wstring path = GetModuleFolder() + L"\\ini-fixtures\\rewritten.ini";
  CreateDirectoryW((GetModuleFolder() + L"\\ini-fixtures").c_str(), nullptr);
  ASSERT_TRUE(WriteAscii(path, L"[World]\nDistance=60\n"));
  EXPECT_EQ(ReadSettings(SystemIniSource(), path, Settings{}, false).worldDistance, 60.0f);
  ASSERT_TRUE(WriteAscii(path, L"[World]\nDistance=70\n"));
  EXPECT_EQ(ReadSettings(SystemIniSource(), path, Settings{}, false).worldDistance, 70.0f);
}

TEST(SettingsWin, UnsignedSyntaxMatchesTheRuntimesWcstoul) {
  // long is 32 bits here, so wcstoul is exactly the conversion the settings describe.
  static_assert(sizeof(unsigned long) == 4);
  const wchar_t* texts[] = {L"0",    L"1464", L"0x5B8",      L"02670",      L"09",          L" +12abc",     L"-1",
                            L"-0",   L"-2",   L"4294967295", L"4294967296", L"-4294967295", L"0x1FFFFFFFF", L"0x",
                            L"0xg1", L"",     L"- 1",        L"true",       L"\t7",         L"0X7b"};
  for (const wchar_t* text : texts) {
    EXPECT_EQ(ParseUnsigned32(text), std::wcstoul(text, nullptr, 0)) << ::testing::PrintToString(std::wstring(text));
  }
  // Below -4294967295 the runtime answers 1; the settings saturate as for every other number
  // beyond 32 bits (both are on as a bool).
  EXPECT_EQ(std::wcstoul(L"-4294967296", nullptr, 0), 1ul);
  EXPECT_EQ(ParseUnsigned32(L"-4294967296"), 0xFFFFFFFFu);
}

}  // namespace
}  // namespace pathlight
