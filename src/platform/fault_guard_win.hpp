// The fault guard: reads of the process's own memory that fail instead of faulting.
//
// Mechanism: MinGW has no __try, so the copy is one known instruction, `rep movsb`, in a small
// routine of its own (fault_guard_win.cpp). A vectored exception handler, installed first in the
// chain, recognises a fault at exactly that instruction and resumes the routine after it; the
// interrupted `rep movsb` leaves in rcx how much it had not copied, so a block read reports the
// readable beginning of its range. Block copies run at `rep movsb` speed, which is memcpy's on
// current processors.
//
// Guard pages: touching a PAGE_GUARD page clears its guard bit before the fault is raised, so a
// probe alone would disarm the guard page below another thread's stack and break that stack's
// growth. Every read therefore asks the OS about the range first (VirtualQuery) and copies only
// from committed, readable pages without PAGE_GUARD. Should a page become a guard page between
// that question and the copy, the guard bit is set again at once.
//
// Callable from any thread, including the game's render and window threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "platform/game_memory.hpp"

namespace pathlight {

class FaultGuard final : public GameMemory {
 public:
  std::size_t ReadSome(std::uint64_t address, void* out, std::size_t size) override;
  // One question to the OS a region of the range, not one a piece.
  std::size_t ReadPieces(std::uint64_t address, std::size_t size, void* scratch, std::size_t scratchBytes,
                         PieceVisitor& visitor) override;
};

// The process's memory behind the fault guard.
[[nodiscard]] GameMemory& GuardedMemory();

// The parts of [start, start + size) that a plain read must not touch (not committed, not
// readable, or guard pages), as [first, end) address pairs in ascending order.
[[nodiscard]] std::vector<std::pair<std::uint64_t, std::uint64_t>> UnreadableParts(std::uint64_t start,
                                                                                   std::uint64_t size);

namespace fault_guard_detail {

struct ProbeResult {
  std::size_t copied = 0;
  std::uint32_t exceptionCode = 0;  // 0 when the whole range was copied
  std::uint64_t faultAddress = 0;   // the data address the copy faulted on
};

// The bare probe: copies under the vectored handler without asking the OS first. It consumes
// guard pages; only the Windows-side tests call it, to show what the question protects from.
ProbeResult ProbeCopy(void* out, const void* from, std::size_t size);

// Sets the guard bit again on the committed page that holds `address`, if it lost it.
void RestoreGuardPage(std::uint64_t address);

// How often a read found a page that had become a guard page after it was queried.
[[nodiscard]] std::uint64_t GuardPagesRestored();

}  // namespace fault_guard_detail

}  // namespace pathlight
