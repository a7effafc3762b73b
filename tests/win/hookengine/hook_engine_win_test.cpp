// The hook engine on code the tests assemble into executable memory, and on Wine's own dxgi.dll:
// every relocated prologue still computes what the original did, refusals leave the target as it
// was, and hooks switch safely while other threads call the target.
#include "hookengine/hook_engine.hpp"

#include <dxgi.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <thread>
#include <vector>

namespace {

using IntFunction = int (*)(int);

// One 64 KB block of executable memory the test writes code into.
struct CodeBlock {
  static constexpr std::size_t kSize = 0x10000;
  std::uint8_t* base =
      static_cast<std::uint8_t*>(VirtualAlloc(nullptr, kSize, MEM_RESERVE | MEM_COMMIT, PAGE_EXECUTE_READWRITE));
  ~CodeBlock() { VirtualFree(base, 0, MEM_RELEASE); }

  std::uint8_t* Put(std::size_t offset, std::initializer_list<int> bytes) {
    std::size_t at = offset;
    for (int b : bytes) base[at++] = static_cast<std::uint8_t>(b);
    FlushInstructionCache(GetCurrentProcess(), base + offset, bytes.size());
    return base + offset;
  }
  void Put32(std::size_t offset, std::int32_t value) { std::memcpy(base + offset, &value, 4); }
  void Put64(std::size_t offset, std::uint64_t value) { std::memcpy(base + offset, &value, 8); }
  // The rel32 of an instruction whose displacement sits at `field` and which ends at `end`.
  void Rel32(std::size_t field, std::size_t end, std::size_t destination) {
    Put32(field, static_cast<std::int32_t>(destination) - static_cast<std::int32_t>(end));
  }
  IntFunction Function(std::size_t offset) const { return reinterpret_cast<IntFunction>(base + offset); }
};

std::atomic<IntFunction> original{nullptr};
int AddThousand(int x) { return original.load()(x) + 1000; }

class HookEngineWin : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(MH_Initialize(), MH_OK); }
  void TearDown() override { EXPECT_EQ(MH_Uninitialize(), MH_OK); }
};

constexpr std::size_t kEntry = 0x100, kHelper = 0x200, kData = 0x400;

struct PrologueCase {
  const char* name;
  std::function<void(CodeBlock&)> assemble;  // the function at kEntry
  std::function<int(int)> expected;
};

