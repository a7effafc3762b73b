#include "game/finder_win.hpp"
#include "game/game_state.hpp"

#include <windows.h>

#include "platform/fault_guard_win.hpp"
#include "platform/threads.hpp"
#include "platform/ticks.hpp"

namespace pathlight {

namespace {

class VirtualQueryRegions final : public RegionQuery {
 public:
  bool RegionAt(std::uint64_t address, MemoryRegion& region) override {
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(reinterpret_cast<const void*>(address), &info, sizeof info) != sizeof info) return false;
    region.base = reinterpret_cast<std::uint64_t>(info.BaseAddress);
    region.size = info.RegionSize;
    // Exactly read-write: guard pages (thread stacks' growth pages), write-combined and executable
    // memory are never where the game keeps its objects.
    region.scannable = info.State == MEM_COMMIT && info.Type == MEM_PRIVATE && info.Protect == PAGE_READWRITE;
    return true;
  }
};

void FinderThread() {
  try {
    // The thread owns its finder: the schedule and what it has seen live as long as the thread.
    Finder finder({GuardedMemory(), WritableRegions(), [] { return TickCount(); },
                   [] { SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL); }},
                  Game().layout, Game().pointers);
    for (;;) {
      std::uint32_t sleep = 1000;
      try {
        sleep = finder.Tick(*CurrentSettings());
      } catch (...) {
        // Only an allocation can throw here; the next tick tries again.
      }
      SleepMs(sleep);
    }
  } catch (...) {
    // Nothing leaves a thread body; without the finder the game objects stay unknown.
  }
}

}  // namespace

RegionQuery& WritableRegions() {
  static VirtualQueryRegions regions;
  return regions;
}

void StartFinderThread() { StartThread("finder", &FinderThread); }

}  // namespace pathlight
