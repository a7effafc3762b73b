#include <cmath>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>

#include "route_outputs.hpp"

namespace pathlight::tool {

bool WriteRouteGeoJson(const std::string& path, const RouteSearchResult& route, bool wagon) {
  nlohmann::json coordinates = nlohmann::json::array();
  nlohmann::json heights = nlohmann::json::array();
  double length = 0;
  for (std::size_t i = 0; i < route.points.size(); ++i) {
    coordinates.push_back({route.points[i].x, route.points[i].z});
    const float h = i < route.heights.size() ? route.heights[i] : NAN;
    heights.push_back(std::isnan(h) ? nlohmann::json(nullptr) : nlohmann::json(h));
    if (i > 0)
      length += std::hypot(static_cast<double>(route.points[i].x) - route.points[i - 1].x,
                           static_cast<double>(route.points[i].z) - route.points[i - 1].z);
  }
  const nlohmann::json feature = {
      {"type", "Feature"},
      {"geometry", {{"type", "LineString"}, {"coordinates", coordinates}}},
      {"properties",
       {{"heights", heights},
        {"cost", route.found ? nlohmann::json(route.cost) : nlohmann::json(nullptr)},
        {"length_m", length},
        {"wagon", wagon}}},
  };
  std::ofstream out(path);
  out << feature.dump(1) << '\n';
  if (!out) {
    std::cerr << "pathlight-route: cannot write " << path << '\n';
    return false;
  }
  return true;
}

}  // namespace pathlight::tool
