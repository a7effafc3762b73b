// Synthetic worlds from worldgen, loaded by the library: the counts must be the ones worldgen
// intends from its own model of what it wrote, and its faults counted or logged as they should.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>

#include "roads/byte_fixtures.hpp"
#include "roads/road_loader.hpp"

namespace pathlight {
namespace {

void Generate(const testing::ScratchFolder& folder, const std::string& arguments) {
  const std::string command =
      std::string(PATHLIGHT_WORLDGEN) + " --out '" + folder.path().string() + "' " + arguments + " > /dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

// Loads a fresh world and checks every count against worldgen's; returns the log's messages.
std::vector<std::string> LoadAndCompare(const std::string& arguments, nlohmann::json& expected, LoadedRoads& loaded) {
  testing::ScratchFolder folder;
  Generate(folder, arguments);
  expected = nlohmann::json::parse(std::ifstream(folder.path() / "worldgen.json"));
  ::testing::internal::CaptureStdout();
  loaded = LoadRoadNetwork(folder.Wide());
  std::vector<std::string> log = testing::LogMessages(::testing::internal::GetCapturedStdout());
  const RoadGraph& graph = loaded.graph;
  EXPECT_EQ(loaded.archives, expected["archives"].get<std::size_t>());
  EXPECT_EQ(loaded.tiles, expected["tiles"].get<int>());
  EXPECT_EQ(loaded.skipped, expected["skipped"].get<int>());
  EXPECT_EQ(graph.nodes.size(), expected["nodes"].get<std::size_t>());
  EXPECT_EQ(graph.segments.size(), expected["segments"].get<std::size_t>());
  std::size_t byType[kRoadTypeCount] = {};
  for (const RoadSegment& s : graph.segments) ++byType[static_cast<int>(s.type)];
  const char* const names[] = {"Main", "Wide", "Wagon", "Horse", "Sidewalk", "ToSidewalk", "Link"};
  for (int t = 0; t < kRoadTypeCount; ++t)
    EXPECT_EQ(byType[t], expected["segmentsByType"][names[t]].get<std::size_t>()) << names[t];
  EXPECT_EQ(ValidateRoadGraph(graph), "");
  // The broken index's path holds the scratch folder's name: the loader's own path, "\" separated.
  for (std::string& line : log) {
    if (const std::size_t at = line.find(folder.path().string()); at != std::string::npos)
      line.replace(at, folder.path().string().size(), "GAME");
  }
  return log;
}

TEST(WorldgenRoundTrip, FromAHandfulOfRoadsToACountrysideWithPackagesAndJunctions) {
  nlohmann::json expected;
  LoadedRoads loaded;
  LoadAndCompare("--seed 1 --nodes 30 --dlc 0", expected, loaded);
  EXPECT_LT(loaded.graph.nodes.size(), 200u);
  const auto log = LoadAndCompare("--seed 2 --nodes 12000 --dlc 3", expected, loaded);
  EXPECT_GE(loaded.graph.nodes.size(), 12000u);
  for (const auto& [name, count] : expected["segmentsByType"].items()) EXPECT_GT(count.get<int>(), 0) << name;
  EXPECT_TRUE(testing::IsPrefixAndMilliseconds(
      log.back(), "Roads: 5 archives, " + std::to_string(loaded.tiles) + " tiles (0 skipped), " +
                      std::to_string(loaded.graph.nodes.size()) + " nodes, " +
                      std::to_string(loaded.graph.segments.size()) + " segments, "))
      << log.back();
}

TEST(WorldgenRoundTrip, FaultsAreSkippedOrLoggedAndTheRestLoads) {
  nlohmann::json expected;
  LoadedRoads loaded;
  const auto log = LoadAndCompare("--seed 3 --nodes 3000 --faults", expected, loaded);
  EXPECT_EQ(loaded.skipped, 4);  // packed, short, version 46, chunk size mismatch
  EXPECT_NE(
      std::find(log.begin(), log.end(), "Roads: index GAME\\dlc\\0098_broken\\0008\\0.pamt unreadable (truncated)"),
      log.end());
}

// The loaded graph of two fixed worlds, compared with what the loader built before it was made
// faster: the same nodes in the same order, the same segments, rows and grid.
TEST(WorldgenRoundTrip, FixedWorldsLoadToTheSameGraphAsBefore) {
  nlohmann::json expected;
  LoadedRoads loaded;
  LoadAndCompare("--seed 2 --nodes 12000 --dlc 3", expected, loaded);
  EXPECT_EQ(RoadGraphDigest(loaded.graph), 6067710967321879070u);
  LoadAndCompare("--seed 3 --nodes 3000 --faults", expected, loaded);
  EXPECT_EQ(RoadGraphDigest(loaded.graph), 14236316258330150492u);
}

TEST(WorldgenRoundTrip, TheSameSeedWritesTheSameBytes) {
  testing::ScratchFolder first, second;
  Generate(first, "--seed 9 --nodes 800");
  Generate(second, "--seed 9 --nodes 800");
  for (const char* file : {"0008/0.pamt", "0008/0.paz", "dlc/0001_package/0008/0.pamt"}) {
    std::ifstream a(first.path() / file, std::ios::binary), b(second.path() / file, std::ios::binary);
    const std::string bytesA((std::istreambuf_iterator<char>(a)), {}), bytesB((std::istreambuf_iterator<char>(b)), {});
    EXPECT_FALSE(bytesA.empty()) << file;
    EXPECT_EQ(bytesA, bytesB) << file;
  }
}

// --out is emptied only when it is new, empty, a world worldgen wrote, or --force says so; any
// other folder (a game folder's bin64 beside it) and a plain file stay as they were.
TEST(WorldgenOut, RefusesAFolderItDidNotWriteUnlessForced) {
  testing::ScratchFolder folder;
  const struct {
    const char* name;
    const char* setup;  // what is at --out before the run
    const char* extra;
    int status;
  } cases[] = {
      {"new", "", "", 0},
      {"empty", "dir", "", 0},
      {"own world", "world", "", 0},
      {"foreign", "foreign", "", 1},
      {"foreign, forced", "foreign", "--force", 0},
      {"a file", "file", "--force", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::filesystem::path out = folder.path() / c.name;
    const std::string setup = c.setup;
    if (setup == "dir") std::filesystem::create_directories(out);
    const std::string command =
        std::string(PATHLIGHT_WORLDGEN) + " --out '" + out.string() + "' --nodes 20 " + c.extra + " > /dev/null 2>&1";
    if (setup == "world") {
      ASSERT_EQ(std::system(command.c_str()), 0);
    }
    if (setup == "foreign") folder.Write(std::string(c.name) + "/bin64/CrimsonDesert.exe", testing::Bytes{}.Fill(3, 1));
    if (setup == "file") folder.Write(c.name, testing::Bytes{}.Fill(3, 1));
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), c.status);
    EXPECT_EQ(std::filesystem::exists(out / "worldgen.json"), c.status == 0);
    if (setup == "foreign") {
      EXPECT_EQ(std::filesystem::exists(out / "bin64" / "CrimsonDesert.exe"), c.status != 0);
    }
    if (setup == "file") {
      EXPECT_TRUE(std::filesystem::is_regular_file(out));
    }
  }
}

}  // namespace
}  // namespace pathlight
