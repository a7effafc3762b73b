// worldgen: writes a synthetic game folder for the road loader. See README.md for the options.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <iostream>

#include "countryside.hpp"

int main(int argc, char** argv) {
  worldgen::Options options;
  CLI::App app{"worldgen: writes a synthetic game folder (archive indexes, archives, road tiles, fielddefault, packages)"};
  app.add_option("--out", options.out, "game folder to write (emptied first)")->required();
  app.add_option("--seed", options.seed, "seed of the layout; the same seed writes the same bytes")->capture_default_str();
  app.add_option("--nodes", options.nodes, "about how many road nodes the world should have")->capture_default_str()->check(CLI::Range(1, 100000000));
  app.add_option("--dlc", options.dlc, "number of downloadable packages with tiles")->capture_default_str()->check(CLI::Range(0, 9));
  app.add_flag("--faults", options.faults, "add a packed tile, a short tile, a tile of version 46, a chunk size mismatch and a truncated package index");
  app.add_option("--samples", options.samples, "also write loose copies of the indexes, a few tiles and the fielddefault here (fuzzing seeds)");
  CLI11_PARSE(app, argc, argv);

  try {
    std::filesystem::remove_all(options.out);
    const worldgen::Expected e = worldgen::GenerateWorld(options);
    nlohmann::json manifest = {{"archives", e.archives}, {"tiles", e.tiles}, {"skipped", e.skipped}, {"nodes", e.nodes},
                               {"segments", e.segments}, {"unreadableIndexes", e.unreadableIndexes}};
    const char* const names[] = {"Main", "Wide", "Wagon", "Horse", "Sidewalk", "ToSidewalk", "Link"};
    for (int t = 0; t < 7; ++t) manifest["segmentsByType"][names[t]] = e.segmentsByType[t];
    std::ofstream(std::filesystem::path(options.out) / "worldgen.json") << manifest.dump(2) << "\n";
    std::cout << "worldgen: " << options.out << ": " << e.archives << " archives, " << e.tiles << " tiles (" << e.skipped
              << " skipped), " << e.nodes << " nodes, " << e.segments << " segments expected\n";
  } catch (const std::exception& error) {
    std::cerr << "worldgen: " << error.what() << "\n";
    return 1;
  }
  return 0;
}
