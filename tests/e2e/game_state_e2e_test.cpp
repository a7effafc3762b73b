// The library in the simulated game with its heap state and a synthetic world: the finder, the
// readers and the route worker together, checked through the log against what the scenario did.
//
// The walk and the stray points come from the same route search, run natively by pathlight-route
// on the same world, so the distances the scenario steps off the route are known exactly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>

#include "game_folder.hpp"
#include "synthetic_world.hpp"

namespace e2e {
namespace {

// The world every scenario here runs in: three by three towns, roads between them.
constexpr int kWorldSeed = 3;
constexpr int kWorldNodes = 2000;
// The player starts on the main road south-west of a town; the waypoint lies in the town.
constexpr Point kStart{-980, -990};
constexpr Point kWaypoint{-480, -530};

// Least ground distance from p to the polyline, as the route worker measures it.
double DistanceToLine(const std::vector<Point>& line, Point p) {
  double best = 1e30;
  for (std::size_t i = 1; i < line.size(); ++i) {
    const Point a = line[i - 1], b = line[i];
    const double dx = b.x - a.x, dz = b.z - a.z, d2 = dx * dx + dz * dz;
    double t = d2 > 0 ? ((p.x - a.x) * dx + (p.z - a.z) * dz) / d2 : 0;
    t = std::clamp(t, 0.0, 1.0);
    const double ex = a.x + t * dx - p.x, ez = a.z + t * dz - p.z;
    best = std::min(best, ex * ex + ez * ez);
  }
  return std::sqrt(best);
}

// A whole-metre point `distance` metres from `from` whose distance to the line is at least
// `atLeast`; the first of 16 directions that serves.
std::optional<Point> StepOff(const std::vector<Point>& line, Point from, double distance, double atLeast) {
  for (int k = 0; k < 16; ++k) {
    const double angle = k * M_PI / 8;
    const Point p{std::round(from.x + distance * std::cos(angle)), std::round(from.z + distance * std::sin(angle))};
    if (DistanceToLine(line, p) >= atLeast) return p;
  }
  return std::nullopt;
}

std::string PointArg(Point p) { return Text(p.x) + "," + Text(p.z); }

// The log's messages with the tags this file checks, in order; the per-road-type breakdown of a
// route is left out.
std::vector<std::string> StoryLines(const std::string& log) {
  static const std::regex tags(R"(^(Route: \(|Player: |Clock: |Minimap: |Finder: waypoint|Finder: no waypoint))");
  std::vector<std::string> lines;
  for (const std::string& line : LogMessages(log)) {
    if (std::regex_search(line, tags)) lines.push_back(line);
  }
  return lines;
}

// Each line must match its pattern, in order, and no other line may come between.
void ExpectLines(const std::vector<std::string>& lines, const std::vector<std::string>& patterns) {
  for (std::size_t i = 0; i < std::max(lines.size(), patterns.size()); ++i) {
    const std::string line = i < lines.size() ? lines[i] : "<missing>";
    const std::string pattern = i < patterns.size() ? patterns[i] : "<none>";
    EXPECT_TRUE(i < lines.size() && i < patterns.size() && std::regex_match(line, std::regex(pattern)))
        << "line " << i << ": " << line << "\n  expected: " << pattern;
  }
}

std::string RouteLine(Point from, Point to, const char* suffix = "") {
  char text[200];
  std::snprintf(text, sizeof text, "Route: \\(%.0f,%.0f\\) -> \\(%.0f,%.0f\\): \\d+ points in \\d+ ms%s", from.x,
                from.z, to.x, to.z, suffix);
  return text;
}

std::string DirectLine(Point at, int path) {
  char text[200];
  std::snprintf(text, sizeof text, "Finder: waypoint icon [0-9a-fA-F]+ at \\(%.1f, %.1f\\) read directly \\(path %d\\)",
                at.x, at.z, path);
  return text;
}

TEST(GameStateE2E, WaypointRoutesStrayingMountsAndTheReadersLines) {
  GameFolder game("story");
  ASSERT_TRUE(MakeWorld(game, kWorldSeed, kWorldNodes));
  const Point moved{kWaypoint.x, kWaypoint.z + 0.5};
  const Point goal{kWaypoint.x, kWaypoint.z + 2};
  const std::vector<Point> route = NativeRoute(game, kStart, goal);
  ASSERT_GE(route.size(), 10u) << "no road route in the test world";
  // Walk along the route to a point a third of the way, then step 20 m and 30 m off it.
  const std::size_t stop = route.size() / 3;
  const Point standing = route[stop];
  const Point near{std::round(standing.x), std::round(standing.z + 20)};
  ASSERT_LE(DistanceToLine(route, near), 21.0);
  const auto strayed = StepOff(route, standing, 30, 27);
  ASSERT_TRUE(strayed.has_value());
  std::string walk = "+0 walk 1200";
  for (std::size_t i = 1; i <= stop; ++i) walk += " " + PointArg(route[i]);

  // Each line says in its comment what the library should make of it (the demo shows this file).
  // The story waits for the library's lines; where nothing must happen it leaves twenty of the
  // route worker's 50 ms passes before the next step.
  const std::string routeTo = " -> \\(" + Text(goal.x) + "," + Text(goal.z) + "\\)";
  const std::string from = "Route: \\(" + Text(strayed->x) + "," + Text(strayed->z) + "\\)";
  WriteScenario(
      game.Root() / "scenario.txt",
      {"0 place " + Text(kStart.x) + " " + Text(kStart.z) + "  # the player stands on the main road",
       "0 wait 60000 ^Clock: 09:15  # roads loaded, the route worker reads the game",
       "+0 waypoint " + Text(kWaypoint.x) + " " + Text(kWaypoint.z) + "  # waypoint set in the town: found, routed",
       "+0 wait 30000 ^Route: ",
       "+0 waypoint " + Text(moved.x) + " " + Text(moved.z) + "  # moved 0.5 m: the route stays",
       "+1000 waypoint " + Text(goal.x) + " " + Text(goal.z) + "  # moved 2 m: a new route",
       "+0 wait 30000 ^Route: .*" + routeTo,
       walk + "  # walks along the route: it stays",
       "+2200 place " + Text(near.x) + " " + Text(near.z) + "  # 20 m off the route: it stays",
       "+1000 place " + Text(strayed->x) + " " + Text(strayed->z) + "  # 30 m off: rerouted from here",
       "+0 wait 30000 ^" + from,
       "+0 mount horse  # riding is no wagon: the route stays",
       "+0 wait 30000 ^Player: riding",
       "+1000 mount wagon  # on a wagon: rerouted on wagon roads",
       "+0 wait 30000 ^Route: .*\\(wagon roads\\)$",
       "+0 mount off  # on foot again: rerouted",
       "+0 wait 30000 ^Route: .* ms$",
       "+0 minimap-widget 180 50 850  # the widget shrinks: a new normal size",
       "+0 wait 30000 ^Minimap: normal widget size",
       "+0 clock unknown  # the time of day cannot be read",
       "+0 wait 30000 ^Clock: time of day unknown",
       "+0 clock 21:30  # and can again",
       "+0 wait 30000 ^Clock: 21:30",
       "+0 icons free  # the icons' memory is decommitted: no waypoint, no route, no crash",
       "+0 wait 30000 ^Finder: no waypoint",
       "+0 icons restore  # back: found again, routed again",
       "+0 wait 30000 ^Route: ",
       "+0 worldmap open",
       "+600 worldmap close",
       "+0 waypoint-path 1  # the waypoint now hangs on the minimap's second icon path",
       "+0 wait 30000 ^Finder: waypoint icon .*\\(path 1\\)",
       "+1000 waypoint-clear  # no waypoint: the route is dropped",
       "+0 wait 30000 ^Finder: no waypoint",
       "+300 screenshot " + WindowsPath(game.Root() / "screenshot.png"),
       "+300 quit"});
  ASSERT_EQ(game.Run({"--scenario", WindowsPath(game.Root() / "scenario.txt")}), 0);
  const auto log = game.Log();
  ASSERT_TRUE(log.has_value());
  for (const std::string& line : LogMessages(*log)) EXPECT_EQ(line.find("<malformed"), std::string::npos) << line;

  ExpectLines(StoryLines(*log), {
                                    "Minimap: normal widget size 133 at \\(100, 630\\)",
                                    "Player: on foot",
                                    "Clock: 09:15",
                                    DirectLine(kWaypoint, 0),
                                    RouteLine(kStart, kWaypoint),
                                    RouteLine(kStart, goal),
                                    RouteLine(*strayed, goal),
                                    "Player: riding, vehicle Horse_Saddled",
                                    "Player: on a wagon, vehicle Cargo_Wagon",
                                    RouteLine(*strayed, goal, " \\(wagon roads\\)"),
                                    "Player: on foot",
                                    RouteLine(*strayed, goal),
                                    "Minimap: normal widget size 120 at \\(33, 567\\)",
                                    "Clock: time of day unknown",
                                    "Clock: 21:30",
                                    // The waypoint icon's memory is gone and comes back: no crash, the route follows.
                                    "Finder: no waypoint",
                                    DirectLine(goal, 0),
                                    RouteLine(*strayed, goal),
                                    DirectLine(goal, 1),
                                    "Finder: no waypoint",
                                });
}

// Milliseconds of the day at which the log wrote each line, beside its message.
std::vector<std::pair<long, std::string>> TimedMessages(const std::string& log) {
  std::vector<std::pair<long, std::string>> timed;
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);) {
    int h = 0, m = 0, sec = 0, ms = 0;
    if (line.size() < 15 || std::sscanf(line.c_str(), "[%d:%d:%d.%d]", &h, &m, &sec, &ms) != 4) continue;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    timed.emplace_back(((h * 60L + m) * 60L + sec) * 1000L + ms, line.substr(15));
  }
  return timed;
}

