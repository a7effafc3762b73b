// pathlight-route on a small synthetic world: the library's lines on standard output, a picture
// that decodes, GeoJSON of the right shape, the wagon switch and an INI file, and a short bench.
#include <cairo.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <span>

#include "roads/byte_fixtures.hpp"
#include "roads/road_loader.hpp"

namespace pathlight {
namespace {

struct ToolRun {
  int status = 0;
  std::vector<std::string> lines;  // messages, time stamps removed
};

ToolRun RunTool(const std::string& arguments) {
  const std::string command = std::string(PATHLIGHT_ROUTE_TOOL) + " " + arguments + " 2>&1";
  ToolRun run;
  FILE* pipe = popen(command.c_str(), "r");
  std::string out;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  run.status = pclose(pipe);
  for (std::string& line : testing::LogMessages(out)) {
    if (line.rfind("BAD: ", 0) == 0) line = line.substr(5);
    if (!line.empty()) run.lines.push_back(line);
  }
  return run;
}

bool StartsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

TEST(RouteTool, SearchesDrawsAndWritesGeoJsonOnASyntheticWorld) {
  testing::ScratchFolder folder;
  const std::string game = (folder.path() / "game").string();
  ASSERT_EQ(std::system((std::string(PATHLIGHT_WORLDGEN) + " --out '" + game + "' --nodes 3000 > /dev/null").c_str()),
            0);
  ::testing::internal::CaptureStdout();
  const RoadGraph graph = LoadRoadNetwork(WidePathFromNative(game)).graph;
  (void)::testing::internal::GetCapturedStdout();
  // Two road nodes far apart, and points 10 m beside them.
  const RoadNode& a = graph.nodes[graph.nodes.size() / 7];
  const RoadNode& b = graph.nodes[graph.nodes.size() * 6 / 7];
  char points[128];
  std::snprintf(points, sizeof points, "--from %.1f,%.1f --to %.1f,%.1f", a.x + 10.0, static_cast<double>(a.z),
                b.x - 10.0, static_cast<double>(b.z));
  const std::string png = (folder.path() / "route.png").string(), json = (folder.path() / "route.geojson").string();

  ToolRun run = RunTool("--game '" + game + "' " + points + " --png '" + png + "' --geojson '" + json + "'");
  ASSERT_EQ(run.status, 0);
  ASSERT_GE(run.lines.size(), 3u);
  EXPECT_TRUE(StartsWith(run.lines[run.lines.size() - 3], "Roads: 4 archives, ")) << run.lines[run.lines.size() - 3];
  EXPECT_TRUE(StartsWith(run.lines[run.lines.size() - 2], "Route: by road type (m): main "))
      << run.lines[run.lines.size() - 2];
  const std::string& routeLine = run.lines.back();
  EXPECT_TRUE(StartsWith(routeLine, "Route: (")) << routeLine;
  EXPECT_EQ(routeLine.find("wagon"), std::string::npos);

  cairo_surface_t* picture = cairo_image_surface_create_from_png(png.c_str());
  EXPECT_EQ(cairo_surface_status(picture), CAIRO_STATUS_SUCCESS);
  EXPECT_GE(cairo_image_surface_get_width(picture), 480);
  EXPECT_GE(cairo_image_surface_get_height(picture), 360);
  cairo_surface_destroy(picture);

  const nlohmann::json feature = nlohmann::json::parse(std::ifstream(json));
  EXPECT_EQ(feature["type"], "Feature");
  EXPECT_EQ(feature["geometry"]["type"], "LineString");
  const auto& coordinates = feature["geometry"]["coordinates"];
  const auto& properties = feature["properties"];
  ASSERT_GT(coordinates.size(), 4u);
  // The point count of the "Route:" line is the line string's.
  EXPECT_NE(routeLine.find(": " + std::to_string(coordinates.size()) + " points in "), std::string::npos) << routeLine;
  EXPECT_NEAR(coordinates[0][0].get<float>(), a.x + 10.0f, 0.05);
  EXPECT_EQ(coordinates[0].size(), 2u);
  ASSERT_EQ(properties["heights"].size(), coordinates.size());
  EXPECT_TRUE(properties["heights"].front().is_null());
  EXPECT_TRUE(properties["heights"].back().is_null());
  EXPECT_TRUE(properties["heights"][1].is_number());
  EXPECT_TRUE(properties["cost"].is_number());
  EXPECT_GT(properties["length_m"].get<double>(), std::hypot(b.x - a.x - 20.0, static_cast<double>(b.z - a.z)) - 1);
  EXPECT_EQ(properties["wagon"], false);

  // Wagon weights, then an INI file that switches wagon routing off.
  run = RunTool("--game '" + game + "' " + points + " --wagon --geojson '" + json + "'");
  EXPECT_TRUE(run.lines.back().ends_with(" ms (wagon roads)")) << run.lines.back();
  EXPECT_EQ(nlohmann::json::parse(std::ifstream(json))["properties"]["wagon"], true);
  const std::string ini = (folder.path() / "Pathlight.ini").string();
  std::ofstream(ini) << "[WagonRouting]\nEnabled=0\n[Routing]\nOffRoadWeight=-3\n";
  run = RunTool("--game '" + game + "' " + points + " --wagon --ini '" + ini + "'");
  EXPECT_TRUE(run.lines.back().ends_with(" ms")) << run.lines.back();
  EXPECT_NE(std::find(run.lines.begin(), run.lines.end(),
                      "Route: [Routing] OffRoadWeight=-3 is not a usable weight, using 2.5"),
            run.lines.end());

  // A goal far from every road: the straight line, with a null cost.
  std::snprintf(points, sizeof points, "--from %.1f,%.1f --to 9e5,9e5", a.x + 10.0, static_cast<double>(a.z));
  run = RunTool("--game '" + game + "' " + points + " --geojson '" + json + "'");
  EXPECT_EQ(run.status, 0);
  ASSERT_GE(run.lines.size(), 2u);
  EXPECT_EQ(run.lines.back(), "no road route: straight line");
  EXPECT_TRUE(StartsWith(run.lines[run.lines.size() - 2], "Route: (")) << run.lines[run.lines.size() - 2];
  EXPECT_NE(run.lines[run.lines.size() - 2].find(": 2 points in "), std::string::npos);
  EXPECT_TRUE(nlohmann::json::parse(std::ifstream(json))["properties"]["cost"].is_null());

  run = RunTool("--game '" + game + "' --bench 20");
  EXPECT_EQ(run.status, 0);
  const auto ratio = std::find_if(run.lines.begin(), run.lines.end(), [](const std::string& line) {
    return StartsWith(line, "Bench: ratio FindRoute/BGL median ");
  });
  ASSERT_NE(ratio, run.lines.end());
  EXPECT_TRUE(ratio->ends_with("; 0 cost disagreements")) << *ratio;
  // The table's rows follow, one per figure, named by the world's size; A* settles fewer nodes
  // than Dijkstra on the same queries.
  std::vector<nlohmann::json> rows;
  for (const std::string& line : run.lines) {
    if (StartsWith(line, "bench-row: ")) rows.push_back(nlohmann::json::parse(line.substr(11)));
  }
  ASSERT_EQ(rows.size(), 4u);
  const std::string first = rows[0]["id"];
  const std::string size = first.substr(first.rfind('.') + 1);
  const char* figures[] = {"median", "p95", "ns_per_settled", "settled"};
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i]["id"], "route." + std::string(figures[i]) + "." + size);
    EXPECT_TRUE(rows[i]["figure"].is_number() && rows[i]["baseline"].is_number()) << rows[i].dump();
  }
  EXPECT_LT(rows[3]["figure"].get<double>(), rows[3]["baseline"].get<double>()) << rows[3].dump();
}

