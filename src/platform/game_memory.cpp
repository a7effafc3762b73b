#include "platform/game_memory.hpp"

#include <algorithm>

namespace pathlight {

std::size_t GameMemory::ReadPieces(std::uint64_t address, std::size_t size, void* scratch, std::size_t scratchBytes,
                                   PieceVisitor& visitor) {
  std::size_t done = 0;
  while (done < size && scratchBytes > 0) {
    const std::size_t want = std::min(size - done, scratchBytes);
    const std::size_t got = ReadSome(address + done, scratch, want);
    if (got > 0) visitor.Piece(address + done, scratch, got);
    done += got;
    if (got < want) break;
  }
  return done;
}

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
