#include "routing/route_weights.hpp"

#include <algorithm>
#include <bit>
#include <cmath>

#include "platform/log.hpp"
#include "platform/utf8.hpp"
#include "routing/routing_state.hpp"

namespace pathlight {

namespace {

// The field of each weight key; a key's place here is its slot in the warnings.
enum WeightSlot : std::size_t {
  kMain,
  kWagon,
  kHorse,
  kSidewalk,
  kConnector,
  kOffRoad,
  kWagonMain,
  kWagonWide,
  kWagonWagon,
  kWagonHorse,
  kWagonSidewalk,
  kWagonConnector,
  kWagonOffRoad,
};
constexpr std::array<float Settings::*, kWeightKeyCount> kWeightFields = {
    &Settings::mainRoadWeight,       &Settings::wagonRoadWeight,     &Settings::horseRoadWeight,
    &Settings::sidewalkWeight,       &Settings::connectorWeight,     &Settings::offRoadWeight,
    &Settings::wagonMainRoadWeight,  &Settings::wagonWideRoadWeight, &Settings::wagonWagonRoadWeight,
    &Settings::wagonHorseRoadWeight, &Settings::wagonSidewalkWeight, &Settings::wagonConnectorWeight,
    &Settings::wagonOffRoadWeight,
};

// A float field's section and key, from the key list that names every INI key.
struct KeyNameFinder {
  const float* target;
  const wchar_t* section = L"?";
  const wchar_t* key = L"?";

  void Float(const wchar_t* s, const wchar_t* k, const float& value) {
    if (&value == target) section = s, key = k;
  }
  template <class... Any> void Bool(const Any&...) {}
  template <class... Any> void AllBits(const Any&...) {}
  template <class... Any> void Unsigned(const Any&...) {}
  template <class... Any> void Colour(const Any&...) {}
  template <class... Any> void Binding(const Any&...) {}
  template <class... Any> void Word(const Any&...) {}
};

// One key's value: itself when usable, else its default.
float Usable(const Settings& settings, WeightSlot slot, WeightWarnings& warnings) {
  float Settings::*field = kWeightFields[slot];
  const float value = settings.*field;
  std::atomic<std::uint32_t>& lastLoggedBits = warnings[slot];
  if (std::isfinite(value) && value >= 0) {
    lastLoggedBits.store(0, std::memory_order_relaxed);
    return value;
  }
  static const Settings defaults;
  const float fallback = defaults.*field;
  const std::uint32_t bits = std::bit_cast<std::uint32_t>(value);
  if (lastLoggedBits.exchange(bits) != bits) {
    KeyNameFinder name{&(defaults.*field)};
    ForEachSettingsKey(defaults, name);
    Log("Route: [%s] %s=%g is not a usable weight, using %g", ToUtf8(name.section).c_str(), ToUtf8(name.key).c_str(),
        static_cast<double>(value), static_cast<double>(fallback));
  }
  return fallback;
}

// Links are made by the loader between a fielddefault road and the tile road beside it; they are
// a few metres long and have no key of their own.
constexpr float kLinkWeight = 1.0f;

}  // namespace

float RouteWeights::Smallest() const { return std::min(*std::min_element(road.begin(), road.end()), offRoad); }

RouteWeights MakeRouteWeights(const Settings& s, WeightWarnings& warnings) {
  const auto usable = [&](WeightSlot slot) { return Usable(s, slot, warnings); };
  RouteWeights w;
  const float wagon = usable(kWagon);
  // Walking has no weight of its own for wide roads: they cost like wagon roads.
  w.road = {usable(kMain), wagon, wagon, usable(kHorse), usable(kSidewalk), usable(kConnector), kLinkWeight};
  w.offRoad = usable(kOffRoad);
  return w;
}

RouteWeights MakeWagonRouteWeights(const Settings& s, WeightWarnings& warnings) {
  const auto usable = [&](WeightSlot slot) { return Usable(s, slot, warnings); };
  RouteWeights w;
  w.road = {usable(kWagonMain),     usable(kWagonWide),      usable(kWagonWagon), usable(kWagonHorse),
            usable(kWagonSidewalk), usable(kWagonConnector), kLinkWeight};
  w.offRoad = usable(kWagonOffRoad);
  return w;
}

RouteWeights MakeRouteWeights(const Settings& s) { return MakeRouteWeights(s, Routing().weightWarnings); }

RouteWeights MakeWagonRouteWeights(const Settings& s) { return MakeWagonRouteWeights(s, Routing().weightWarnings); }

}  // namespace pathlight