TEST_F(HookEngineWin, EveryRelocatedPrologueComputesWhatTheOriginalDid) {
  const PrologueCase cases[] = {
      {"jmp rel32",
       [](CodeBlock& code) {
         code.Put(kEntry, {0xE9, 0, 0, 0, 0});
         code.Rel32(kEntry + 1, kEntry + 5, kHelper);
         code.Put(kHelper, {0x8D, 0x41, 0x07, 0xC3});  // lea eax, [rcx+7]; ret
       },
       [](int x) { return x + 7; }},
      {"call rel32",
       [](CodeBlock& code) {
         code.Put(kEntry, {0xE8, 0, 0, 0, 0, 0x83, 0xC0, 0x05, 0xC3});  // call helper; add eax, 5; ret
         code.Rel32(kEntry + 1, kEntry + 5, kHelper);
         code.Put(kHelper, {0x8D, 0x41, 0x03, 0xC3});
       },
       [](int x) { return x + 8; }},
      {"short jcc out of the copied bytes",
       [](CodeBlock& code) {
         // test ecx, ecx; js +4; lea eax, [rcx+1]; ret; xor eax, eax; ret
         code.Put(kEntry, {0x85, 0xC9, 0x78, 0x04, 0x8D, 0x41, 0x01, 0xC3, 0x31, 0xC0, 0xC3});
       },
       [](int x) { return x < 0 ? 0 : x + 1; }},
      {"short jcc to a copied instruction",
       [](CodeBlock& code) {
         // L: dec ecx; jg L; lea eax, [rcx+100]; ret
         code.Put(kEntry, {0xFF, 0xC9, 0x7F, 0xFC, 0x8D, 0x41, 0x64, 0xC3});
       },
       [](int x) { return x > 0 ? 100 : x + 99; }},
      {"mov eax, [rip]",
       [](CodeBlock& code) {
         code.Put(kEntry, {0x8B, 0x05, 0, 0, 0, 0, 0x01, 0xC8, 0xC3});  // mov eax, [data]; add eax, ecx; ret
         code.Rel32(kEntry + 2, kEntry + 6, kData);
         code.Put32(kData, 40);
       },
       [](int x) { return x + 40; }},
      {"lea rax, [rip]",
       [](CodeBlock& code) {
         // lea rax, [data]; mov eax, [rax]; add eax, ecx; ret
         code.Put(kEntry, {0x48, 0x8D, 0x05, 0, 0, 0, 0, 0x8B, 0x00, 0x01, 0xC8, 0xC3});
         code.Rel32(kEntry + 3, kEntry + 7, kData);
         code.Put32(kData, 50);
       },
       [](int x) { return x + 50; }},
      {"cmp dword [rip], imm",
       [](CodeBlock& code) {
         // cmp dword [data], 5; jl +4; lea eax, [rcx+1]; ret; lea eax, [rcx+2]; ret
         code.Put(kEntry, {0x83, 0x3D, 0, 0, 0, 0, 0x05, 0x7C, 0x04, 0x8D, 0x41, 0x01, 0xC3, 0x8D, 0x41, 0x02, 0xC3});
         code.Rel32(kEntry + 2, kEntry + 7, kData);
         code.Put32(kData, 3);
       },
       [](int x) { return x + 2; }},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    CodeBlock code;
    test.assemble(code);
    const IntFunction target = code.Function(kEntry);
    std::uint8_t before[16];
    std::memcpy(before, code.base + kEntry, sizeof before);
    LPVOID trampoline = nullptr;
    ASSERT_EQ(MH_CreateHook(reinterpret_cast<LPVOID>(target), reinterpret_cast<LPVOID>(&AddThousand), &trampoline),
              MH_OK);
    original = reinterpret_cast<IntFunction>(trampoline);
    for (int x : {-3, 0, 5}) EXPECT_EQ(target(x), test.expected(x)) << "created, not enabled";
    ASSERT_EQ(MH_EnableHook(reinterpret_cast<LPVOID>(target)), MH_OK);
    for (int x : {-3, 0, 5}) {
      EXPECT_EQ(target(x), test.expected(x) + 1000) << x;
      EXPECT_EQ(original.load()(x), test.expected(x)) << x;
    }
    ASSERT_EQ(MH_DisableHook(reinterpret_cast<LPVOID>(target)), MH_OK);
    EXPECT_EQ(std::memcmp(before, code.base + kEntry, sizeof before), 0);
    for (int x : {-3, 0, 5}) EXPECT_EQ(target(x), test.expected(x));
    EXPECT_EQ(MH_RemoveHook(reinterpret_cast<LPVOID>(target)), MH_OK);
  }
}

