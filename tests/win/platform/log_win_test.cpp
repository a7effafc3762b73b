// The log's Windows services against the real Win32 behaviour: the file beside the module, its
// rotation with MoveFileExW, text-mode CR LF line ends, sharing while open.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "platform/folders.hpp"
#include "platform/log.hpp"
#include "platform/log_platform.hpp"
#include "win_files.hpp"

namespace pathlight {
namespace {

std::string ReadFileBytes(const std::wstring& path) { return testing::ReadWholeFile(path).value_or("<missing>"); }

TEST(LogWin, RotatesBesideTheModuleAndWritesCrLfLines) {
  const std::wstring folder = GetModuleFolder();
  const std::wstring log = folder + L"\\Pathlight.log";
  const std::wstring previous = folder + L"\\Pathlight.previous.log";
  DeleteFileW(previous.c_str());
  {
    std::FILE* old = _wfopen(log.c_str(), L"wb");
    ASSERT_NE(old, nullptr);
    std::fputs("old run\r\n", old);
    std::fclose(old);
  }
  LogWriter writer(&platform::OpenLogStream, [] { return TimeOfDay{9, 8, 7, 6}; });
  writer.WriteFormatted("first %ls", L"line");
  // Readable by others while open: the game keeps writing while a player looks at the file.
  EXPECT_EQ(ReadFileBytes(log), "[09:08:07.006] first line\r\n");
  writer.WriteFormatted("second");
  EXPECT_EQ(ReadFileBytes(log), "[09:08:07.006] first line\r\n[09:08:07.006] second\r\n");
  EXPECT_EQ(ReadFileBytes(previous), "old run\r\n");
}

TEST(LogWin, LocalTimeIsInRange) {
  const TimeOfDay now = platform::LocalTimeOfDay();
  EXPECT_GE(now.hour, 0);
  EXPECT_LE(now.hour, 23);
  EXPECT_LE(now.minute, 59);
  EXPECT_LE(now.second, 59);
  EXPECT_LE(now.millisecond, 999);
}

TEST(FoldersWin, ExecutableFoldersComeFromTheRealModulePath) {
  const std::wstring exe = HostExecutablePath();
  ASSERT_GT(exe.size(), 4u);
  EXPECT_EQ(_wcsicmp(exe.c_str() + exe.size() - 4, L".exe"), 0);
  // In an executable the module folder is the executable's folder; the game folder is one up.
  EXPECT_EQ(GetModuleFolder() + exe.substr(exe.find_last_of(L"\\/")), exe);
  EXPECT_EQ(GetModuleFolder().rfind(GetGameFolder(), 0), 0u);
}

}  // namespace
}  // namespace pathlight
