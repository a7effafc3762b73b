// worldgen: writes a synthetic game folder for the road loader. See docs/modding.md for the options.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <system_error>

#include "countryside.hpp"

namespace {

namespace fs = std::filesystem;

// Every world holds this file (the counts the loader should find); a folder with it is one that
// worldgen wrote, and may be written over.
constexpr const char* kMarker = "worldgen.json";

// Whether --out may be emptied: a folder that does not exist yet, an empty one, one worldgen made,
// or any folder with --force. Anything else (a file, someone's game folder) is left alone.
bool MayEmpty(const fs::path& out, bool force) {
  std::error_code error;
  const fs::file_status status = fs::symlink_status(out, error);
  if (!fs::exists(status)) return true;
  if (!fs::is_directory(status)) {
    std::cerr << "worldgen: " << out.string() << " is not a folder; it is left as it is\n";
    return false;
  }
  if (force || fs::exists(out / kMarker) || fs::is_empty(out, error)) return true;
  std::cerr << "worldgen: " << out.string() << " is not empty and was not written by worldgen (no " << kMarker
            << " in it); it is left as it is. Give an empty or new folder, or --force to empty it.\n";
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  worldgen::Options options;
  bool force = false;
  CLI::App app{
      "worldgen: writes a synthetic game folder (archive indexes, archives, road tiles, fielddefault, packages)"};
  app.footer(
      "Exit status: 0 the world was written; 1 it could not be written, or --out names a file or a non-empty folder "
      "that worldgen did not write (left untouched); 2 a malformed command line.");
  app.add_option("--out", options.out,
                 "game folder to write: a new or empty folder, or one worldgen wrote before (emptied first)")
      ->required();
  app.add_flag("--force", force, "empty --out even when it is a folder worldgen did not write");
  app.add_option("--seed", options.seed, "seed of the layout; the same seed writes the same bytes")
      ->capture_default_str();
  app.add_option("--nodes", options.nodes, "about how many road nodes the world should have")
      ->capture_default_str()
      ->check(CLI::Range(1, 100000000));
  app.add_option("--dlc", options.dlc, "number of downloadable packages with tiles")
      ->capture_default_str()
      ->check(CLI::Range(0, 9));
  app.add_flag(
      "--faults", options.faults,
      "add a packed tile, a short tile, a tile of version 46, a chunk size mismatch and a truncated package index");
  app.add_option("--samples", options.samples,
                 "also write loose copies of the indexes, a few tiles and the fielddefault here (fuzzing seeds)");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    const int status = app.exit(error);
    return status == 0 ? 0 : 2;
  }

  if (!MayEmpty(options.out, force)) return 1;
  try {
    std::filesystem::remove_all(options.out);
    // The marker first, so that a run cut short still leaves a folder the next run may empty.
    std::filesystem::create_directories(options.out);
    std::ofstream(std::filesystem::path(options.out) / kMarker) << "{}\n";
    const worldgen::Expected e = worldgen::GenerateWorld(options);
    nlohmann::json manifest = {{"archives", e.archives}, {"tiles", e.tiles},
                               {"skipped", e.skipped},   {"nodes", e.nodes},
                               {"segments", e.segments}, {"unreadableIndexes", e.unreadableIndexes}};
    const char* const names[] = {"Main", "Wide", "Wagon", "Horse", "Sidewalk", "ToSidewalk", "Link"};
    for (int t = 0; t < 7; ++t) manifest["segmentsByType"][names[t]] = e.segmentsByType[t];
    std::ofstream(std::filesystem::path(options.out) / "worldgen.json") << manifest.dump(2) << "\n";
    std::cout << "worldgen: " << options.out << ": " << e.archives << " archives, " << e.tiles << " tiles ("
              << e.skipped << " skipped), " << e.nodes << " nodes, " << e.segments << " segments expected\n";
  } catch (const std::exception& error) {
    std::cerr << "worldgen: " << error.what() << "\n";
    return 1;
  }
  return 0;
}
