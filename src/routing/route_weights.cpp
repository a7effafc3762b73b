#include "routing/route_weights.hpp"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>

#include "platform/log.hpp"

namespace pathlight {

namespace {

// One key's value: itself when usable, else its default. The bits of the last bad value logged
// per key keep a value read again on every search (the worker makes weights per search) from
// filling the log; a different bad value after a reload is logged again.
struct WeightKey {
  const char* section;
  const char* name;
  float Settings::*field;
  std::atomic<std::uint32_t> lastLoggedBits{0};  // 0: +0.0, a usable value, so nothing logged yet
};

float Usable(const Settings& settings, WeightKey& key) {
  const float value = settings.*key.field;
  if (std::isfinite(value) && value >= 0) {
    key.lastLoggedBits.store(0, std::memory_order_relaxed);
    return value;
  }
  static const Settings defaults;
  const float fallback = defaults.*key.field;
  const std::uint32_t bits = std::bit_cast<std::uint32_t>(value);
  if (key.lastLoggedBits.exchange(bits) != bits)
    Log("Route: [%s] %s=%g is not a usable weight, using %g", key.section, key.name, static_cast<double>(value),
        static_cast<double>(fallback));
  return fallback;
}

WeightKey g_main{"Routing", "MainRoadWeight", &Settings::mainRoadWeight};
WeightKey g_wagon{"Routing", "WagonRoadWeight", &Settings::wagonRoadWeight};
WeightKey g_horse{"Routing", "HorseRoadWeight", &Settings::horseRoadWeight};
WeightKey g_sidewalk{"Routing", "SidewalkWeight", &Settings::sidewalkWeight};
WeightKey g_connector{"Routing", "ConnectorWeight", &Settings::connectorWeight};
WeightKey g_offRoad{"Routing", "OffRoadWeight", &Settings::offRoadWeight};
WeightKey g_wagonMain{"WagonRouting", "MainRoadWeight", &Settings::wagonMainRoadWeight};
WeightKey g_wagonWide{"WagonRouting", "WideRoadWeight", &Settings::wagonWideRoadWeight};
WeightKey g_wagonWagon{"WagonRouting", "WagonRoadWeight", &Settings::wagonWagonRoadWeight};
WeightKey g_wagonHorse{"WagonRouting", "HorseRoadWeight", &Settings::wagonHorseRoadWeight};
WeightKey g_wagonSidewalk{"WagonRouting", "SidewalkWeight", &Settings::wagonSidewalkWeight};
WeightKey g_wagonConnector{"WagonRouting", "ConnectorWeight", &Settings::wagonConnectorWeight};
WeightKey g_wagonOffRoad{"WagonRouting", "OffRoadWeight", &Settings::wagonOffRoadWeight};

// Links are made by the loader between a fielddefault road and the tile road beside it; they are
// a few metres long and have no key of their own.
constexpr float kLinkWeight = 1.0f;

}  // namespace

float RouteWeights::Smallest() const { return std::min(*std::min_element(road.begin(), road.end()), offRoad); }

RouteWeights MakeRouteWeights(const Settings& s) {
  RouteWeights w;
  const float wagon = Usable(s, g_wagon);
  // Walking has no weight of its own for wide roads: they cost like wagon roads.
  w.road = {Usable(s, g_main), wagon, wagon, Usable(s, g_horse), Usable(s, g_sidewalk), Usable(s, g_connector), kLinkWeight};
  w.offRoad = Usable(s, g_offRoad);
  return w;
}

RouteWeights MakeWagonRouteWeights(const Settings& s) {
  RouteWeights w;
  w.road = {Usable(s, g_wagonMain),     Usable(s, g_wagonWide),      Usable(s, g_wagonWagon), Usable(s, g_wagonHorse),
            Usable(s, g_wagonSidewalk), Usable(s, g_wagonConnector), kLinkWeight};
  w.offRoad = Usable(s, g_wagonOffRoad);
  return w;
}

}  // namespace pathlight
