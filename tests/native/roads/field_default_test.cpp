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
using testing::FieldRecord;
using testing::FieldSectionBytes;

// The log lines (without time stamps) that processing the file wrote, and whether it raised.
struct FileRun {
  std::vector<std::string> lines;
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
  run.lines = testing::LogMessages(::testing::internal::GetCapturedStdout());
  return run;
}

// The segments as pairs of node x positions, smaller first.
std::vector<std::pair<float, float>> SegmentXs(const GraphBuilder& builder, RoadType type) {
  std::vector<std::pair<float, float>> xs;
  for (const RoadSegment& s : builder.segments()) {
    if (s.type != type) continue;
    const float a = builder.nodes()[static_cast<std::size_t>(s.first)].x, b = builder.nodes()[static_cast<std::size_t>(s.second)].x;
    xs.emplace_back(std::min(a, b), std::max(a, b));
  }
  std::sort(xs.begin(), xs.end());
  return xs;
}

TEST(FieldDefault, SpanningTreeJoinsEachEdgesVerticesByNearestNeighbours) {
  // One edge (7) over vertices at x = 30, 0, 10, listed in that order: the tree is 0-10 and
  // 10-30, never 0-30. Vertex 0 is also on edge 8, alone, which gives no segment.
  Bytes file = testing::FieldDefaultHead(1);
  file.Append(FieldSectionBytes("wagon", 4, {{30, 1, 0, 5, {7}}, {0, 1, 0, 5, {7, 8}}, {10, 1, 0, 5, {7}}}));
  GraphBuilder builder;
  const FileRun run = Process(file, builder);
  EXPECT_EQ(run.error, "");
  EXPECT_EQ(SegmentXs(builder, RoadType::Wide), (std::vector<std::pair<float, float>>{{0, 10}, {10, 30}}));
  EXPECT_EQ(run.lines, (std::vector<std::string>{"Roads: fielddefault 'wagon': 3 vertices, 2 edges, 2 segments, 0 junction links"}));
}

TEST(FieldDefault, VerticesOnOneNodeGiveNoTreeSegment) {
  // 0 and 0.3 round to one node; the edge still reaches 20 from it.
  Bytes file = testing::FieldDefaultHead(1);
  file.Append(FieldSectionBytes("worldmaproad", 4, {{0, 0, 0, 5, {1}}, {0.3f, 0, 0, 5, {1}}, {20, 0, 0, 5, {1}}}));
  GraphBuilder builder;
  Process(file, builder);
  EXPECT_EQ(builder.nodes().size(), 2u);
  EXPECT_EQ(SegmentXs(builder, RoadType::Main), (std::vector<std::pair<float, float>>{{0, 20}}));
}

TEST(FieldDefault, JunctionLinksReachTheNearestTileNodeStrictlyWithin6Metres) {
  GraphBuilder builder;
  const std::int32_t at5_9 = builder.NodeForPosition(5.9f, 0, 0);
  builder.NodeForPosition(106, 0, 0);  // 6.0 m from the vertex at 100
  const std::int32_t own = builder.NodeForPosition(200, 0, 0);
  const std::int32_t next = builder.NodeForPosition(204, 0, 3);
  builder.NodeForPosition(195, 0, 0);  // 5.2 m from 200.2, but 204 is nearer
  const std::int32_t tied = builder.NodeForPosition(300, 0, 3);
  builder.NodeForPosition(303, 0, 0);  // the same 3 m from (300, 0): the first one found stays
  const std::size_t tileNodes = builder.nodes().size();
  Bytes file = testing::FieldDefaultHead(1);
  file.Append(FieldSectionBytes("wagon", 4,
                                {{0, 0, 0, 1, {1}}, {100, 0, 0, 1, {2}}, {200.2f, 0, 0, 1, {3}}, {300, 0, 0, 1, {4}}, {1000, 0, 0, 1, {5}}}));
  const FileRun run = Process(file, builder);
  std::vector<std::pair<std::int32_t, std::int32_t>> links;
  for (const RoadSegment& s : builder.segments()) {
    if (s.type == RoadType::Link) links.emplace_back(s.first, s.second);
  }
  // The field vertex at 200.2 is the tile node at 200 itself (same whole metres), so it links
  // to the next nearest: (204, 3) at 4.8 m rather than 195 at 5.2 m.
  const auto fieldNode = [&](std::size_t i) { return static_cast<std::int32_t>(tileNodes + i); };
  EXPECT_EQ(links, (std::vector<std::pair<std::int32_t, std::int32_t>>{
                       {fieldNode(0), at5_9}, {own, next}, {fieldNode(2), tied}}));
  EXPECT_EQ(run.lines.back(), "Roads: fielddefault 'wagon': 5 vertices, 5 edges, 0 segments, 3 junction links");
}

