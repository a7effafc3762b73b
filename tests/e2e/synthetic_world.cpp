#include "synthetic_world.hpp"

#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

namespace e2e {

std::string Text(double v) {
  std::ostringstream out;
  out << v;
  return out.str();
}

bool MakeWorld(const GameFolder& game, int seed, int nodes) {
  const std::string command = std::string(PATHLIGHT_WORLDGEN) + " --force --out '" + game.Root().string() +
                              "' --seed " + std::to_string(seed) + " --nodes " + std::to_string(nodes) +
                              " --dlc 0 >/dev/null";
  if (std::system(command.c_str()) != 0) return false;
  fs::create_directories(game.Bin64());  // worldgen makes the folder anew
  return true;
}

std::vector<Point> NativeRoute(const GameFolder& game, Point from, Point to) {
  const fs::path json = game.Root() / "route.json";
  const std::string command = std::string(PATHLIGHT_ROUTE_TOOL) + " --game '" + game.Root().string() +
                              "' --from=" + Text(from.x) + "," + Text(from.z) + " --to=" + Text(to.x) + "," +
                              Text(to.z) + " --geojson '" + json.string() + "' >/dev/null";
  std::vector<Point> points;
  if (std::system(command.c_str()) != 0) return points;
  std::ifstream in(json);
  const nlohmann::json feature = nlohmann::json::parse(in, nullptr, false);
  if (feature.is_discarded()) return points;
  for (const auto& c : feature["geometry"]["coordinates"]) points.push_back({c[0].get<double>(), c[1].get<double>()});
  return points;
}

}  // namespace e2e
