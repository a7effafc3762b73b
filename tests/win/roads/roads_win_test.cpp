// The road loader's file glue against the real Win32 calls: the package search through
// FindFirstFileW/FindNextFileW, existence through GetFileAttributesW, 64-bit reads through the C
// runtime's wide file functions; and a whole load of a worldgen folder compared with the native
// tool's counts (given by tests/e2e/roads_wine.sh through the environment).
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "roads/archive.hpp"
#include "roads/game_files.hpp"
#include "roads/road_loader.hpp"

namespace pathlight {
namespace {

class TempGame {
 public:
  TempGame() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    root_ = std::wstring(temp) + L"pathlight-roads-" + std::to_wstring(GetCurrentProcessId());
    Folder(L"");
  }
  ~TempGame() { Remove(root_); }

  void Folder(const std::wstring& relative) const { CreateDirectoryW((root_ + relative).c_str(), nullptr); }
  void File(const std::wstring& relative, const std::string& bytes) const {
    std::FILE* file = _wfopen((root_ + relative).c_str(), L"wb");
    ASSERT_NE(file, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
  }
  const std::wstring& root() const { return root_; }

 private:
  static void Remove(const std::wstring& path) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) Remove(path + L"\\" + name);
        else DeleteFileW((path + L"\\" + name).c_str());
      } while (FindNextFileW(search, &found));
      FindClose(search);
    }
    RemoveDirectoryW(path.c_str());
  }
  std::wstring root_;
};

TEST(RoadsWin, PackageSearchListsFoldersButNotDotFoldersOrFiles) {
  TempGame game;
  for (const wchar_t* folder : {L"\\dlc", L"\\dlc\\0001_a", L"\\dlc\\.hidden", L"\\dlc\\0002_b"}) game.Folder(folder);
  game.File(L"\\dlc\\readme.txt", "x");
  std::vector<std::wstring> paths = FindArchiveIndexes(game.root());
  ASSERT_EQ(paths.size(), 3u);
  EXPECT_EQ(paths[0], game.root() + L"\\0008\\0.pamt");
  std::sort(paths.begin() + 1, paths.end());
  EXPECT_EQ(paths[1], game.root() + L"\\dlc\\0001_a\\0008\\0.pamt");
  EXPECT_EQ(paths[2], game.root() + L"\\dlc\\0002_b\\0008\\0.pamt");
  EXPECT_FALSE(PathExists(paths[1]));
  EXPECT_TRUE(PathExists(game.root() + L"\\dlc\\readme.txt"));
  EXPECT_TRUE(PathExists(game.root() + L"\\dlc"));
}

TEST(RoadsWin, ReadsByteRangesAndCutsAtTheEnd) {
  TempGame game;
  game.File(L"\\12.paz", "0123456789");
  const std::wstring path = game.root() + L"\\12.paz";
  const std::vector<std::byte> middle = ReadEntryBytes(path, 3, 4);
  ASSERT_EQ(middle.size(), 4u);
  EXPECT_EQ(static_cast<char>(middle[0]), '3');
  EXPECT_EQ(ReadEntryBytes(path, 7, kReadToEnd).size(), 3u);
  EXPECT_EQ(ReadEntryBytes(path, 7, 100).size(), 3u);
  EXPECT_TRUE(ReadEntryBytes(path, 0xFFFFFFF0u, 4).empty());
  EXPECT_TRUE(ReadEntryBytes(game.root() + L"\\13.paz", 0, 4).empty());
  EXPECT_TRUE(ListArchiveFolder(game.root() + L"\\0.pamt", "road").empty());
}

// PATHLIGHT_ROADS_WORLD: a worldgen game folder as a Windows path; PATHLIGHT_ROADS_EXPECT: the
// native tool's "archives tiles skipped nodes segments".
TEST(RoadsWin, LoadingAWorldgenFolderGivesTheNativeCounts) {
  const wchar_t* world = _wgetenv(L"PATHLIGHT_ROADS_WORLD");
  const char* expect = std::getenv("PATHLIGHT_ROADS_EXPECT");
  if (world == nullptr || expect == nullptr) GTEST_SKIP() << "run by tests/e2e/roads_wine.sh with a world and its native counts";
  std::size_t archives = 0, nodes = 0, segments = 0;
  int tiles = 0, skipped = 0;
  std::istringstream(expect) >> archives >> tiles >> skipped >> nodes >> segments;
  const LoadedRoads loaded = LoadRoadNetwork(world);
  EXPECT_EQ(loaded.archives, archives);
  EXPECT_EQ(loaded.tiles, tiles);
  EXPECT_EQ(loaded.skipped, skipped);
  EXPECT_EQ(loaded.graph.nodes.size(), nodes);
  EXPECT_EQ(loaded.graph.segments.size(), segments);
  EXPECT_GT(segments, 0u);
  EXPECT_EQ(ValidateRoadGraph(loaded.graph), "");
}

}  // namespace
}  // namespace pathlight
