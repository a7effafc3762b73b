// The road network's records, shared by the loader, the graph, the route search and the drawing.
#pragma once

#include <cstdint>

namespace pathlight {

enum class RoadType : std::uint8_t {
  Main = 0,        // fielddefault "worldmaproad"
  Wide = 1,        // fielddefault "wagon"
  Wagon = 2,       // tile layer "smallwagon"
  Horse = 3,       // tile layer "horsesidewalk"
  Sidewalk = 4,    // tile layer "sidewalk"
  ToSidewalk = 5,  // tile layer "tosidewalk"
  Link = 6,        // made between a fielddefault vertex and a nearby tile node
};
inline constexpr int kRoadTypeCount = 7;

// Metres in the game's frame: x and z on the ground, y up.
struct RoadNode {
  float x = 0;
  float y = 0;
  float z = 0;
};

// Undirected; never joins a node to itself. length is the horizontal length, metres.
struct RoadSegment {
  std::int32_t first = 0;
  std::int32_t second = 0;
  float length = 0;
  RoadType type = RoadType::Main;
};

// Ground coordinates are only believed below this magnitude: far beyond any map the game has,
// and small enough that every grid cell derived from one is a modest 32-bit number.
inline constexpr float kMaxGroundCoordinate = 1'000'000.0f;

}  // namespace pathlight
