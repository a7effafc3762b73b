// The fault guard's cost: small reads (one 64-bit word) and block reads (64 KB, as the heap scan
// reads), each beside memcpy of the same memory in the same run.
//
//   pathlight-bench-guard.exe
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "bench_clock_win.hpp"
#include "platform/fault_guard_win.hpp"

using namespace pathlight;
using bench::Now;

int main() {
  constexpr std::size_t kBuffer = 64 << 20;
  constexpr std::size_t kBlock = 64 << 10;
  constexpr int kSmallReads = 1000000;
  auto* memory = static_cast<char*>(VirtualAlloc(nullptr, kBuffer, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  std::memset(memory, 0x11, kBuffer);
  std::vector<char> out(kBuffer);
  GameMemory& guarded = GuardedMemory();
  std::uint64_t sink = 0;

  // Small reads spread over the buffer, as the readers' field reads are spread over objects.
  const auto smallAddress = [&](int i) { return memory + (static_cast<std::size_t>(i) * 4104) % (kBuffer - 8); };
  double start = Now();
  for (int i = 0; i < kSmallReads; ++i) {
    std::uint64_t value;
    std::memcpy(&value, *static_cast<char* volatile*>(static_cast<void*>(&memory)) + (smallAddress(i) - memory), 8);
    sink += value;
  }
  const double plainSmall = (Now() - start) / kSmallReads * 1e9;
  start = Now();
  for (int i = 0; i < kSmallReads; ++i) {
    std::uint64_t value = 0;
    fault_guard_detail::ProbeCopy(&value, smallAddress(i), 8);
    sink += value;
  }
  const double probeSmall = (Now() - start) / kSmallReads * 1e9;
  start = Now();
  for (int i = 0; i < kSmallReads; ++i) {
    std::uint64_t value = 0;
    if (guarded.ReadValue(reinterpret_cast<std::uint64_t>(smallAddress(i)), value)) sink += value;
  }
  const double guardedSmall = (Now() - start) / kSmallReads * 1e9;
  std::printf("small read (8 bytes): memcpy %.1f ns, probe alone %.1f ns, guarded read %.1f ns (%.0fx memcpy)\n",
              plainSmall, probeSmall, guardedSmall, guardedSmall / plainSmall);

  // Both after a warm-up pass, and each the best of several, so neither pays for first touches.
  constexpr int kPasses = 5;
  const auto best = [&](auto&& pass) { return bench::BestOf(kPasses, pass); };
  const auto plainPass = [&] {
    for (std::size_t at = 0; at < kBuffer; at += kBlock) std::memcpy(out.data() + at, memory + at, kBlock);
  };
  const auto guardedPass = [&] {
    for (std::size_t at = 0; at < kBuffer; at += kBlock) {
      sink += guarded.ReadSome(reinterpret_cast<std::uint64_t>(memory + at), out.data() + at, kBlock);
    }
  };
  plainPass();
  const double plainBlock = best(plainPass);
  const double guardedBlock = best(guardedPass);
  const double megabytes = static_cast<double>(kBuffer) / (1 << 20);
  std::printf(
      "block reads (64 KB): memcpy %.0f MB/s, guarded %.0f MB/s (%.2fx memcpy's time); %.1f us per MB guarded, "
      "%.1f us per MB memcpy\n",
      megabytes / plainBlock, megabytes / guardedBlock, guardedBlock / plainBlock, guardedBlock / megabytes * 1e6,
      plainBlock / megabytes * 1e6);
  VirtualFree(memory, 0, MEM_RELEASE);
  return sink == 0 ? 1 : 0;
}
