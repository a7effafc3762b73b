// The fielddefault file against hand-made bytes: finding each section's vertex list, the spanning
// tree per edge, the junction links to tile nodes, and the file's log lines.
#include "roads/field_default.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

#include "roads/byte_fixtures.hpp"

namespace pathlight {
namespace {

using testing::Bytes;
using testing::FieldDefaultHead;
using testing::FieldRecord;
using testing::FieldSectionBytes;

struct FileRun {
  std::vector<std::string> log;
  std::string error;
};

FileRun Process(const Bytes& file, GraphBuilder& builder) {
  FileRun run;
  ::testing::internal::CaptureStdout();
  try {
    AddFieldDefault(file.span(), builder);
  } catch (const std::runtime_error& e) {
    run.error = e.what();
  }
  run.log = testing::LogMessages(::testing::internal::GetCapturedStdout());
  return run;
}

// Segments of a type as node index pairs, smaller first, sorted.
std::vector<std::pair<std::int32_t, std::int32_t>> Pairs(const GraphBuilder& builder, RoadType type) {
  std::vector<std::pair<std::int32_t, std::int32_t>> pairs;
  for (const RoadSegment& s : builder.segments()) {
    if (s.type == type) pairs.emplace_back(std::min(s.first, s.second), std::max(s.first, s.second));
  }
  std::sort(pairs.begin(), pairs.end());
  return pairs;
}

const std::string kNoList = "Roads: fielddefault: no vertex list for 'wagon'";

TEST(FieldDefault, SpanningTreeJoinsEachEdgesVerticesByNearestNeighbours) {
  // Edge 7 over x = 30, 0, 10 (nodes 0, 1, 2, in that order): the tree is 0-10 and 10-30, never
  // 0-30. Vertex 1 is also alone on edge 8, which gives nothing. Edge 9 over (100, 0), (110, 0),
  // (105, 10): the last is as far from both, and keeps the first it was reached from.
  Bytes file = FieldDefaultHead(1);
  file.Append(FieldSectionBytes("wagon", 4,
                                {{30, 1, 0, 5, {7}},
                                 {0, 1, 0, 5, {7, 8}},
                                 {10, 1, 0, 5, {7}},
                                 {100, 0, 0, 5, {9}},
                                 {110, 0, 0, 5, {9}},
                                 {105, 0, 10, 5, {9}}}));
  GraphBuilder builder;
  const FileRun run = Process(file, builder);
  EXPECT_EQ(run.error, "");
  EXPECT_EQ(Pairs(builder, RoadType::Wide),
            (std::vector<std::pair<std::int32_t, std::int32_t>>{{0, 2}, {1, 2}, {3, 4}, {3, 5}}));
  EXPECT_EQ(
      run.log,
      (std::vector<std::string>{"Roads: fielddefault 'wagon': 6 vertices, 3 edges, 4 segments, 0 junction links"}));
}

TEST(FieldDefault, VerticesOnOneNodeGiveNoTreeSegment) {
  Bytes file = FieldDefaultHead(1);
  file.Append(FieldSectionBytes("worldmaproad", 4, {{0, 0, 0, 5, {1}}, {0.3f, 0, 0, 5, {1}}, {20, 0, 0, 5, {1}}}));
  GraphBuilder builder;
  Process(file, builder);
  EXPECT_EQ(builder.nodes().size(), 2u);
  EXPECT_EQ(Pairs(builder, RoadType::Main), (std::vector<std::pair<std::int32_t, std::int32_t>>{{0, 1}}));
}

TEST(FieldDefault, JunctionLinksReachTheNearestTileNodeStrictlyWithin6Metres) {
  GraphBuilder builder;
  const std::int32_t at5_9 = builder.NodeForPosition(5.9f, 0, 0);
  builder.NodeForPosition(106, 0, 0);  // 6.0 m from the vertex at 100
  const std::int32_t own = builder.NodeForPosition(200, 0, 0);
  const std::int32_t next = builder.NodeForPosition(204, 0, 3);  // 4.8 m from 200.2
  builder.NodeForPosition(195, 0, 0);                            // 5.2 m
  builder.NodeForPosition(303, 0, 0);                            // 3 m from (300, 0), cell x 60
  const std::int32_t tied = builder.NodeForPosition(297, 0, 0);  // as near, cell x 59: found first
  const auto field = static_cast<std::int32_t>(builder.nodes().size());
  Bytes file = FieldDefaultHead(1);
  // The vertex at 200.2 is the tile node at 200 (same whole metres): it links to the next nearest.
  file.Append(FieldSectionBytes(
      "wagon", 4,
      {{0, 0, 0, 1, {1}}, {100, 0, 0, 1, {2}}, {200.2f, 0, 0, 1, {3}}, {300, 0, 0, 1, {4}}, {1000, 0, 0, 1, {5}}}));
  const FileRun run = Process(file, builder);
  EXPECT_EQ(Pairs(builder, RoadType::Link),
            (std::vector<std::pair<std::int32_t, std::int32_t>>{{at5_9, field}, {own, next}, {tied, field + 2}}));
  EXPECT_EQ(run.log.back(), "Roads: fielddefault 'wagon': 5 vertices, 5 edges, 0 segments, 3 junction links");
}

TEST(FieldDefault, VertexListSearch) {
  // The list at the first candidate (4 bytes after the name), and after a longer stretch; a
  // section that is no road is passed over; each next section starts right after a list.
  Bytes file = FieldDefaultHead(3);
  file.Append(FieldSectionBytes("river", 4, {{1, 0, 1, 0, {1}}, {2, 0, 1, 0, {}}}));
  file.Append(FieldSectionBytes("worldmaproad", 4, {{0, 0, 0, 0, {1}}, {10, 0, 0, 0, {1}}}));
  file.Append(FieldSectionBytes("wagon", 37, {{50, 0, 0, 99.5f, {1}}, {60, 0, 0, 99.5f, {1}}}));
  GraphBuilder builder;
  const FileRun run = Process(file, builder);
  EXPECT_EQ(run.log, (std::vector<std::string>{
                         "Roads: fielddefault 'worldmaproad': 2 vertices, 1 edges, 1 segments, 0 junction links",
                         "Roads: fielddefault 'wagon': 2 vertices, 1 edges, 1 segments, 0 junction links"}));
  EXPECT_EQ(builder.nodes().size(), 4u);  // the river's vertices are no nodes
}

TEST(FieldDefault, InvalidRecordsCountsOfZeroAndShortTailsAreNeverAList) {
  // Each record breaks one rule; the file ends at that section, what came before stays.
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (const FieldRecord& bad : std::vector<FieldRecord>{{100000, 0, 0, 0, {}},
                                                         {0, 0, -100000, 0, {}},
                                                         {0, 10000, 0, 0, {}},
                                                         {0, 0, 0, 100, {}},
                                                         {0, 0, 0, -1, {}},
                                                         {nan, 0, 0, 0, {}},
                                                         {0, 0, 0, nan, {}},
                                                         {0, 0, 0, 0, std::vector<std::uint32_t>(65, 1)}}) {
    Bytes file = FieldDefaultHead(2);
    file.Append(FieldSectionBytes("worldmaproad", 4, {{0, 0, 0, 0, {1}}, {10, 0, 0, 0, {1}}}));
    file.Append(FieldSectionBytes("wagon", 4, {bad})).Fill(40, 0xFF);
    GraphBuilder builder;
    EXPECT_EQ(Process(file, builder).log.back(), kNoList);
    EXPECT_EQ(builder.segments().size(), 1u);
  }
  GraphBuilder builder;
  // A count of 0 right after the name, and the next section's list after it: the search passes
  // the 0 by and takes that list as this section's.
  Bytes zero = FieldDefaultHead(1);
  zero.Append(FieldSectionBytes("wagon", 4, {}))
      .Append(FieldSectionBytes("fence", 4, {{0, 0, 0, 0, {1}}, {10, 0, 0, 0, {1}}}));
  EXPECT_EQ(Process(zero, builder).log.back(),
            "Roads: fielddefault 'wagon': 2 vertices, 1 edges, 1 segments, 0 junction links");
  builder = GraphBuilder{};
  Bytes order = FieldDefaultHead(1);  // record index 3 where 1 belongs
  order.Append(FieldSectionBytes("wagon", 4, {{0, 0, 0, 0, {1}}}))
      .Append(testing::FieldVertexBytes(3, {1, 0, 0, 0, {}}))
      .PatchU32(37, 2)
      .Fill(40, 0xFF);
  EXPECT_EQ(Process(order, builder).log.back(), kNoList);
  // A last list of one bare record is 32 bytes, shorter than the 36 the search looks ahead.
  Bytes bare = FieldDefaultHead(1);
  EXPECT_EQ(Process(bare.Append(FieldSectionBytes("wagon", 4, {{0, 0, 0, 0, {}}})), builder).log.back(), kNoList);
  // A list followed by a plausible name length and nothing after it: the name would start at the
  // end of the file, so it is no list (and nothing is read past the end).
  Bytes tail = FieldDefaultHead(1);
  const FileRun run =
      Process(tail.Append(FieldSectionBytes("wagon", 4, {{0, 0, 0, 0, {1}}, {10, 0, 0, 0, {1}}})).U32(5), builder);
  EXPECT_EQ(run.error, "");
  EXPECT_EQ(run.log.back(), kNoList);
  EXPECT_TRUE(builder.segments().empty());
}

TEST(FieldDefault, AValidRecordWhoseEdgeIdsRunPastTheEndIsTruncated) {
  // Its only record promises 5 edge ids with room for 2: the file ends with "truncated", the
  // section before stays.
  Bytes file = FieldDefaultHead(2);
  file.Append(FieldSectionBytes("worldmaproad", 4, {{0, 0, 0, 0, {1}}, {10, 0, 0, 0, {1}}}));
  file.Append(FieldSectionBytes("wagon", 4, {{0, 0, 0, 0, {1, 2, 3, 4, 5}}}));
  file.CutTo(file.size() - 12);
  GraphBuilder builder;
  EXPECT_EQ(Process(file, builder).error, "truncated");
  EXPECT_EQ(builder.segments().size(), 1u);
}

TEST(FieldDefault, HeadChecks) {
  GraphBuilder builder;
  EXPECT_EQ(Process(Bytes{}.U8(47).U8(0).U8(0), builder).error, "truncated");
  EXPECT_EQ(Process(Bytes{}.U32(47).Fill(19, 0), builder).error, "truncated");  // 23 bytes
  Bytes other = FieldDefaultHead(1, 48);  // another version: ignored without a word
  const FileRun run =
      Process(other.Append(FieldSectionBytes("wagon", 4, {{0, 0, 0, 0, {1}}, {10, 0, 0, 0, {1}}})), builder);
  EXPECT_EQ(run.error, "");
  EXPECT_TRUE(run.log.empty());
  EXPECT_TRUE(builder.nodes().empty());
  EXPECT_EQ(Process(FieldDefaultHead(1).U32(100).Text("wag"), builder).error, "truncated");  // a name past the end
}

TEST(LoadFieldDefault, ReadsOnlyUnpackedFilesNamedExactlyFielddefaultAndLogsErrors) {
  testing::ScratchFolder game;
  Bytes good = FieldDefaultHead(1);
  good.Append(FieldSectionBytes("wagon", 4, {{0, 0, 0, 0, {1}}, {10, 0, 0, 0, {1}}}));
  const auto size = static_cast<std::uint32_t>(good.size());
  game.Write("0008/0.paz", Bytes{}.Append(good).U32(47).Fill(10, 0));  // then 14 bytes: truncated
  game.Write("0008/0.pamt", testing::IndexBytes({{"road/rootlevel/main",
                                                  {{"fielddefault", 0, 0, size, size, 1},
                                                   {"fielddefault2", 0, 0, size, size, 0},
                                                   {"fielddefault", 0, 0, size, size + 1, 0},
                                                   {"fielddefault", 0, size, 14, 14, 0},
                                                   {"fielddefault", 0, 0, size, size, 0}}}}));
  GraphBuilder builder;
  ::testing::internal::CaptureStdout();
  LoadFieldDefault(game.Wide("0008/0.pamt"), builder);
  EXPECT_EQ(
      testing::LogMessages(::testing::internal::GetCapturedStdout()),
      (std::vector<std::string>{"Roads: fielddefault unreadable (truncated)",
                                "Roads: fielddefault 'wagon': 2 vertices, 1 edges, 1 segments, 0 junction links"}));
  EXPECT_EQ(builder.segments().size(), 1u);
  ::testing::internal::CaptureStdout();
  LoadFieldDefault(game.Wide("none/0.pamt"), builder);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

}  // namespace
}  // namespace pathlight
