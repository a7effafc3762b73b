// Road tiles against hand-made bytes: what a tile adds, what makes it fail, and how the tiles of
// an index become nodes and segments (rounding, merging, dropped roads, roll-back).
#include "roads/road_tile.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <vector>

#include "roads/byte_fixtures.hpp"
#include "roads/road_loader.hpp"

namespace pathlight {
namespace {

using testing::Bytes;
using testing::Layer;
using testing::TileBytes;

std::string ParseError(const Bytes& tile) {
  TileVertexMap vertices;
  TileRoadList roads;
  try {
    ParseRoadTile(tile.span(), vertices, roads);
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "";
}

TEST(RoundToMetre, HalvesAwayFromZeroAndNonsenseToZero) {
  EXPECT_EQ(RoundToMetre(2.5f), 3);
  EXPECT_EQ(RoundToMetre(-2.5f), -3);
  EXPECT_EQ(RoundToMetre(-0.4f), 0);
  EXPECT_EQ(RoundToMetre(2147483520.0f), 2147483520);  // the largest float below 2^31
  EXPECT_EQ(RoundToMetre(2147483648.0f), 0);
  EXPECT_EQ(RoundToMetre(-2147483648.0f), -2147483647 - 1);
  EXPECT_EQ(RoundToMetre(std::numeric_limits<float>::quiet_NaN()), 0);
  EXPECT_EQ(RoundToMetre(-std::numeric_limits<float>::infinity()), 0);
}

// The loader's own rounding and floor, without the maths library, against the library's over
// every kind of float: halves, values just beside them, tiny and huge ones, both signs.
TEST(RoundToMetre, AgreesWithTheMathsLibraryOnEveryKindOfFloat) {
  std::vector<float> values = {0.5f,          1.5f,          0.49999997f, 0.50000006f, 1e-30f,
                               1e-45f,        8388607.5f,    8388608.0f,  16777215.0f, 3e38f,
                               1073741823.5f, 1073741824.0f, 4.2949673e9f};
  std::uint32_t bits = 0x12345678u;
  for (int i = 0; i < 200000; ++i) {
    bits = bits * 1664525u + 1013904223u;
    float f;
    std::memcpy(&f, &bits, sizeof f);
    if (std::isfinite(f)) values.push_back(f);
    values.push_back(static_cast<float>(static_cast<std::int32_t>(bits) % 4000000) / 64.0f);
  }
  for (const float magnitude : values) {
    for (const float v : {magnitude, -magnitude}) {
      const double rounded = std::round(static_cast<double>(v));
      const std::int32_t expected =
          rounded < -2147483648.0 || rounded > 2147483647.0 ? 0 : static_cast<std::int32_t>(rounded);
      ASSERT_EQ(RoundToMetre(v), expected) << v;
      const double cell = std::clamp(std::floor(static_cast<double>(v) / 5.0), -1073741824.0, 1073741824.0);
      ASSERT_EQ(FloorCell(v, 5.0), static_cast<std::int32_t>(cell)) << v;
    }
  }
}

TEST(RoadTile, TypedLayersGiveRoadsAndVerticesOthersAreSteppedOver) {
  const Bytes tile = TileBytes({
      Layer{"Sidewalk", {{1, 2, {3, 4}}}, {{1, 0, 0, 0, 2}, {2, 5, 0, 0}}},
      Layer{"sidewalk", {{7, 8, {}}, {9, 10, {11, 12, 13}}}, {{7, 1.5f, 2.5f, 3.5f, 3}, {8, 4, 5, 6}}},
  });
  TileVertexMap vertices;
  TileRoadList roads;
  ParseRoadTile(tile.span(), vertices, roads);
  ASSERT_EQ(roads.size(), 2u);
  const auto ids = [&](std::size_t i) {
    return std::vector<std::uint32_t>(roads.Ids(roads.roads()[i]).begin(), roads.Ids(roads.roads()[i]).end());
  };
  EXPECT_EQ(ids(0), (std::vector<std::uint32_t>{7, 8}));  // a = 0: first and last, in 43 bytes
  EXPECT_EQ(ids(1), (std::vector<std::uint32_t>{9, 11, 12, 13, 10}));
  EXPECT_EQ(roads.roads()[0].type, RoadType::Sidewalk);
  EXPECT_EQ(roads.roads()[0].layerHash, 218164128u);  // h = h * 31 + byte over "sidewalk", wrapping
  EXPECT_EQ(vertices.size(), 2u);                     // none of "Sidewalk"'s
  const TileVertex* v = vertices.Find(TileVertexKey(LayerNameHash("sidewalk"), 7));
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->y, 2.5f);
  EXPECT_EQ(testing::LayerBytes(Layer{"sidewalk", {{7, 8, {}}}, {}}).size(), 4u + 8 + 4 + 43 + 4);
  EXPECT_EQ(LayerNameHash("\xff"), 255u);  // bytes count as unsigned
}

TEST(RoadTile, VersionSizeAndChunkErrors) {
  EXPECT_EQ(ParseError(Bytes{}.U8(47).U8(0).U8(0)), "truncated");
  EXPECT_EQ(ParseError(Bytes{}.U32(46).Fill(200, 0)), "version");
  EXPECT_EQ(ParseError(Bytes{}.U32(47).Fill(8, 0)), "truncated");  // 12 bytes
  const Layer road{"smallwagon", {{1, 2, {}}}, {{1, 0, 0, 0}, {2, 10, 0, 0}}};
  EXPECT_EQ(ParseError(TileBytes({road})), "");
  EXPECT_EQ(ParseError(TileBytes({road}, 47, 1)), "chunk size mismatch");   // layers end 1 byte early
  EXPECT_EQ(ParseError(TileBytes({road}, 47, -1)), "chunk size mismatch");  // or 1 byte late
  const Bytes whole = TileBytes({road});
  for (std::size_t size = 16; size < whole.size(); size += 5) {
    Bytes cut = whole;
    cut.CutTo(size);
    EXPECT_EQ(ParseError(cut), "truncated") << "cut at " << size;
  }
  Bytes trailing = whole;
  EXPECT_EQ(ParseError(trailing.Fill(13, 0x99)), "");  // bytes after the sixteenth chunk
  // An inner count of 2^30 ids cannot fit: refused before anything is read or allocated.
  Bytes huge = TileBytes({Layer{"smallwagon", {{1, 2, {}}}, {}}});
  EXPECT_EQ(ParseError(huge.PatchU32(16 + 8 * 16 + 4 + 4 + 10 + 4 + 34, 0x40000000)), "truncated");
}

// However a layer's ids arrive (rising, falling, scattered wider than the array may span, or
// turning sparse part way), every key finds its latest position, and the two layers stay apart.
TEST(TileVertexMap, EveryIdPatternFindsTheLatestPosition) {
  const auto rising = [](std::uint32_t i) { return 1000 + i; };
  const auto falling = [](std::uint32_t i) { return 50000 - i; };
  const auto scattered = [](std::uint32_t i) { return i * 2654435761u; };
  const auto turning = [](std::uint32_t i) { return i < 3000 ? i : 0x80000000u + i; };
  const auto repeated = [](std::uint32_t i) { return i % 700; };
  const struct {
    const char* name;
    std::uint32_t (*id)(std::uint32_t);
    std::uint64_t expected;  // ExpectAtMost, 0: not said
  } cases[] = {{"rising", +rising, 0},
               {"falling", +falling, 0},
               {"scattered", +scattered, 0},
               {"turning sparse", +turning, 0},
               {"repeated", +repeated, 0},
               {"scattered, expected", +scattered, 1 << 20},
               // An index that claims far more than it holds: the arrays stay bounded all the same.
               {"scattered, a huge count said", +scattered, std::uint64_t{1} << 40}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TileVertexMap map;
    map.ExpectAtMost(c.expected);
    std::map<std::uint64_t, TileVertex> reference;
    for (std::uint32_t i = 0; i < 6000; ++i) {
      const std::uint32_t layer = i % 3 == 0 ? LayerNameHash("sidewalk") : LayerNameHash("smallwagon");
      const std::uint64_t key = TileVertexKey(layer, c.id(i));
      const TileVertex v{static_cast<float>(i), 1, 2};
      map.Add(key, v);
      reference[key] = v;
    }
    map.Flush();
    EXPECT_EQ(map.size(), reference.size());
    for (const auto& [key, v] : reference) {
      const TileVertex* found = map.Find(key);
      ASSERT_NE(found, nullptr) << key;
      EXPECT_EQ(found->x, v.x) << key;
    }
    EXPECT_EQ(map.Find(TileVertexKey(LayerNameHash("tosidewalk"), c.id(0))), nullptr);
    EXPECT_EQ(map.Find(TileVertexKey(LayerNameHash("sidewalk"), 0x7fffffffu)), nullptr);
  }
}

struct Assembled {
  std::vector<RoadNode> nodes;
  std::vector<RoadSegment> segments;
};

Assembled Assemble(const std::vector<Bytes>& tiles) {
  TileVertexMap vertices;
  TileRoadList roads;
  for (const Bytes& tile : tiles) ParseRoadTile(tile.span(), vertices, roads);
  GraphBuilder builder;
  AssembleTileRoads(vertices, roads, builder);
  return {builder.nodes(), builder.segments()};
}

TEST(AssembleTileRoads, VerticesOnOneWholeMetreAreOneNodeAndLaterRecordsWin) {
  // Ids 1..4 at x = 0, 0.4, 10, 10.3: 1 and 2 round to 0, 3 and 4 to 10. A second tile moves 4.
  const Assembled a = Assemble(
      {TileBytes({Layer{
           "horsesidewalk", {{1, 4, {2, 3}}}, {{1, 0, 5, 0}, {2, 0.4f, 6, 0}, {3, 10, 7, 0}, {4, 10.3f, 8, 0}}}}),
       TileBytes({Layer{"horsesidewalk", {}, {{4, 30, 0, 0}}}})});
  ASSERT_EQ(a.nodes.size(), 3u);
  EXPECT_EQ(a.nodes[0].y, 5.0f);  // the first vertex's position stays the node's
  EXPECT_EQ(a.nodes[2].x, 30.0f);
  ASSERT_EQ(a.segments.size(), 2u);
  EXPECT_EQ(a.segments[0].first, 0);
  EXPECT_EQ(a.segments[0].second, 1);
  EXPECT_EQ(a.segments[1].type, RoadType::Horse);
}

TEST(AssembleTileRoads, RoadsWithAMissingVertexAreDropped) {
  // Road 1 uses vertex 9, which only another layer has; road 3 names a vertex of a second tile.
  const Assembled a = Assemble({
      TileBytes({Layer{"sidewalk", {{1, 9, {}}, {1, 2, {}}, {2, 3, {}}}, {{1, 0, 0, 0}, {2, 10, 0, 0}}},
                 Layer{"tosidewalk", {}, {{9, 50, 0, 0}}}}),
      TileBytes({Layer{"sidewalk", {}, {{3, 20, 0, 0}}}}),
  });
  EXPECT_EQ(a.nodes.size(), 3u);
  EXPECT_EQ(a.segments.size(), 2u);
}

TEST(AssembleTileRoads, UnbelievableVertexPositionsCountAsMissing) {
  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  // Each road joins the good vertex 1 to another; only the last one's is believable.
  const Assembled a =
      Assemble({TileBytes({Layer{"smallwagon",
                                 {{1, 2, {}}, {1, 3, {}}, {1, 4, {}}, {1, 5, {}}, {1, 6, {}}, {1, 7, {}}},
                                 {{1, 0, 0, 0},
                                  {2, nan, 0, 5},
                                  {3, 5, inf, 5},
                                  {4, 5, 0, -inf},
                                  {5, 1e6f, 0, 5},
                                  {6, 5, 0, -3e9f},
                                  {7, 999999, 0, -999999}}}})});
  // Without the check the first five would meet at node (0, 0) or wrap the 64 m grid.
  EXPECT_EQ(a.nodes.size(), 2u);
  ASSERT_EQ(a.segments.size(), 1u);
  EXPECT_EQ(a.nodes[1].x, 999999.0f);
}

const Layer kWagonRoad{"smallwagon", {{1, 2, {}}}, {{1, 0, 0, 0}, {2, 10, 0, 0}}};

TEST(LoadRoadTiles, CountsTilesAndSkipsWhatCannotBeRead) {
  testing::ScratchFolder game;
  Bytes archive;
  std::vector<testing::IndexFileRecord> files;
  auto add = [&](const std::string& name, const Bytes& bytes, std::uint32_t stored, std::uint32_t unpacked,
                 std::uint32_t compression) {
    files.push_back({name, 0, static_cast<std::uint32_t>(archive.size()), stored, unpacked, compression});
    archive.Append(bytes);
  };
  const Bytes good = TileBytes({kWagonRoad});
  const auto size = static_cast<std::uint32_t>(good.size());
  add("roadlevel_good", good, size, size, 0);
  add("roadlevel", good, size, size, 0);  // not a tile name: not counted
  add("roadlevel_packed", good, size, size, 3);
  add("roadlevel_bigger", good, size, size + 1, 0);  // stored size differs from unpacked
  add("roadlevel_v46", TileBytes({kWagonRoad}, 46), size, size, 0);
  add("roadlevel_12", Bytes{}.U32(47).Fill(8, 0), 12, 12, 0);
  add("roadlevel_short", good, size + 5, size + 5, 0);  // runs past the archive's end
  game.Write("0008/0.paz", archive);
  game.Write("0008/0.pamt", testing::IndexBytes({{"road/rootlevel/roadlevel", files}}));
  GraphBuilder builder;
  int tiles = 0, skipped = 0;
  LoadRoadTiles(game.Wide("0008/0.pamt"), builder, tiles, skipped);
  EXPECT_EQ(tiles, 1);
  EXPECT_EQ(skipped, 5);
  EXPECT_EQ(builder.segments().size(), 1u);
}

TEST(LoadRoadTiles, AFailedTileTakesItsRoadsButLeavesItsPositions) {
  // Tile b adds a road and vertex 3, then fails its chunk check; tile c's road uses vertex 3.
  testing::ScratchFolder game;
  testing::WriteIndexWithTiles(game, "0008",
                               {{"roadlevel_a", TileBytes({kWagonRoad})},
                                {"roadlevel_b", TileBytes({Layer{"smallwagon", {{2, 3, {}}}, {{3, 20, 0, 0}}}}, 47, 1)},
                                {"roadlevel_c", TileBytes({Layer{"smallwagon", {{1, 3, {}}}, {}}})}});
  GraphBuilder builder;
  int tiles = 0, skipped = 0;
  LoadRoadTiles(game.Wide("0008/0.pamt"), builder, tiles, skipped);
  EXPECT_EQ(tiles, 2);
  EXPECT_EQ(skipped, 1);
  ASSERT_EQ(builder.segments().size(), 2u);  // 1-2 and 1-3; not 2-3
  EXPECT_EQ(builder.nodes()[static_cast<std::size_t>(builder.segments()[1].second)].x, 20.0f);
}

TEST(LoadRoadTiles, AnUnreadableIndexIsOneLogLine) {
  const struct {
    std::size_t bytes;
    const char* reason;
  } cases[] = {{7, "truncated"}, {0, "empty"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reason);
    testing::ScratchFolder game;
    game.Write("0008/0.pamt", Bytes{}.Fill(c.bytes, 0));
    GraphBuilder builder;
    int tiles = 0, skipped = 0;
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(LoadRoadTiles(game.Wide("0008/0.pamt"), builder, tiles, skipped));
    EXPECT_EQ(testing::LogMessages(::testing::internal::GetCapturedStdout()),
              (std::vector<std::string>{"Roads: index " + NativePathFromWide(game.Wide("0008/0.pamt")) +
                                        " unreadable (" + c.reason + ")"}));
    EXPECT_EQ(tiles + skipped, 0);
  }
}

TEST(LoadRoadNetwork, VerticesMergeAcrossIndexesByWholeMetres) {
  // Base: (0, 0) to (100.4, 0). Package: (100.0, 0), 0.4 m away, to (150, 0); and (99.4, 0), 0.6 m
  // away across the rounding boundary, to (99.4, 40).
  testing::ScratchFolder game;
  testing::WriteIndexWithTiles(
      game, "0008", {{"roadlevel_0", TileBytes({Layer{"sidewalk", {{1, 2, {}}}, {{1, 0, 0, 0}, {2, 100.4f, 0, 0}}}})}});
  testing::WriteIndexWithTiles(
      game, "dlc/p/0008",
      {{"roadlevel_0", TileBytes({Layer{"sidewalk",
                                        {{1, 2, {}}, {3, 4, {}}},
                                        {{1, 100.0f, 0, 0}, {2, 150, 0, 0}, {3, 99.4f, 0, 0}, {4, 99.4f, 0, 40}}}})}});
  ::testing::internal::CaptureStdout();
  const LoadedRoads loaded = LoadRoadNetwork(game.Wide());
  const auto messages = testing::LogMessages(::testing::internal::GetCapturedStdout());
  EXPECT_EQ(loaded.graph.nodes.size(), 5u);
  EXPECT_EQ(loaded.graph.segments.size(), 3u);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_TRUE(
      testing::IsPrefixAndMilliseconds(messages[0], "Roads: 2 archives, 2 tiles (0 skipped), 5 nodes, 3 segments, "))
      << messages[0];
}

}  // namespace
}  // namespace pathlight
