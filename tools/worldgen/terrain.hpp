// The height of the synthetic world's ground at (x, z), world metres. Every road vertex worldgen
// writes lies on it, and the simulated game stands its player and lays its ground on it, so the
// roads, the player and the drawn world agree without the game reading the height from the roads.
#pragma once

#include <cmath>

namespace worldgen {

inline float TerrainHeight(double x, double z) {
  return static_cast<float>(50 + 20 * std::sin(x / 700) + 10 * std::cos(z / 500));
}

}  // namespace worldgen
