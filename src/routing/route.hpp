// The route record the worker publishes and the renderers draw, and the per-road-type weights the
// search costs it with.
#pragma once

#include <array>
#include <memory>
#include <vector>

#include "roads/road_graph.hpp"
#include "roads/road_types.hpp"

namespace pathlight {

// Cost factors per metre: one per RoadType (Main .. Link), then the off-road factor.
struct RouteWeights {
  std::array<float, kRoadTypeCount> road{};
  float offRoad = 0;

  // The factor of one road type: road[type].
  [[nodiscard]] float Factor(RoadType type) const { return road[static_cast<std::size_t>(type)]; }
  // The least factor of all eight: no leg can cost less than this per metre of straight line.
  [[nodiscard]] float Smallest() const;
};

// A polyline from the player (first point) to the waypoint (last point), one height per point.
// Published routes are never changed: readers hold them by shared pointer without a lock.
struct Route {
  std::vector<GroundPoint> points;
  std::vector<float> heights;
  float goalX = 0;
  float goalZ = 0;
  bool wagon = false;
};

using RoutePtr = std::shared_ptr<const Route>;

}  // namespace pathlight
