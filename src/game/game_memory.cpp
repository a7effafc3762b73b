#include "game/game_memory.hpp"

namespace pathlight {

bool HasVtable(GameMemory& memory, std::uint64_t object, std::uint64_t table) {
  if (!IsPlausiblePointer(object)) return false;
  std::uint64_t first = 0;
  return memory.ReadValue(object, first) && first == table;
}

}  // namespace pathlight
