// The fault guard against the real Win32 memory manager (under Wine): reads of memory that is
// unmapped, reserved, decommitted, inaccessible or a guard page fail softly, guard pages stay
// armed, and memory freed and re-mapped by another thread during reads never lets a fault out.
#include "platform/fault_guard_win.hpp"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

namespace pathlight {
namespace {

constexpr std::size_t kPage = 4096;

std::uint64_t Address(const void* p) { return reinterpret_cast<std::uint64_t>(p); }

DWORD ProtectionOf(const void* p) {
  MEMORY_BASIC_INFORMATION region{};
  VirtualQuery(p, &region, sizeof region);
  return region.Protect;
}

// Three pages: readable, then the page under test, then readable again.
struct Sandwich {
  char* base = static_cast<char*>(VirtualAlloc(nullptr, 3 * kPage, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  Sandwich() { std::memset(base, 0x5A, 3 * kPage); }
  ~Sandwich() { VirtualFree(base, 0, MEM_RELEASE); }
  char* Middle() const { return base + kPage; }
};

TEST(FaultGuardWin, ReadableMemoryIsCopiedWhole) {
  Sandwich memory;
  std::vector<char> out(3 * kPage);
  EXPECT_EQ(GuardedMemory().ReadSome(Address(memory.base), out.data(), out.size()), out.size());
  EXPECT_EQ(std::memcmp(out.data(), memory.base, out.size()), 0);
  std::uint64_t value = 0;
  EXPECT_TRUE(GuardedMemory().ReadValue(Address(memory.base + 8), value));
  EXPECT_EQ(value, 0x5A5A5A5A5A5A5A5Aull);
  EXPECT_FALSE(GuardedMemory().ReadValue(0, value));
  EXPECT_FALSE(GuardedMemory().ReadValue(0x800000000000, value));
}

// Pieces smaller than a page cross the regions' boundaries and end at the first unreadable page.
TEST(FaultGuardWin, PiecesCrossRegionsAndStopAtTheFirstUnreadablePage) {
  struct Joined final : GameMemory::PieceVisitor {
    void Piece(std::uint64_t address, const void* bytes, std::size_t size) override {
      EXPECT_EQ(address, next);
      next = address + size;
      const auto* from = static_cast<const char*>(bytes);
      copy.insert(copy.end(), from, from + size);
    }
    std::uint64_t next = 0;
    std::vector<char> copy;
  };
  Sandwich memory;
  DWORD old;
  ASSERT_TRUE(VirtualProtect(memory.Middle(), kPage, PAGE_READONLY, &old));
  std::vector<char> scratch(0x600);
  Joined whole;
  whole.next = Address(memory.base);
  EXPECT_EQ(GuardedMemory().ReadPieces(Address(memory.base), 3 * kPage, scratch.data(), scratch.size(), whole),
            3 * kPage);
  ASSERT_EQ(whole.copy.size(), 3 * kPage);
  EXPECT_EQ(std::memcmp(whole.copy.data(), memory.base, 3 * kPage), 0);
  ASSERT_TRUE(VirtualProtect(memory.Middle(), kPage, PAGE_NOACCESS, &old));
  Joined first;
  first.next = Address(memory.base + 0x100);
  EXPECT_EQ(GuardedMemory().ReadPieces(Address(memory.base + 0x100), 3 * kPage, scratch.data(), scratch.size(), first),
            kPage - 0x100);
  EXPECT_EQ(first.copy.size(), kPage - 0x100);
}

TEST(FaultGuardWin, EveryKindOfUnreadablePageFailsAndGuardPagesStayArmed) {
  struct Case {
    const char* name;
    void (*make)(char* page);
    DWORD expectedProtection;  // 0: not checked (no longer committed)
  };
  const Case cases[] = {
      {"decommitted", [](char* page) { VirtualFree(page, kPage, MEM_DECOMMIT); }, 0},
      {"no access",
       [](char* page) {
         DWORD old;
         VirtualProtect(page, kPage, PAGE_NOACCESS, &old);
       },
       PAGE_NOACCESS},
      {"guard",
       [](char* page) {
         DWORD old;
         VirtualProtect(page, kPage, PAGE_READWRITE | PAGE_GUARD, &old);
       },
       PAGE_READWRITE | PAGE_GUARD},
      {"read-only guard",
       [](char* page) {
         DWORD old;
         VirtualProtect(page, kPage, PAGE_READONLY | PAGE_GUARD, &old);
       },
       PAGE_READONLY | PAGE_GUARD},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Sandwich memory;
    c.make(memory.Middle());
    std::vector<char> out(3 * kPage);
    std::uint64_t value = 0;
    EXPECT_FALSE(GuardedMemory().ReadValue(Address(memory.Middle() + 64), value));
    // A block read keeps the readable beginning and stops at the page.
    EXPECT_EQ(GuardedMemory().ReadSome(Address(memory.base + 100), out.data(), out.size() - 100), kPage - 100);
    EXPECT_EQ(out[0], 0x5A);
    EXPECT_TRUE(GuardedMemory().ReadValue(Address(memory.Middle() + kPage), value));
    if (c.expectedProtection != 0) {
      EXPECT_EQ(ProtectionOf(memory.Middle()), c.expectedProtection);
    }
  }
}

TEST(FaultGuardWin, UnmappedAndReservedMemoryFails) {
  char* reserved = static_cast<char*>(VirtualAlloc(nullptr, 16 * kPage, MEM_RESERVE, PAGE_NOACCESS));
  ASSERT_NE(reserved, nullptr);
  std::uint64_t value = 0;
  EXPECT_FALSE(GuardedMemory().ReadValue(Address(reserved), value));
  VirtualFree(reserved, 0, MEM_RELEASE);
  EXPECT_FALSE(GuardedMemory().ReadValue(Address(reserved), value));
  EXPECT_FALSE(GuardedMemory().ReadValue(Address(reserved + 15 * kPage + 4092), value));
}

// Why the guard asks first: the bare probe catches the fault but the guard bit is gone, which is
// what a stack's owner would trip over. RestoreGuardPage puts it back.
TEST(FaultGuardWin, ProbeAloneConsumesAGuardPageAndTheRestorePutsItBack) {
  Sandwich memory;
  DWORD old;
  VirtualProtect(memory.Middle(), kPage, PAGE_READWRITE | PAGE_GUARD, &old);
  char out[16];
  const fault_guard_detail::ProbeResult probe = fault_guard_detail::ProbeCopy(out, memory.Middle() - 8, sizeof out);
  EXPECT_EQ(probe.copied, 8u);
  EXPECT_EQ(probe.exceptionCode, static_cast<std::uint32_t>(STATUS_GUARD_PAGE_VIOLATION));
  EXPECT_EQ(probe.faultAddress, Address(memory.Middle()));
  EXPECT_EQ(ProtectionOf(memory.Middle()), static_cast<DWORD>(PAGE_READWRITE));
  const std::uint64_t restored = fault_guard_detail::GuardPagesRestored();
  fault_guard_detail::RestoreGuardPage(Address(memory.Middle() + 100));
  EXPECT_EQ(ProtectionOf(memory.Middle()), static_cast<DWORD>(PAGE_READWRITE | PAGE_GUARD));
  EXPECT_EQ(fault_guard_detail::GuardPagesRestored(), restored + 1);
  // Access violations come back as such.
  VirtualProtect(memory.Middle(), kPage, PAGE_NOACCESS, &old);
  EXPECT_EQ(fault_guard_detail::ProbeCopy(out, memory.Middle(), 8).exceptionCode,
            static_cast<std::uint32_t>(EXCEPTION_ACCESS_VIOLATION));
}

// A guard page on the caller's side of the copy is the caller's business: the game's page it was
// reading from must not be turned into a guard page.
TEST(FaultGuardWin, AFaultOnTheCallersBufferNeverArmsTheGamesPage) {
  Sandwich game, caller;
  DWORD old;
  VirtualProtect(caller.Middle(), kPage, PAGE_READWRITE | PAGE_GUARD, &old);
  EXPECT_EQ(GuardedMemory().ReadSome(Address(game.Middle()), caller.Middle() - 8, 64), 8u);
  EXPECT_EQ(ProtectionOf(game.Middle()), static_cast<DWORD>(PAGE_READWRITE));
}

int Recurse(int depth) {
  volatile char frame[1024];
  frame[0] = static_cast<char>(depth);
  return depth == 0 ? frame[0] : Recurse(depth - 1) + frame[0];
}

// Another thread's stack: its guard page must survive our read, or that thread could no longer
// grow its stack.
TEST(FaultGuardWin, AnotherThreadsStackGuardPageSurvivesAndTheStackStillGrows) {
  std::atomic<const char*> stackTop{nullptr};
  std::atomic<bool> grow{false};
  std::atomic<int> grown{0};
  std::thread owner([&] {
    char marker = 0;
    stackTop = &marker;
    while (!grow) Sleep(1);
    grown = Recurse(400) >= 0 ? 1 : 2;  // about 400 KB more stack
  });
  while (stackTop == nullptr) Sleep(1);
  MEMORY_BASIC_INFORMATION region{};
  VirtualQuery(stackTop.load(), &region, sizeof region);
  // Walk down from the thread's stack to the guard page below its committed part.
  const char* guard = nullptr;
  for (const char* at = static_cast<const char*>(region.AllocationBase);
       at < stackTop.load() && VirtualQuery(at, &region, sizeof region) == sizeof region;
       at = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
    if ((region.Protect & PAGE_GUARD) != 0) guard = static_cast<const char*>(region.BaseAddress);
  }
  ASSERT_NE(guard, nullptr) << "no guard page below the thread's stack";
  char out[64];
  EXPECT_EQ(GuardedMemory().ReadSome(Address(guard), out, sizeof out), 0u);
  EXPECT_NE(ProtectionOf(guard) & PAGE_GUARD, 0u);
  grow = true;
  owner.join();
  EXPECT_EQ(grown, 1);
}

// Reader threads read at random inside slots that a mutator thread releases and re-allocates,
// decommits and recommits, and turns into no-access or guard pages, all the while. Any fault that
// escaped the guard would end the test process.
TEST(FaultGuardWin, MillionReadsOfMemoryChangingUnderneath) {
  constexpr int kSlots = 32;
  constexpr std::size_t kSlotBytes = 4 * kPage;
  constexpr int kReaders = 3;
  constexpr int kReadsPerReader = 350000;
  std::atomic<char*> slots[kSlots];
  for (auto& slot : slots) {
    slot = static_cast<char*>(VirtualAlloc(nullptr, kSlotBytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  }
  std::atomic<bool> done{false};
  std::atomic<long long> succeeded{0}, failed{0};
  std::thread mutator([&] {
    std::mt19937 random(7);
    while (!done) {
      std::atomic<char*>& slot = slots[random() % kSlots];
      char* page = slot.load() + (random() % 4) * kPage;
      DWORD old;
      switch (random() % 5) {
        case 0: {
          char* old_base = slot.load();
          VirtualFree(old_base, 0, MEM_RELEASE);
          char* fresh = static_cast<char*>(VirtualAlloc(nullptr, kSlotBytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
          if (fresh != nullptr) slot = fresh;
          break;
        }
        case 1: VirtualFree(page, kPage, MEM_DECOMMIT); break;
        case 2:
          VirtualAlloc(page, kPage, MEM_COMMIT, PAGE_READWRITE);
          VirtualProtect(page, kPage, PAGE_READWRITE, &old);
          break;
        case 3: VirtualProtect(page, kPage, PAGE_NOACCESS, &old); break;
        case 4: VirtualProtect(page, kPage, PAGE_READWRITE | PAGE_GUARD, &old); break;
      }
    }
  });
  std::vector<std::thread> readers;
  for (int r = 0; r < kReaders; ++r) {
    readers.emplace_back([&, r] {
      std::mt19937 random(100 + r);
      std::vector<char> out(2 * kPage);
      long long ok = 0, bad = 0;
      for (int i = 0; i < kReadsPerReader; ++i) {
        // Stale addresses on purpose: the slot may have moved since it was read.
        const char* at = slots[random() % kSlots].load() + random() % kSlotBytes;
        const std::size_t size = (i % 16 == 0) ? 1 + random() % out.size() : 8;
        const std::size_t got = GuardedMemory().ReadSome(Address(at), out.data(), size);
        (got == size ? ok : bad) += 1;
        if (got > size) bad += 1000000000;
      }
      succeeded += ok;
      failed += bad;
    });
  }
  for (std::thread& reader : readers) reader.join();
  done = true;
  mutator.join();
  EXPECT_EQ(succeeded + failed, static_cast<long long>(kReaders) * kReadsPerReader);
  EXPECT_GT(succeeded, 0);
  EXPECT_GT(failed, 0);
  std::printf("%lld reads: %lld whole, %lld failed or cut short; guard pages restored after a race: %llu\n",
              succeeded.load() + failed.load(), succeeded.load(), failed.load(),
              static_cast<unsigned long long>(fault_guard_detail::GuardPagesRestored()));
  for (auto& slot : slots) VirtualFree(slot.load(), 0, MEM_RELEASE);
}

}  // namespace
}  // namespace pathlight
