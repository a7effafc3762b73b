#include "platform/paths.hpp"

#include <gtest/gtest.h>

namespace pathlight {
namespace {

TEST(Folders, GameAndModuleFoldersCutAtTheLastSeparator) {
  EXPECT_EQ(GameFolderFromPath(L"C:\\Games\\Host\\bin64\\CrimsonDesert.exe"), L"C:\\Games\\Host");
  EXPECT_EQ(ModuleFolderFromPath(L"D:\\mods\\x.dll"), L"D:\\mods");
  // Mixed separators: whichever comes last cuts.
  EXPECT_EQ(ModuleFolderFromPath(L"C:/Games\\Host/bin64\\Pathlight.dll"), L"C:/Games\\Host/bin64");
  EXPECT_EQ(ModuleFolderFromPath(L"C:\\Games/Host\\bin64/Pathlight.dll"), L"C:\\Games/Host\\bin64");
  EXPECT_EQ(GameFolderFromPath(L"C:\\Games/Host\\bin64/CrimsonDesert.exe"), L"C:\\Games/Host");
}

TEST(Folders, PathsWithoutSeparatorComeBackWhole) {
  EXPECT_EQ(ModuleFolderFromPath(L"Pathlight.dll"), L"Pathlight.dll");
  EXPECT_EQ(GameFolderFromPath(L"CrimsonDesert.exe"), L"CrimsonDesert.exe");
  // One separator: the game folder cut runs out of separators on its second cut.
  EXPECT_EQ(GameFolderFromPath(L"bin64\\CrimsonDesert.exe"), L"bin64");
  EXPECT_EQ(ModuleFolderFromPath(L""), L"");
  EXPECT_EQ(ModuleFolderFromPath(L"\\x.dll"), L"");
}

TEST(HostCheck, NameMatchesInAnyLetterCaseAfterTheLastBackslash) {
  EXPECT_TRUE(IsHostExecutable(L"C:\\Games\\Host\\bin64\\CrimsonDesert.exe"));
  EXPECT_TRUE(IsHostExecutable(L"C:\\Games\\Host\\bin64\\crimsondesert.EXE"));
  EXPECT_TRUE(IsHostExecutable(L"CRIMSONDESERT.exe"));
  EXPECT_FALSE(IsHostExecutable(L"C:\\Games\\Host\\bin64\\notepad.exe"));
  EXPECT_FALSE(IsHostExecutable(L"C:\\Games\\Host\\bin64\\CrimsonDesert.exe.bak"));
  EXPECT_FALSE(IsHostExecutable(L"C:\\Games\\Host\\bin64\\XCrimsonDesert.exe"));
  // Only "\" separates in the host check: a "/" stays part of the name.
  EXPECT_FALSE(IsHostExecutable(L"C:\\Games\\Host/CrimsonDesert.exe"));
}

}  // namespace
}  // namespace pathlight