// The exit statuses the tool's help names: a folder none of whose indexes reads is a failure (1),
// a malformed command line another (2).
TEST(RouteTool, ExitStatusesForUnreadableIndexesAndBadArguments) {
  testing::ScratchFolder folder;
  folder.Write("empty/0008/0.pamt", {});
  folder.Write("cut/0008/0.pamt", testing::Bytes{}.Fill(7, 0));
  const std::string root = folder.path().string();
  const struct {
    std::string arguments;
    int status;
    std::string lastLine;
  } cases[] = {
      {"--game '" + root + "/empty'", 1,
       "pathlight-route: no archive index in " + root + "/empty could be read (see the \"Roads:\" lines)"},
      {"--game '" + root + "/cut' --from 0,0 --to 1,1", 1,
       "pathlight-route: no archive index in " + root + "/cut could be read (see the \"Roads:\" lines)"},
      {"--game '" + root + "/empty' --from '0;0' --to 1,1", 2,
       "pathlight-route: --from and --to take X,Z in metres, for example --from 120.5,-300"},
      {"--game '" + root + "/empty' --from 0,0", 2, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    const ToolRun run = RunTool(c.arguments);
    ASSERT_TRUE(WIFEXITED(run.status));
    EXPECT_EQ(WEXITSTATUS(run.status), c.status);
    if (!c.lastLine.empty()) {
      ASSERT_FALSE(run.lines.empty());
      EXPECT_EQ(run.lines.back(), c.lastLine);
    }
  }
}

}  // namespace
}  // namespace pathlight
