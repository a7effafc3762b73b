// The synthetic world the scenarios run in, made by worldgen into a game folder, and the routes
// pathlight-route finds on it with the library's own code.
#pragma once

#include <string>
#include <vector>

#include "game_folder.hpp"

namespace e2e {

// A point on the ground: world x and z in metres.
struct Point {
  double x = 0, z = 0;
};

// The number as a scenario argument or the route tool's, to six significant digits (ostream's default).
std::string Text(double v);

// Writes worldgen's world (no DLC) into the game folder and makes its bin64 again; false when
// worldgen fails.
bool MakeWorld(const GameFolder& game, int seed = 3, int nodes = 2000);

// The route the library searches from `from` to `to` on the folder's world, or nothing when the
// route tool finds none or writes no route.
std::vector<Point> NativeRoute(const GameFolder& game, Point from, Point to);

}  // namespace e2e
