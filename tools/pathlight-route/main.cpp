// pathlight-route: loads a game folder's roads exactly as the library does in the game, and prints
// the library's "Roads:" log lines to standard output.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <clocale>
#include <iostream>

#include "roads/archive.hpp"
#include "roads/game_files.hpp"
#include "roads/road_loader.hpp"

int main(int argc, char** argv) {
  std::string game;
  CLI::App app{"pathlight-route: loads a game folder's road network as Pathlight does"};
  app.add_option("--game", game, "the game's installation folder (the one holding 0008/0.pamt)")->required();
  CLI11_PARSE(app, argc, argv);
  // The log prints wide paths with "%ls", which the C library converts in the user's locale.
  std::setlocale(LC_CTYPE, "");

  const std::wstring folder = pathlight::WidePathFromNative(game);
  const std::vector<std::wstring> indexes = pathlight::FindArchiveIndexes(folder);
  if (std::none_of(indexes.begin(), indexes.end(), [](const std::wstring& path) { return pathlight::PathExists(path); })) {
    std::cerr << "pathlight-route: no archive index in " << game << " (looked for " << game
              << "/0008/0.pamt and dlc/*/0008/0.pamt)\n";
    return 1;
  }
  pathlight::LoadRoads(folder);
  return 0;
}