TEST(GameStateE2E, ScanningFinderOutlivesFreedIconsAndWaitsForTheWorldMap) {
  GameFolder game("scanning");
  ASSERT_TRUE(MakeWorld(game, kWorldSeed, kWorldNodes));
  // Renderer None: nothing is drawn, yet the workers run and routes are searched.
  std::ofstream(game.Bin64() / "Pathlight.ini") << "[Style]\r\nRenderer=None\r\n[Debug]\r\nDraw=0\r\n";
  // Without the minimap's icon paths the finder has to find the waypoint by scanning the heap. The
  // clock's "unknown" line marks in the log when the world map opened.
  constexpr long kMapOpenMs = 3000, kQuietAfterCloseMs = 3000;
  WriteScenario(
      game.Root() / "scenario.txt",
      {"0 icon-paths off", "0 place " + Text(kStart.x) + " " + Text(kStart.z),
       "0 waypoint " + Text(kWaypoint.x) + " " + Text(kWaypoint.z),
       "0 wait 60000 ^Route: ", "+0 icons free  # chunk re-scans over decommitted memory: no waypoint",
       "+0 wait 30000 ^Finder: no waypoint", "+0 clock unknown", "+0 worldmap open  # no region scan while open",
       "+0 wait 30000 ^Clock: time of day unknown", "+3000 worldmap close  # nor within 3 s after",
       // The first scan after the quiet period looks while the icons are still away.
       "+0 wait 30000 ^Finder: (region|full) scan", "+0 icons restore  # found again by a region re-scan",
       "+0 wait 30000 ^Route: ", "+300 quit"});
  ASSERT_EQ(game.Run({"--scenario", WindowsPath(game.Root() / "scenario.txt")}), 0);
  const auto log = game.Log();
  ASSERT_TRUE(log.has_value());
  const std::vector<std::string> all = LogMessages(*log);
  const auto renderer =
      std::find(all.begin(), all.end(), "Renderer: None (no graphics hooks, nothing drawn); scanning on");
  ASSERT_NE(renderer, all.end());
  // Right after it, but the workers already log beside the init thread.
  EXPECT_NE(
      std::find(renderer, all.end(), "Debug: Draw=0, the Present renderer will not create graphics objects or draw"),
      all.end());
  const std::string candidate = "Finder: waypoint icon [0-9a-fA-F]+ at \\(-480.0, -530.0\\), 1 candidates";
  std::vector<std::string> lines;
  for (const std::string& line : StoryLines(*log)) {
    if (line.rfind("Finder:", 0) == 0 || line.rfind("Route:", 0) == 0) lines.push_back(line);
  }
  // Found by the scan, lost with its memory, found again once the memory is back.
  ExpectLines(
      lines, {candidate, RouteLine(kStart, kWaypoint), "Finder: no waypoint", candidate, RouteLine(kStart, kWaypoint)});

  // No region or full scan from the map's opening until 3 s after its closing (less 200 ms for
  // the marker's own delay); the first one after it no longer sees the freed icons.
  const auto timed = TimedMessages(*log);
  const auto marker =
      std::find_if(timed.begin(), timed.end(), [](const auto& t) { return t.second == "Clock: time of day unknown"; });
  ASSERT_NE(marker, timed.end());
  const auto scan = std::find_if(marker, timed.end(), [](const auto& t) {
    return t.second.rfind("Finder: region scan", 0) == 0 || t.second.rfind("Finder: full scan", 0) == 0;
  });
  ASSERT_NE(scan, timed.end());
  EXPECT_GE(scan->first - marker->first, kMapOpenMs + kQuietAfterCloseMs - 200) << scan->second;
  EXPECT_NE(scan->second.find("icons=40,"), std::string::npos) << scan->second;
}

}  // namespace
}  // namespace e2e