TEST(FieldDefault, NodesOfTheFileItselfAreNoLinkTargets) {
  // Two field sections, vertices 2 m apart: neither links to the other.
  Bytes file = testing::FieldDefaultHead(2);
  file.Append(FieldSectionBytes("worldmaproad", 4, {{0, 0, 0, 1, {1}}}));
  file.Append(FieldSectionBytes("wagon", 4, {{2, 0, 0, 1, {1}}}));
  GraphBuilder builder;
  const FileRun run = Process(file, builder);
  EXPECT_EQ(builder.segments().size(), 0u);
  EXPECT_EQ(run.lines.size(), 2u);
}

TEST(FieldDefault, VertexListSearch) {
  // List at the first candidate (4 bytes after the name), after a longer stretch, and a section
  // that is no road, passed over; the next section starts right after each list.
  Bytes file = testing::FieldDefaultHead(3);
  file.Append(FieldSectionBytes("river", 4, {{1, 0, 1, 0, {1}}, {2, 0, 1, 0, {}}}));
  file.Append(FieldSectionBytes("worldmaproad", 4, {{0, 0, 0, 0, {1}}, {10, 0, 0, 0, {1}}}));
  file.Append(FieldSectionBytes("wagon", 37, {{50, 0, 0, 99.5f, {1}}, {60, 0, 0, 99.5f, {1}}}));
  GraphBuilder builder;
  const FileRun run = Process(file, builder);
  EXPECT_EQ(run.error, "");
  EXPECT_EQ(run.lines, (std::vector<std::string>{"Roads: fielddefault 'worldmaproad': 2 vertices, 1 edges, 1 segments, 0 junction links",
                                                 "Roads: fielddefault 'wagon': 2 vertices, 1 edges, 1 segments, 0 junction links"}));
  EXPECT_EQ(builder.nodes().size(), 4u);  // the river's vertices are no nodes
}

TEST(FieldDefault, InvalidRecordsAndACountOfZeroAreNeverAList) {
  // Each record breaks one rule, so no list is found and the file ends there; what the section
  // before added stays.
  const std::vector<FieldRecord> bad = {
      {100000, 0, 0, 0, {}}, {0, 0, -100000, 0, {}}, {0, 10000, 0, 0, {}}, {0, 0, 0, 100, {}},
      {0, 0, 0, -1, {}},     {std::numeric_limits<float>::quiet_NaN(), 0, 0, 0, {}}, {0, 0, 0, std::numeric_limits<float>::infinity(), {}},
  };
  for (const FieldRecord& record : bad) {
    Bytes file = testing::FieldDefaultHead(2);
    file.Append(FieldSectionBytes("worldmaproad", 4, {{0, 0, 0, 0, {1}}, {10, 0, 0, 0, {1}}}));
    file.Append(FieldSectionBytes("wagon", 4, {record})).Fill(40, 0xFF);
    GraphBuilder builder;
    const FileRun run = Process(file, builder);
    EXPECT_EQ(run.lines.back(), "Roads: fielddefault: no vertex list for 'wagon'");
    EXPECT_EQ(builder.segments().size(), 1u);
  }
  Bytes sixtyFive = testing::FieldDefaultHead(1);
  sixtyFive.Append(FieldSectionBytes("wagon", 4, {{0, 0, 0, 0, std::vector<std::uint32_t>(65, 1)}})).Fill(40, 0xFF);
  GraphBuilder builder;
  EXPECT_EQ(Process(sixtyFive, builder).lines.back(), "Roads: fielddefault: no vertex list for 'wagon'");
  Bytes zero = testing::FieldDefaultHead(1);
  zero.Append(FieldSectionBytes("wagon", 4, {})).Fill(40, 0xFF);
  EXPECT_EQ(Process(zero, builder).lines.back(), "Roads: fielddefault: no vertex list for 'wagon'");
  // A record index out of order.
  Bytes order = testing::FieldDefaultHead(1);
  order.Append(FieldSectionBytes("wagon", 4, {{0, 0, 0, 0, {1}}})).Append(testing::FieldVertexBytes(3, {1, 0, 0, 0, {}}));
  order.PatchU32(24 + 4 + 5 + 4, 2).Fill(40, 0xFF);
  EXPECT_EQ(Process(order, builder).lines.back(), "Roads: fielddefault: no vertex list for 'wagon'");
}

