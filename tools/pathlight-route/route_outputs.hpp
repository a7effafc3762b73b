// pathlight-route's outputs for people and other tools: the route over the road network as a PNG
// picture, the route as a GeoJSON Feature, and the search benchmark.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "roads/road_graph.hpp"
#include "routing/route_search.hpp"

namespace pathlight::tool {

// What the picture shows besides the route: the whole road network instead of the route's
// surroundings, and a walk (the player's positions in order) drawn over the route.
struct RoutePngView {
  bool wholeWorld = false;
  std::vector<GroundPoint> walk;
};

// The road network around the route coloured by road type, the route over it, start and goal
// marked, with a legend and a scale bar. False (with a message on standard error) when the file
// cannot be written.
[[nodiscard]] bool WriteRoutePng(const std::string& path, const RoadGraph& roads, const RouteSearchResult& route,
                                 bool wagon, const RoutePngView& view = {});

// A GeoJSON Feature: a LineString of the route's [x, z] points, with heights (null where unknown),
// cost (null for the straight-line fallback), length_m and wagon.
[[nodiscard]] bool WriteRouteGeoJson(const std::string& path, const RouteSearchResult& route, bool wagon);

// count random start/goal queries across the whole graph, timed against BGL's A* on the same
// search graphs with the same costs; prints the figures. Returns the number of cost disagreements.
std::size_t RunRouteBench(const RoadGraph& roads, const RouteWeights& weights, float directMaxDistance, int count,
                          std::uint32_t seed);

}  // namespace pathlight::tool
