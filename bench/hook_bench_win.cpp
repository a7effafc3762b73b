// The hook engine's cost: one call through a pass-through detour and its trampoline beside a
// direct call of the same function, and creating and enabling one hook beside a bare 5-byte patch
// (VirtualProtect, write, flush), with the process's own threads and with idle threads added
// (every switch suspends them all).
//
//   pathlight-bench-hooks.exe [--calls N]
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "bench_clock_win.hpp"
#include "bench_row.hpp"
#include "hookengine/hook_engine.hpp"

using namespace pathlight;
using bench::Now;

namespace {

using IntFunction = int (*)(int);
IntFunction original = nullptr;
int PassThrough(int x) { return original(x); }

// lea eax, [rcx+1]; nop; nop; ret, at a 64-byte stride.
constexpr std::size_t kStride = 64;
void PutFunction(std::uint8_t* at) {
  const std::uint8_t code[] = {0x8D, 0x41, 0x01, 0x90, 0x90, 0xC3};
  std::memcpy(at, code, sizeof code);
}

double CallsPerPass(IntFunction function, int calls) {
  IntFunction volatile call = function;
  int sum = 0;
  const double seconds = bench::BestOf(5, [&] {
    for (int i = 0; i < calls; ++i) sum += call(i);
  });
  if (sum == 42) std::printf(" ");  // keeps the sum alive
  return seconds / calls * 1e9;
}

struct SwitchCost {
  double bare, createEnable, disableRemove;  // microseconds per hook
};

SwitchCost MeasureSwitching(std::uint8_t* block, int hooks) {
  SwitchCost cost{};
  double start = Now();
  for (int i = 0; i < hooks; ++i) {
    std::uint8_t* target = block + i * kStride;
    DWORD previous;
    VirtualProtect(target, 5, PAGE_EXECUTE_READWRITE, &previous);
    const std::uint8_t jump[] = {0xE9, 0, 0, 0, 0};
    std::memcpy(target, jump, sizeof jump);
    FlushInstructionCache(GetCurrentProcess(), target, 5);
    VirtualProtect(target, 5, previous, &previous);
    PutFunction(target);
  }
  cost.bare = (Now() - start) / hooks * 1e6;
  start = Now();
  for (int i = 0; i < hooks; ++i) {
    LPVOID trampoline;
    if (MH_CreateHook(block + i * kStride, reinterpret_cast<LPVOID>(&PassThrough), &trampoline) != MH_OK ||
        MH_EnableHook(block + i * kStride) != MH_OK) {
      std::printf("hook %d failed\n", i);
    }
  }
  cost.createEnable = (Now() - start) / hooks * 1e6;
  start = Now();
  for (int i = 0; i < hooks; ++i) {
    if (MH_RemoveHook(block + i * kStride) != MH_OK) std::printf("remove %d failed\n", i);
  }
  cost.disableRemove = (Now() - start) / hooks * 1e6;
  return cost;
}

}  // namespace

int main(int argc, char** argv) {
  int calls = 20000000;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--calls") == 0) calls = std::atoi(argv[i + 1]);
  }
  if (calls < 1000 || calls > 1000000000) calls = 20000000;
  if (MH_Initialize() != MH_OK) return 1;
  constexpr int kHooks = 256;
  auto* block = static_cast<std::uint8_t*>(
      VirtualAlloc(nullptr, kHooks * kStride, MEM_RESERVE | MEM_COMMIT, PAGE_EXECUTE_READWRITE));
  for (int i = 0; i < kHooks; ++i) PutFunction(block + i * kStride);

  const auto direct = reinterpret_cast<IntFunction>(block);
  const auto hooked = reinterpret_cast<IntFunction>(block + kStride);
  LPVOID trampoline = nullptr;
  if (MH_CreateHook(reinterpret_cast<LPVOID>(hooked), reinterpret_cast<LPVOID>(&PassThrough), &trampoline) != MH_OK ||
      MH_EnableHook(reinterpret_cast<LPVOID>(hooked)) != MH_OK) {
    std::printf("hook failed\n");
    return 1;
  }
  original = reinterpret_cast<IntFunction>(trampoline);
  const double directNs = CallsPerPass(direct, calls);
  const double hookedNs = CallsPerPass(hooked, calls);
  std::printf("call: direct %.2f ns, through detour and trampoline %.2f ns (+%.2f ns, %.1fx)\n", directNs, hookedNs,
              hookedNs - directNs, hookedNs / directNs);
  bench::PrintBenchRow("hooks.call", "a hooked call (detour and trampoline)", hookedNs, directNs, "ns",
                       "a direct call of the same function");
  MH_RemoveHook(reinterpret_cast<LPVOID>(hooked));

  const SwitchCost alone = MeasureSwitching(block, kHooks);
  std::printf("per hook, %d hooks: bare 5-byte patch %.1f us, create+enable %.1f us (%.0fx), disable+remove %.1f us\n",
              kHooks, alone.bare, alone.createEnable, alone.createEnable / alone.bare, alone.disableRemove);
  constexpr int kIdle = 8;
  std::atomic<bool> stop{false};
  std::vector<std::thread> idle;
  for (int i = 0; i < kIdle; ++i) {
    idle.emplace_back([&] {
      while (!stop) Sleep(1);
    });
  }
  const SwitchCost busy = MeasureSwitching(block, kHooks);
  std::printf(
      "with %d idle threads more: bare 5-byte patch %.1f us, create+enable %.1f us (%.0fx), disable+remove %.1f us\n",
      kIdle, busy.bare, busy.createEnable, busy.createEnable / busy.bare, busy.disableRemove);
  stop = true;
  for (auto& thread : idle) thread.join();
  MH_Uninitialize();
  return 0;
}
