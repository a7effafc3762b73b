// Where the game's classes and globals lie in its executable image, as the start-up scan found
// them (the process's own in the game's state record). Null (0) means "not found".
#pragma once

#include <cstdint>

namespace pathlight {

struct GameLayout {
  std::uint64_t ImageBase = 0;
  std::uint64_t ImageSize = 0;
  std::uint64_t MinimapVtable = 0;
  std::uint64_t WorldMapVtable = 0;
  std::uint64_t IconVtable = 0;
  std::uint64_t CameraVtable = 0;
  std::uint64_t VehicleComponentVtable = 0;
  std::uint64_t ActorManagerVtable = 0;
  std::uint64_t SessionGlobal = 0;
  std::uint64_t ActorsGlobal = 0;
  std::uint64_t CharactersGlobal = 0;
  std::uint64_t VehiclesGlobal = 0;
  std::uint64_t ClockSecondsGlobal = 0;
  std::uint64_t ClockMillisecondsGlobal = 0;
};

}  // namespace pathlight
