// Every other thread of the process held still while code they may be running is rewritten.
// The threads are found with NtGetNextThread (a Toolhelp snapshot where that is missing), all
// before the first one stops: a stopped thread may hold the heap's lock, so nothing between
// stopping and resuming allocates.
#pragma once

#include <windows.h>

#include <span>
#include <vector>

#include "hookengine/prologue.hpp"

namespace pathlight::hookengine {

class ThreadFreeze {
 public:
  ThreadFreeze();   // suspends every other thread of the process
  ~ThreadFreeze();  // resumes them
  ThreadFreeze(const ThreadFreeze&) = delete;
  ThreadFreeze& operator=(const ThreadFreeze&) = delete;

  // Moves each frozen thread's instruction pointer that stands on a move's `from` to its `to`.
  void MoveInstructionPointers(std::span<const IpMove> moves);

 private:
  std::vector<HANDLE> threads_;
};

// Writes the 5 entry bytes of `target`, whose page the caller made writable. Where they share an
// aligned quadword the write is one atomic store, so even a thread that the freeze missed (started
// after its snapshot) sees the old or the new instruction, never a mix.
void WriteEntry(std::uint64_t target, std::span<const std::uint8_t, kPatchSize> bytes);

}  // namespace pathlight::hookengine
