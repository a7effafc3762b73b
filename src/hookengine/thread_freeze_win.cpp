#include "hookengine/thread_freeze_win.hpp"

#include <tlhelp32.h>

#include <cstring>

namespace pathlight::hookengine {

ThreadFreeze::ThreadFreeze() {
  const DWORD process = GetCurrentProcessId();
  const DWORD self = GetCurrentThreadId();
  std::vector<DWORD> ids;
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot != INVALID_HANDLE_VALUE) {
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
      if (entry.th32OwnerProcessID == process && entry.th32ThreadID != self) ids.push_back(entry.th32ThreadID);
      entry.dwSize = sizeof entry;
    }
    CloseHandle(snapshot);
  }
  threads_.reserve(ids.size());
  for (const DWORD id : ids) {
    const HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_SET_CONTEXT, FALSE, id);
    if (thread == nullptr) continue;  // ended since the snapshot
    if (SuspendThread(thread) == static_cast<DWORD>(-1)) {
      CloseHandle(thread);
      continue;
    }
    threads_.push_back(thread);
  }
}

ThreadFreeze::~ThreadFreeze() {
  for (const HANDLE thread : threads_) {
    ResumeThread(thread);
    CloseHandle(thread);
  }
}

void ThreadFreeze::MoveInstructionPointers(std::span<const IpMove> moves) {
  for (const HANDLE thread : threads_) {
    // GetThreadContext also waits until the suspension has taken effect.
    CONTEXT context{};
    context.ContextFlags = CONTEXT_CONTROL;
    if (!GetThreadContext(thread, &context)) continue;
    const std::uint64_t moved = MovedIp(moves, context.Rip);
    if (moved == context.Rip) continue;
    context.Rip = moved;
    SetThreadContext(thread, &context);
  }
}

void WriteEntry(std::uint64_t target, std::span<const std::uint8_t, kPatchSize> bytes) {
  const std::uint64_t within = target % 8;
  if (within + kPatchSize <= 8) {
    auto* word = reinterpret_cast<std::uint64_t*>(target - within);
    std::uint64_t value = __atomic_load_n(word, __ATOMIC_RELAXED);
    std::memcpy(reinterpret_cast<std::uint8_t*>(&value) + within, bytes.data(), kPatchSize);
    __atomic_store_n(word, value, __ATOMIC_SEQ_CST);
  } else {
    std::memcpy(reinterpret_cast<void*>(target), bytes.data(), kPatchSize);
  }
  FlushInstructionCache(GetCurrentProcess(), reinterpret_cast<void*>(target), kPatchSize);
}

}  // namespace pathlight::hookengine