TEST_F(HookEngineWin, RefusedProloguesLeaveTheTargetAsItWas) {
  struct Case {
    const char* name;
    std::initializer_list<int> bytes;
    MH_STATUS status;
  };
  const Case cases[] = {
      {"ret before 5 bytes", {0x31, 0xC0, 0xC3, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC}, MH_ERROR_UNSUPPORTED_FUNCTION},
      {"int3 at the entry", {0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC}, MH_ERROR_UNSUPPORTED_FUNCTION},
      // xor eax, eax; L: inc eax; cmp eax, 10; jl L; ret
      {"jump back into the patched bytes",
       {0x31, 0xC0, 0xFF, 0xC0, 0x83, 0xF8, 0x0A, 0x7C, 0xF9, 0xC3},
       MH_ERROR_UNSUPPORTED_FUNCTION},
      {"loop", {0xE2, 0xFE, 0x90, 0x90, 0x90, 0xC3}, MH_ERROR_UNSUPPORTED_FUNCTION},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    CodeBlock code;
    code.Put(kEntry, test.bytes);
    std::uint8_t before[16];
    std::memcpy(before, code.base + kEntry, sizeof before);
    LPVOID trampoline = nullptr;
    EXPECT_EQ(MH_CreateHook(code.base + kEntry, reinterpret_cast<LPVOID>(&AddThousand), &trampoline), test.status);
    EXPECT_EQ(trampoline, nullptr);
    EXPECT_EQ(MH_EnableHook(code.base + kEntry), MH_ERROR_NOT_CREATED);
    EXPECT_EQ(std::memcmp(before, code.base + kEntry, sizeof before), 0);
  }

  // Data memory is not code.
  auto* data = static_cast<std::uint8_t*>(VirtualAlloc(nullptr, 4096, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  data[0] = 0xC3;
  EXPECT_EQ(MH_CreateHook(data, reinterpret_cast<LPVOID>(&AddThousand), nullptr), MH_ERROR_NOT_EXECUTABLE);
  VirtualFree(data, 0, MEM_RELEASE);
}

TEST_F(HookEngineWin, StatusesOfMisuseAndTheirNames) {
  CodeBlock code;
  LPVOID target = code.Put(kEntry, {0x48, 0x8D, 0x41, 0x07, 0x90, 0xC3});  // lea rax, [rcx+7]; nop; ret
  LPVOID detour = reinterpret_cast<LPVOID>(&AddThousand);
  EXPECT_EQ(MH_Initialize(), MH_ERROR_ALREADY_INITIALIZED);
  EXPECT_EQ(MH_EnableHook(target), MH_ERROR_NOT_CREATED);
  EXPECT_EQ(MH_RemoveHook(target), MH_ERROR_NOT_CREATED);
  ASSERT_EQ(MH_CreateHook(target, detour, nullptr), MH_OK);
  EXPECT_EQ(MH_CreateHook(target, detour, nullptr), MH_ERROR_ALREADY_CREATED);
  EXPECT_EQ(MH_DisableHook(target), MH_ERROR_DISABLED);
  EXPECT_EQ(MH_EnableHook(MH_ALL_HOOKS), MH_OK);
  EXPECT_EQ(MH_EnableHook(target), MH_ERROR_ENABLED);
  EXPECT_EQ(MH_CreateHookApi(L"no-such-module.dll", "f", detour, nullptr), MH_ERROR_MODULE_NOT_FOUND);
  EXPECT_EQ(MH_CreateHookApi(L"kernel32.dll", "NoSuchExport", detour, nullptr), MH_ERROR_FUNCTION_NOT_FOUND);

  // Uninitialising restores every enabled target.
  EXPECT_EQ(MH_Uninitialize(), MH_OK);
  EXPECT_EQ(code.base[kEntry], 0x48);
  EXPECT_EQ(MH_Uninitialize(), MH_ERROR_NOT_INITIALIZED);
  EXPECT_EQ(MH_CreateHook(target, detour, nullptr), MH_ERROR_NOT_INITIALIZED);
  EXPECT_EQ(MH_Initialize(), MH_OK);

  EXPECT_STREQ(MH_StatusToString(MH_OK), "MH_OK");
  EXPECT_STREQ(MH_StatusToString(MH_UNKNOWN), "MH_UNKNOWN");
  EXPECT_STREQ(MH_StatusToString(MH_ERROR_MEMORY_ALLOC), "MH_ERROR_MEMORY_ALLOC");
  EXPECT_STREQ(MH_StatusToString(MH_ERROR_FUNCTION_NOT_FOUND), "MH_ERROR_FUNCTION_NOT_FOUND");
  EXPECT_STREQ(MH_StatusToString(static_cast<MH_STATUS>(99)), "(unknown)");
}

// A target alone in the middle of 4.25 GB of reserved address space, with at most one 64 KB hole:
// the reservations (the target's page committed in the upper one), or none if that stretch is taken.
std::vector<void*> ReserveAround(std::uint64_t center, std::int64_t hole) {
  constexpr std::uint64_t kHalf = 0x88000000;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> pieces;  // [first, end)
  if (hole == 0) {
    pieces = {{center - kHalf, center + kHalf}};
  } else {
    pieces = {{center - kHalf, center + hole}, {center + hole + 0x10000, center + kHalf}};
  }
  std::vector<void*> reserved;
  for (const auto& [first, end] : pieces) {
    void* piece = VirtualAlloc(reinterpret_cast<void*>(first), end - first, MEM_RESERVE, PAGE_NOACCESS);
    if (piece == nullptr) {
      for (void* p : reserved) VirtualFree(p, 0, MEM_RELEASE);
      return {};
    }
    reserved.push_back(piece);
  }
  return reserved;
}

TEST_F(HookEngineWin, NoFreeMemoryWithinReachIsAClearStatus) {
  struct Case {
    const char* name;
    std::int64_t hole;  // from the target; 0: none
    MH_STATUS status;
  };
  const Case cases[] = {{"nothing free within 2 GB", 0, MH_ERROR_MEMORY_ALLOC},
                        {"one granule free 1.9 GB below", -0x79000000, MH_OK},
                        {"one granule free 1.9 GB above", 0x79000000, MH_OK}};
  const std::uint8_t function[] = {0x48, 0x8D, 0x41, 0x07, 0x90, 0xC3};  // lea rax, [rcx+7]; nop; ret
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    std::uint64_t center = 0x100000000000;
    std::vector<void*> reserved;
    for (; center < 0x500000000000 && reserved.empty(); center += 0x10000000000)
      reserved = ReserveAround(center, test.hole);
    center -= 0x10000000000;
    ASSERT_FALSE(reserved.empty()) << "no free 4.25 GB stretch to reserve";
    auto* target = static_cast<std::uint8_t*>(
        VirtualAlloc(reinterpret_cast<void*>(center), 4096, MEM_COMMIT, PAGE_EXECUTE_READWRITE));
    ASSERT_EQ(target, reinterpret_cast<std::uint8_t*>(center));
    std::memcpy(target, function, sizeof function);

    LPVOID trampoline = nullptr;
    EXPECT_EQ(MH_CreateHook(target, reinterpret_cast<LPVOID>(&AddThousand), &trampoline), test.status);
    if (test.status == MH_OK) {
      const auto slot = reinterpret_cast<std::uint64_t>(trampoline);
      EXPECT_GE(slot, center + test.hole);
      EXPECT_LT(slot, center + test.hole + 0x10000);
      original = reinterpret_cast<IntFunction>(trampoline);
      ASSERT_EQ(MH_EnableHook(target), MH_OK);
      EXPECT_EQ(reinterpret_cast<IntFunction>(target)(3), 1010);
      EXPECT_EQ(MH_RemoveHook(target), MH_OK);
    }
    EXPECT_EQ(std::memcmp(target, function, sizeof function), 0);
    EXPECT_EQ(reinterpret_cast<IntFunction>(target)(3), 10);
    for (void* piece : reserved) VirtualFree(piece, 0, MEM_RELEASE);
  }
}

// --- Wine's dxgi.dll ---------------------------------------------------------------------------------

using CreateFactory = HRESULT(WINAPI*)(REFIID, void**);
std::atomic<int> factoryCalls{0};
CreateFactory originalCreateFactory = nullptr, originalCreateFactory1 = nullptr;

HRESULT WINAPI CreateDXGIFactory_Detour(REFIID riid, void** factory) {
  ++factoryCalls;
  return originalCreateFactory(riid, factory);
}
HRESULT WINAPI CreateDXGIFactory1_Detour(REFIID riid, void** factory) {
  ++factoryCalls;
  return originalCreateFactory1(riid, factory);
}

TEST_F(HookEngineWin, WinesDxgiExportsCallThroughToTheOriginal) {
  const HMODULE dxgi = LoadLibraryW(L"dxgi.dll");
  ASSERT_NE(dxgi, nullptr);
  struct Export {
    const char* name;
    LPVOID detour;
    CreateFactory* original;
    REFIID riid;
  };
  const Export exports[] = {
      {"CreateDXGIFactory", reinterpret_cast<LPVOID>(&CreateDXGIFactory_Detour), &originalCreateFactory,
       IID_IDXGIFactory},
      {"CreateDXGIFactory1", reinterpret_cast<LPVOID>(&CreateDXGIFactory1_Detour), &originalCreateFactory1,
       IID_IDXGIFactory1},
  };
  for (const auto& e : exports) {
    SCOPED_TRACE(e.name);
    LPVOID target = nullptr;
    ASSERT_EQ(MH_CreateHookApiEx(L"dxgi.dll", e.name, e.detour, reinterpret_cast<LPVOID*>(e.original), &target), MH_OK);
    ASSERT_EQ(target, reinterpret_cast<LPVOID>(GetProcAddress(dxgi, e.name)));
    const auto create = reinterpret_cast<CreateFactory>(target);
    for (const bool enabled : {true, false}) {
      ASSERT_EQ(enabled ? MH_EnableHook(target) : MH_DisableHook(target), MH_OK);
      factoryCalls = 0;
      IUnknown* factory = nullptr;
      EXPECT_EQ(create(e.riid, reinterpret_cast<void**>(&factory)), S_OK);
      ASSERT_NE(factory, nullptr);
      EXPECT_EQ(factoryCalls.load(), enabled ? 1 : 0);
      IDXGIFactory* asFactory = nullptr;
      EXPECT_EQ(factory->QueryInterface(IID_IDXGIFactory, reinterpret_cast<void**>(&asFactory)), S_OK);
      if (asFactory != nullptr) asFactory->Release();
      factory->Release();
    }
  }
}

// --- Other threads and other hookers ------------------------------------------------------------------

TEST_F(HookEngineWin, SwitchingWhileOtherThreadsCallTheTarget) {
  // xor eax, eax; add eax, ecx; add eax, 40; ret: instruction starts at bytes 2 and 4 lie inside
  // the patch, so a thread stopped there must be moved, or it runs half of the jmp. Forty copies,
  // switched together (one freeze per switch, as MH_ALL_HOOKS does), make 10,000 hook cycles.
  CodeBlock code;
  constexpr int kTargets = 40;
  constexpr std::size_t kStride = 16;
  std::vector<IntFunction> targets;
  for (int i = 0; i < kTargets; ++i) {
    targets.push_back(reinterpret_cast<IntFunction>(
        code.Put(kEntry + i * kStride, {0x31, 0xC0, 0x01, 0xC8, 0x83, 0xC0, 0x28, 0xC3})));
  }
  const int kRounds = 10000 / kTargets;
  constexpr int kThreads = 3;
  std::atomic<bool> stop{false};
  std::atomic<long long> wrong{0}, hooked{0}, plain{0};
  std::vector<std::thread> callers;
  for (int t = 0; t < kThreads; ++t) {
    callers.emplace_back([&, t] {
      long long counts[2] = {0, 0};
      for (int i = t; !stop.load(std::memory_order_relaxed); ++i) {
        const int x = i & 0xFFF;
        const int result = targets[i % kTargets](x);
        if (result == x + 40 || result == x + 1040) {
          ++counts[result == x + 1040];
        } else {
          ++wrong;
        }
      }
      plain += counts[0];
      hooked += counts[1];
    });
  }
  int failures = 0;
  for (int round = 0; round < kRounds && failures == 0; ++round) {
    for (const IntFunction target : targets) {
      LPVOID trampoline = nullptr;
      failures +=
          MH_CreateHook(reinterpret_cast<LPVOID>(target), reinterpret_cast<LPVOID>(&AddThousand), &trampoline) != MH_OK;
      original = reinterpret_cast<IntFunction>(trampoline);  // the same code in every trampoline
    }
    failures += MH_EnableHook(MH_ALL_HOOKS) != MH_OK;
    failures += MH_DisableHook(MH_ALL_HOOKS) != MH_OK;
    for (const IntFunction target : targets) failures += MH_RemoveHook(reinterpret_cast<LPVOID>(target)) != MH_OK;
  }
  stop = true;
  for (auto& caller : callers) caller.join();
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_GT(hooked.load(), 0);
  EXPECT_GT(plain.load(), 0);
}

std::atomic<IntFunction> plainOriginal{nullptr};
int PlainDetour(int x) { return plainOriginal.load()(x) + 100; }

// Another program's hook, written the simple way: a 5-byte jmp to its relay (or a 14-byte
// absolute jmp) and a trampoline of the overwritten bytes, following a jmp found at the entry.
struct PlainHooker {
  CodeBlock& code;
  std::size_t entry;
  std::size_t patch;  // 5 or 14
  std::uint8_t saved[14] = {};
  static constexpr std::size_t kRelay = 0x800, kTrampoline = 0x900;

  void Install() {
    std::memcpy(saved, code.base + entry, patch);
    if (saved[0] == 0xE9) {  // someone's hook: go where it goes
      std::int32_t rel;
      std::memcpy(&rel, saved + 1, 4);
      code.Put(kTrampoline, {0xFF, 0x25, 0, 0, 0, 0});
      code.Put64(kTrampoline + 6, reinterpret_cast<std::uint64_t>(code.base + entry + 5 + rel));
    } else {
      std::memcpy(code.base + kTrampoline, saved, patch);
      code.Put(kTrampoline + patch, {0xFF, 0x25, 0, 0, 0, 0});
      code.Put64(kTrampoline + patch + 6, reinterpret_cast<std::uint64_t>(code.base + entry + patch));
    }
    plainOriginal = code.Function(kTrampoline);
    code.Put(kRelay, {0xFF, 0x25, 0, 0, 0, 0});
    code.Put64(kRelay + 6, reinterpret_cast<std::uint64_t>(&PlainDetour));
    if (patch == 5) {
      code.Put(entry, {0xE9, 0, 0, 0, 0});
      code.Rel32(entry + 1, entry + 5, kRelay);
    } else {
      code.Put(entry, {0xFF, 0x25, 0, 0, 0, 0});
      code.Put64(entry + 6, reinterpret_cast<std::uint64_t>(&PlainDetour));
    }
    FlushInstructionCache(GetCurrentProcess(), code.base + entry, patch);
  }
  void Uninstall() {
    std::memcpy(code.base + entry, saved, patch);
    FlushInstructionCache(GetCurrentProcess(), code.base + entry, patch);
  }
};

TEST_F(HookEngineWin, AnotherHookerBeforeOrAfterOurs) {
  struct Case {
    const char* name;
    std::size_t patch;
    bool oursFirst;
  };
  const Case cases[] = {{"5-byte jmp before ours", 5, false},
                        {"5-byte jmp after ours", 5, true},
                        {"14-byte jmp [rip] before ours", 14, false}};
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    CodeBlock code;
    // lea rax, [rcx+7]; nop; add rax, 1; add rax, 2; nop; ret: whole instructions end at 5 and 14.
    const IntFunction target = reinterpret_cast<IntFunction>(
        code.Put(kEntry, {0x48, 0x8D, 0x41, 0x07, 0x90, 0x48, 0x83, 0xC0, 0x01, 0x48, 0x83, 0xC0, 0x02, 0x90, 0xC3}));
    ASSERT_EQ(target(1), 11);
    PlainHooker other{code, kEntry, test.patch};
    const auto ours = [&] {
      LPVOID trampoline = nullptr;
      ASSERT_EQ(MH_CreateHook(reinterpret_cast<LPVOID>(target), reinterpret_cast<LPVOID>(&AddThousand), &trampoline),
                MH_OK);
      original = reinterpret_cast<IntFunction>(trampoline);
      ASSERT_EQ(MH_EnableHook(reinterpret_cast<LPVOID>(target)), MH_OK);
    };
    if (test.oursFirst) {
      ours();
      EXPECT_EQ(target(1), 1011);
      other.Install();
      EXPECT_EQ(target(1), 1111);
      other.Uninstall();
      EXPECT_EQ(target(1), 1011);
      EXPECT_EQ(MH_RemoveHook(reinterpret_cast<LPVOID>(target)), MH_OK);
    } else {
      other.Install();
      EXPECT_EQ(target(1), 111);
      ours();
      EXPECT_EQ(target(1), 1111);
      EXPECT_EQ(MH_RemoveHook(reinterpret_cast<LPVOID>(target)), MH_OK);
      EXPECT_EQ(target(1), 111);
      other.Uninstall();
    }
    EXPECT_EQ(target(1), 11);
  }
}

}  // namespace
