// Synthetic worlds from worldgen, loaded by the library: the counts must be the ones worldgen
// intends from its own model of what it wrote (and its faults counted or logged as they should).
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>

#include "roads/archive.hpp"
#include "roads/byte_fixtures.hpp"
#include "roads/road_loader.hpp"

namespace pathlight {
namespace {

struct World {
  nlohmann::json expected;
  LoadedRoads loaded;
  std::vector<std::string> log;
};

void Generate(const testing::ScratchFolder& folder, const std::string& arguments) {
  const std::string command = std::string(PATHLIGHT_WORLDGEN) + " --out '" + folder.path().string() + "' " + arguments + " > /dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

World LoadWorld(const testing::ScratchFolder& folder, const std::string& arguments) {
  World world;
  Generate(folder, arguments);
  std::ifstream manifest(folder.path() / "worldgen.json");
  world.expected = nlohmann::json::parse(manifest);
  ::testing::internal::CaptureStdout();
  world.loaded = LoadRoadNetwork(folder.Wide());
  world.log = testing::LogMessages(::testing::internal::GetCapturedStdout());
  return world;
}

void ExpectIntendedCounts(const World& world) {
  const RoadGraph& graph = world.loaded.graph;
  EXPECT_EQ(world.loaded.archives, world.expected["archives"].get<std::size_t>());
  EXPECT_EQ(world.loaded.tiles, world.expected["tiles"].get<int>());
  EXPECT_EQ(world.loaded.skipped, world.expected["skipped"].get<int>());
  EXPECT_EQ(graph.nodes.size(), world.expected["nodes"].get<std::size_t>());
  EXPECT_EQ(graph.segments.size(), world.expected["segments"].get<std::size_t>());
  const char* const names[] = {"Main", "Wide", "Wagon", "Horse", "Sidewalk", "ToSidewalk", "Link"};
  std::size_t byType[kRoadTypeCount] = {};
  for (const RoadSegment& s : graph.segments) ++byType[static_cast<int>(s.type)];
  for (int t = 0; t < kRoadTypeCount; ++t) EXPECT_EQ(byType[t], world.expected["segmentsByType"][names[t]].get<std::size_t>()) << names[t];
  EXPECT_EQ(ValidateRoadGraph(graph), "");
  ASSERT_FALSE(world.log.empty());
  EXPECT_TRUE(testing::IsPrefixAndMilliseconds(
      world.log.back(), "Roads: " + std::to_string(world.loaded.archives) + " archives, " + std::to_string(world.loaded.tiles) + " tiles (" +
                            std::to_string(world.loaded.skipped) + " skipped), " + std::to_string(graph.nodes.size()) + " nodes, " +
                            std::to_string(graph.segments.size()) + " segments, "))
      << world.log.back();
}

TEST(WorldgenRoundTrip, AHandfulOfRoads) {
  testing::ScratchFolder folder;
  const World world = LoadWorld(folder, "--seed 1 --nodes 30 --dlc 0");
  ExpectIntendedCounts(world);
  EXPECT_LT(world.loaded.graph.nodes.size(), 200u);
}

TEST(WorldgenRoundTrip, ACountrysideWithPackagesAndJunctions) {
  testing::ScratchFolder folder;
  const World world = LoadWorld(folder, "--seed 2 --nodes 12000 --dlc 3");
  ExpectIntendedCounts(world);
  EXPECT_GT(world.expected["segmentsByType"]["Link"].get<int>(), 0);
  EXPECT_GE(world.loaded.graph.nodes.size(), 12000u);
  // Every road type is present, and each of the packages holds tiles.
  for (const auto& [name, count] : world.expected["segmentsByType"].items()) EXPECT_GT(count.get<int>(), 0) << name;
  for (const std::wstring& index : FindArchiveIndexes(folder.Wide())) {
    if (index.find(L"placeholder") == std::wstring::npos) {
      EXPECT_TRUE(PathExists(index));
    }
  }
}

TEST(WorldgenRoundTrip, FaultsAreSkippedOrLoggedAndTheRestLoads) {
  testing::ScratchFolder folder;
  const World world = LoadWorld(folder, "--seed 3 --nodes 3000 --faults");
  ExpectIntendedCounts(world);
  EXPECT_EQ(world.loaded.skipped, 4);  // packed, short, version 46, chunk size mismatch
  // The path as the library builds it: the game folder, then "\" separators.
  const std::string broken = folder.path().string() + "\\dlc\\0098_broken\\0008\\0.pamt";
  EXPECT_NE(std::find(world.log.begin(), world.log.end(), "Roads: index " + broken + " unreadable (truncated)"), world.log.end());
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

}  // namespace
}  // namespace pathlight