TEST(FieldDefault, AValidRecordWhoseEdgeIdsRunPastTheEndIsTruncated) {
  // A processed section, then a candidate near the end whose only record promises 5 edge ids
  // with room for 2: the whole file's processing ends with "truncated", the first section stays.
  Bytes file = testing::FieldDefaultHead(2);
  file.Append(FieldSectionBytes("worldmaproad", 4, {{0, 0, 0, 0, {1}}, {10, 0, 0, 0, {1}}}));
  file.Append(FieldSectionBytes("wagon", 4, {{0, 0, 0, 0, {1, 2, 3, 4, 5}}}));
  file.Resize(file.size() - 12);
  GraphBuilder builder;
  const FileRun run = Process(file, builder);
  EXPECT_EQ(run.error, "truncated");
  EXPECT_EQ(builder.segments().size(), 1u);
}

TEST(FieldDefault, ListNeedsRoomForTheLookAhead) {
  // A last list of one bare record is 32 bytes: shorter than the 36 the search needs ahead.
  Bytes file = testing::FieldDefaultHead(1);
  file.Append(FieldSectionBytes("wagon", 4, {{0, 0, 0, 0, {}}}));
  GraphBuilder builder;
  EXPECT_EQ(Process(file, builder).lines.back(), "Roads: fielddefault: no vertex list for 'wagon'");
}

TEST(FieldDefault, HeadChecks) {
  GraphBuilder builder;
  EXPECT_EQ(Process(Bytes{}.U8s({47, 0, 0}), builder).error, "truncated");
  EXPECT_EQ(Process(Bytes{}.U32(47).Fill(19, 0), builder).error, "truncated");  // 23 bytes
  // Another version is ignored without a word.
  Bytes other = testing::FieldDefaultHead(1, 48);
  other.Append(FieldSectionBytes("wagon", 4, {{0, 0, 0, 0, {1}}, {10, 0, 0, 0, {1}}}));
  const FileRun run = Process(other, builder);
  EXPECT_EQ(run.error, "");
  EXPECT_TRUE(run.lines.empty());
  EXPECT_TRUE(builder.nodes().empty());
  // A section name running past the end.
  Bytes name = testing::FieldDefaultHead(1);
  name.U32(100).Text("wag");
  EXPECT_EQ(Process(name, builder).error, "truncated");
}

TEST(LoadFieldDefault, ReadsOnlyUnpackedFilesNamedExactlyFielddefaultAndLogsErrors) {
  testing::ScratchFolder game;
  Bytes good = testing::FieldDefaultHead(1);
  good.Append(FieldSectionBytes("wagon", 4, {{0, 0, 0, 0, {1}}, {10, 0, 0, 0, {1}}}));
  Bytes archive;
  archive.Append(good);
  const auto size = static_cast<std::uint32_t>(good.size());
  archive.Append(Bytes{}.U32(47).Fill(10, 0));  // 14 bytes: truncated
  game.Write("0008/0.paz", archive);
  game.Write("0008/0.pamt", testing::IndexBytes({{"road/rootlevel/main",
                                                  {{"fielddefault", 0, 0, size, size, 1},
                                                   {"fielddefault2", 0, 0, size, size, 0},
                                                   {"fielddefault", 0, 0, size, size + 1, 0},
                                                   {"fielddefault", 0, size, 14, 14, 0},
                                                   {"fielddefault", 0, 0, size, size, 0}}}}));
  GraphBuilder builder;
  ::testing::internal::CaptureStdout();
  LoadFieldDefault(game.Wide("0008/0.pamt"), builder);
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(testing::LogMessages(out), (std::vector<std::string>{"Roads: fielddefault unreadable (truncated)",
                                                                  "Roads: fielddefault 'wagon': 2 vertices, 1 edges, 1 segments, 0 junction links"}));
  EXPECT_EQ(builder.segments().size(), 1u);
  // A missing index: nothing, silently.
  ::testing::internal::CaptureStdout();
  LoadFieldDefault(game.Wide("none/0.pamt"), builder);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

}  // namespace
}  // namespace pathlight
