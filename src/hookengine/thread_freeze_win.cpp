#include "hookengine/thread_freeze_win.hpp"

#include <tlhelp32.h>

#include <cstring>

namespace pathlight::hookengine {

namespace {

constexpr ACCESS_MASK kThreadAccess =
    THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_SET_CONTEXT | THREAD_QUERY_LIMITED_INFORMATION;
constexpr std::size_t kMaxThreads = 65536;  // against a walk that never ends

using NextThreadFunction = LONG(NTAPI*)(HANDLE, HANDLE, ACCESS_MASK, ULONG, ULONG, PHANDLE);

NextThreadFunction NextThread() {
  static const auto function = reinterpret_cast<NextThreadFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtGetNextThread")));
  return function;
}

// The process's threads, opened. NtGetNextThread walks this process's own threads; a Toolhelp
// snapshot lists every thread of the system and costs 10 to 200 ms under Wine, against well under
// a millisecond, so it is only the fallback.
std::vector<HANDLE> OpenAllThreads() {
  std::vector<HANDLE> threads;
  if (const auto next = NextThread()) {
    HANDLE current = nullptr;
    HANDLE following = nullptr;
    while (threads.size() < kMaxThreads && next(GetCurrentProcess(), current, kThreadAccess, 0, 0, &following) >= 0) {
      threads.push_back(following);
      current = following;
    }
    if (!threads.empty()) return threads;
  }
  const DWORD process = GetCurrentProcessId();
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return threads;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more && threads.size() < kMaxThreads;
       more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == process) {
      if (const HANDLE thread = OpenThread(kThreadAccess, FALSE, entry.th32ThreadID)) threads.push_back(thread);
    }
    entry.dwSize = sizeof entry;
  }
  CloseHandle(snapshot);
  return threads;
}

}  // namespace

ThreadFreeze::ThreadFreeze() {
  const DWORD self = GetCurrentThreadId();
  threads_ = OpenAllThreads();
  // Compacted in place: from the first suspension on, nothing allocates.
  std::size_t kept = 0;
  for (const HANDLE thread : threads_) {
    if (GetThreadId(thread) == self || SuspendThread(thread) == static_cast<DWORD>(-1)) {
      CloseHandle(thread);
      continue;
    }
    threads_[kept++] = thread;
  }
  threads_.resize(kept);
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
