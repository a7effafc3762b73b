#include "platform/game_memory.hpp"

namespace pathlight {

bool HasVtable(GameMemory& memory, std::uint64_t object, std::uint64_t table) {
  if (!IsPlausiblePointer(object)) return false;
  std::uint64_t first = 0;
  const bool same = memory.ReadValue(object, first) && first == table;
  // The copy is a class-table word on this thread's stack, and stacks are private read-write
  // memory: left there, the finder's heap scan would take it for an object of that class.
  *static_cast<volatile std::uint64_t*>(&first) = 0;
  return same;
}

}  // namespace pathlight
