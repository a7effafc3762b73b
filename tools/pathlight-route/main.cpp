// pathlight-route: loads a game folder's roads exactly as the library does in the game and prints
// the library's "Roads:" lines; with a start and a goal it searches the route as the route worker
// does and prints its "Route:" lines, and writes the route as a picture or as GeoJSON; --bench
// times the search against an independent one on random queries.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <fstream>
#include <iostream>
#include <sstream>

#include "host/route_worker.hpp"
#include "platform/ticks.hpp"
#include "roads/archive.hpp"
#include "roads/game_files.hpp"
#include "roads/road_loader.hpp"
#include "route_outputs.hpp"
#include "routing/route_search.hpp"
#include "routing/route_weights.hpp"
#include "settings/ini_text.hpp"
#include "settings/settings_load.hpp"

namespace {

// "X,Z" in world metres.
bool ParsePoint(const std::string& text, pathlight::GroundPoint& point) {
  std::istringstream in(text);
  char comma = 0;
  in >> point.x >> comma >> point.z;
  return in && comma == ',' && in.peek() == std::char_traits<char>::eof() && std::isfinite(point.x) &&
         std::isfinite(point.z);
}

}  // namespace

int main(int argc, char** argv) {
  std::string game, from, to, ini, png, geojson;
  std::string walkFile;
  bool wagon = false, wholeWorld = false;
  int bench = 0;
  std::uint32_t seed = 1;
  CLI::App app{"pathlight-route: loads a game folder's road network and searches routes as Pathlight does"};
  app.add_option("--game", game, "the game's installation folder (the one holding 0008/0.pamt)")->required();
  auto* fromOption = app.add_option("--from", from, "start point X,Z in world metres (the player)");
  auto* toOption = app.add_option("--to", to, "goal point X,Z in world metres (the waypoint)");
  fromOption->needs(toOption);
  toOption->needs(fromOption);
  app.add_flag("--wagon", wagon, "route as on a wagon ([WagonRouting] weights, when enabled)");
  app.add_option("--ini", ini, "a Pathlight.ini whose [Routing] and [WagonRouting] keys to use")
      ->check(CLI::ExistingFile);
  app.add_option("--png", png, "write the route over the road network as a PNG picture")->needs(fromOption);
  app.add_flag("--whole-world", wholeWorld,
               "the picture shows the whole road network, not only the route's surroundings");
  app.add_option("--walk", walkFile, "draw the player's walk over the picture: a text file of X,Z points, one a line")
      ->check(CLI::ExistingFile);
  app.add_option("--geojson", geojson, "write the route as a GeoJSON Feature")->needs(fromOption);
  app.add_option("--bench", bench, "time N random start/goal queries against BGL's A* on the same graphs")
      ->check(CLI::Range(1, 1000000));
  app.add_option("--seed", seed, "seed of the benchmark's queries (default 1)");
  app.footer(
      "Exit status: 0 done (a route that found no road is the straight line, said as \"no road route: straight "
      "line\"); 1 no archive index in the folder could be read, a picture or GeoJSON file could not be written, or "
      "the benchmark's searches disagree; 2 a malformed command line.");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    const int status = app.exit(error);
    return status == 0 ? 0 : 2;
  }
  // The log prints wide paths with "%ls", which the C library converts in the user's locale.
  std::setlocale(LC_CTYPE, "");

  pathlight::GroundPoint start{}, goal{};
  if (!from.empty() && (!ParsePoint(from, start) || !ParsePoint(to, goal))) {
    std::cerr << "pathlight-route: --from and --to take X,Z in metres, for example --from 120.5,-300\n";
    return 2;
  }
  pathlight::tool::RoutePngView pngView;
  pngView.wholeWorld = wholeWorld;
  if (!walkFile.empty()) {
    std::ifstream in(walkFile);
    for (std::string line; std::getline(in, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.empty()) continue;
      pathlight::GroundPoint point{};
      if (!ParsePoint(line, point)) {
        std::cerr << "pathlight-route: " << walkFile << ": not a point X,Z: " << line << "\n";
        return 2;
      }
      pngView.walk.push_back(point);
    }
  }
  pathlight::Settings settings;
  if (!ini.empty()) {
    std::ifstream in(ini, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The same UTF-8 decoding as for paths: the file's bytes as the Windows INI reader sees them.
    pathlight::TextIni source(pathlight::WidePathFromNative(text));
    settings = pathlight::ReadSettings(source, pathlight::WidePathFromNative(ini), settings, false);
  }
  // The route pass below reads the record in force, as the library's worker does.
  pathlight::PublishSettings(settings);

  const std::wstring folder = pathlight::WidePathFromNative(game);
  const std::vector<std::wstring> indexes = pathlight::FindArchiveIndexes(folder);
  if (std::none_of(indexes.begin(), indexes.end(),
                   [](const std::wstring& path) { return pathlight::PathExists(path); })) {
    std::cerr << "pathlight-route: no archive index in " << game << " (looked for " << game
              << "/0008/0.pamt and dlc/*/0008/0.pamt)\n";
    return 1;
  }
  const std::size_t indexesRead = pathlight::LoadRoads(folder);
  std::fflush(stdout);
  if (indexesRead == 0) {
    std::cerr << "pathlight-route: no archive index in " << game << " could be read (see the \"Roads:\" lines)\n";
    return 1;
  }

  int status = 0;
  if (!from.empty()) {
    if (wagon && !settings.wagonRoutingEnabled)
      std::cerr << "pathlight-route: [WagonRouting] Enabled=0, so a wagon routes with the ordinary weights\n";
    // One pass of the route worker with the player at the start and the waypoint at the goal; the
    // player's height is not known here.
    pathlight::GameSnapshot snapshot;
    snapshot.playerValid = 1;
    snapshot.playerX = start.x;
    snapshot.playerZ = start.z;
    snapshot.playerY = NAN;
    snapshot.waypointValid = 1;
    snapshot.waypointX = goal.x;
    snapshot.waypointZ = goal.z;
    snapshot.mountState = wagon ? pathlight::kMountWagon : pathlight::kMountOnFoot;
    pathlight::RouteSearchResult details;
    pathlight::RoutePassServices services;
    services.search = [&](pathlight::GroundPoint s, pathlight::GroundPoint g, const pathlight::RouteWeights& w,
                          float directMaxDistance, std::vector<float>* heights) {
      return pathlight::FindRoute(s, g, w, directMaxDistance, heights, &details);
    };
    services.tickCount = [] { return pathlight::TickCount(); };
    pathlight::RunRoutePass(snapshot, services);
    std::fflush(stdout);
    // The library draws the straight line then; say so, as its log's "Route:" line does not.
    if (!details.found) std::printf("no road route: straight line\n");
    const bool wagonUsed = pathlight::GetCurrentRoute() && pathlight::GetCurrentRoute()->wagon;
    if (!png.empty() && !pathlight::tool::WriteRoutePng(png, pathlight::RoadNetwork(), details, wagonUsed, pngView))
      status = 1;
    if (!geojson.empty() && !pathlight::tool::WriteRouteGeoJson(geojson, details, wagonUsed)) status = 1;
  }
  if (bench > 0) {
    if (!pathlight::RoadsAreReady()) {
      std::cerr << "pathlight-route: no roads to search\n";
      return 1;
    }
    const pathlight::RouteWeights weights =
        wagon ? pathlight::MakeWagonRouteWeights(settings) : pathlight::MakeRouteWeights(settings);
    std::printf("Bench: %s weights\n", wagon ? "wagon" : "ordinary");
    if (pathlight::tool::RunRouteBench(pathlight::RoadNetwork(), weights, settings.directMaxDistance, bench, seed) > 0)
      status = 1;
  }
  return status;
}
