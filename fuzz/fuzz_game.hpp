// The game's side of a memory target's header: the layout the start-up scan found, the pointers
// the finder published and the settings' offsets, all taken from the input.
//   14 x u64 layout, 8 x u64 pointers (minimap root, world map, 4 candidates, waypoint icon,
//   camera manager), 25 x u32 offsets, u8 flags
// Flags: bit 0 the world route shown, bit 1 [World] MountedOnly, bit 2 [WagonRouting] Enabled,
// bit 3 a negative [World] NightOpacity (no clock), bit 4 the input's offsets (else the defaults).
#pragma once

#include <cstdint>
#include <cstring>

#include "fuzz_memory.hpp"
#include "game/game_layout.hpp"
#include "game/game_objects.hpp"
#include "settings/settings.hpp"

namespace pathlight::fuzzing {

struct GameHeader {
  GameLayout layout;
  std::uint64_t pointers[8] = {};
  Settings settings;
  bool worldRouteShown = false;
};

inline constexpr int kOffsetFields = sizeof(GameOffsets) / sizeof(std::uint32_t);
static_assert(sizeof(GameOffsets) == kOffsetFields * sizeof(std::uint32_t));

inline GameHeader TakeGameHeader(InputReader& input) {
  GameHeader h;
  std::uint64_t* layout[] = {&h.layout.ImageBase,
                             &h.layout.ImageSize,
                             &h.layout.MinimapVtable,
                             &h.layout.WorldMapVtable,
                             &h.layout.IconVtable,
                             &h.layout.CameraVtable,
                             &h.layout.VehicleComponentVtable,
                             &h.layout.ActorManagerVtable,
                             &h.layout.SessionGlobal,
                             &h.layout.ActorsGlobal,
                             &h.layout.CharactersGlobal,
                             &h.layout.VehiclesGlobal,
                             &h.layout.ClockSecondsGlobal,
                             &h.layout.ClockMillisecondsGlobal};
  for (std::uint64_t* field : layout) *field = input.Take<std::uint64_t>();
  for (std::uint64_t& pointer : h.pointers) pointer = input.Take<std::uint64_t>();
  std::uint32_t offsets[kOffsetFields];
  for (std::uint32_t& offset : offsets) offset = input.Take<std::uint32_t>();
  const auto flags = input.Take<std::uint8_t>();
  h.worldRouteShown = (flags & 1) != 0;
  h.settings.mountedOnly = (flags & 2) != 0;
  h.settings.wagonRoutingEnabled = (flags & 4) != 0;
  if ((flags & 8) != 0) h.settings.worldNightOpacity = -1.0f;
  if ((flags & 16) != 0) std::memcpy(&h.settings.offsets, offsets, sizeof offsets);
  return h;
}

inline void Publish(const GameHeader& h, PublishedGamePointers& p) {
  p.MinimapRoot = h.pointers[0];
  p.WorldMapObject = h.pointers[1];
  for (int k = 0; k < kWorldMapCandidateCount; ++k) p.WorldMapCandidates[k] = h.pointers[2 + k];
  p.WaypointIcon = h.pointers[6];
  p.CameraManagerObject = h.pointers[7];
}

}  // namespace pathlight::fuzzing
