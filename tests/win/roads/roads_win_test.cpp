// The road loader's file glue against the real Win32 calls (FindFirstFileW/FindNextFileW,
// GetFileAttributesW, the C runtime's wide 64-bit file functions), and a whole load of a worldgen
// folder against the native tool's counts (given by tests/roads/roads_wine.sh in the environment).
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "roads/archive.hpp"
#include "roads/game_files.hpp"
#include "roads/road_loader.hpp"

namespace pathlight {
namespace {

TEST(RoadsWin, PackageSearchAndFileReads) {
  const std::filesystem::path root =
      std::filesystem::temp_directory_path() / ("pathlight-roads-" + std::to_string(GetCurrentProcessId()));
  for (const char* folder : {"dlc/0001_a", "dlc/.hidden", "dlc/0002_b"})
    std::filesystem::create_directories(root / folder);
  std::ofstream(root / "dlc" / "readme.txt") << "x";
  std::ofstream(root / "12.paz", std::ios::binary) << "0123456789";
  const std::wstring game = root.wstring();

  std::vector<std::wstring> paths = FindArchiveIndexes(game);
  ASSERT_EQ(paths.size(), 3u);
  std::sort(paths.begin() + 1, paths.end());
  EXPECT_EQ(paths, (std::vector<std::wstring>{game + L"\\0008\\0.pamt", game + L"\\dlc\\0001_a\\0008\\0.pamt",
                                              game + L"\\dlc\\0002_b\\0008\\0.pamt"}));
  EXPECT_FALSE(PathExists(paths[1]));
  EXPECT_TRUE(PathExists(game + L"\\dlc"));

  const std::wstring paz = game + L"\\12.paz";
  const std::vector<std::byte> middle = ReadEntryBytes(paz, 3, 4);
  ASSERT_EQ(middle.size(), 4u);
  EXPECT_EQ(static_cast<char>(middle[0]), '3');
  EXPECT_EQ(ReadEntryBytes(paz, 7, kReadToEnd).size(), 3u);
  EXPECT_EQ(ReadEntryBytes(paz, 7, 100).size(), 3u);
  EXPECT_TRUE(ReadEntryBytes(paz, 0xFFFFFFF0u, 4).empty());
  EXPECT_TRUE(ListArchiveFolder(game + L"\\0008\\0.pamt", "road").empty());
  std::filesystem::remove_all(root);
}

// PATHLIGHT_ROADS_WORLD: a worldgen game folder as a Windows path; PATHLIGHT_ROADS_EXPECT: the
// native tool's "archives tiles skipped nodes segments".
TEST(RoadsWin, LoadingAWorldgenFolderGivesTheNativeCounts) {
  const wchar_t* world = _wgetenv(L"PATHLIGHT_ROADS_WORLD");
  const char* expect = std::getenv("PATHLIGHT_ROADS_EXPECT");
  if (world == nullptr || expect == nullptr)
    GTEST_SKIP() << "run by tests/roads/roads_wine.sh with a world and its native counts";
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
