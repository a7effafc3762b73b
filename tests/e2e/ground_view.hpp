// The simulated game's view of its ground, computed the game's way from the same terrain but
// without the library: where a world point shows on screen, and points along a route.
#pragma once

#include <cmath>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "../../tools/worldgen/terrain.hpp"
#include "synthetic_world.hpp"

namespace e2e {

// The game's camera rig: 6 m behind the player and 3 m above the ground under it, level, looking
// the way the player last walked; projection scales 1.2 and 2.1.
struct Camera {
  double x, y, z, fx, fz;
};

inline Camera CameraBehind(Point player, Point heading) {
  const double length = std::hypot(heading.x, heading.z);
  const double fx = heading.x / length, fz = heading.z / length;
  return {player.x - 6 * fx, worldgen::TerrainHeight(player.x, player.z) + 3.0, player.z - 6 * fz, fx, fz};
}

// Where the point `lift` metres above the ground at p shows in a width × height picture.
inline std::pair<double, double> Project(const Camera& c, Point p, int width, int height, double lift = 0) {
  const double rx = p.x - c.x, ry = worldgen::TerrainHeight(p.x, p.z) + lift - c.y, rz = p.z - c.z;
  const double depth = rx * c.fx + rz * c.fz;
  const double right = rx * c.fz - rz * c.fx;
  return {(right * 1.2 / depth + 1) * width / 2, (1 - ry * 2.1 / depth) * height / 2};
}

// The point `distance` metres along the polyline from its second point.
inline Point Along(const std::vector<Point>& line, double distance) {
  for (std::size_t i = 2; i < line.size(); ++i) {
    const Point a = line[i - 1], b = line[i];
    const double length = std::hypot(b.x - a.x, b.z - a.z);
    if (length < 1e-6) continue;
    if (distance <= length) return {a.x + (b.x - a.x) * distance / length, a.z + (b.z - a.z) * distance / length};
    distance -= length;
  }
  return line.back();
}

// "x,z" (or with another separator) as a scenario argument.
inline std::string Arg(Point p, const char* between = ",") {
  std::ostringstream out;
  out.precision(10);
  out << p.x << between << p.z;
  return out.str();
}

}  // namespace e2e
