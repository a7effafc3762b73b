// What the graphics hooks share with the renderers and the start-up thread: the process-wide
// flags, the table that tells each swap chain's command queue, and the present gate that keeps a
// nested or test present from drawing.
//
// Flags are single bytes exchanged atomically; the table has its own mutex, held only for a lookup
// or an update. Pointers are the game's objects, held without a reference.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "host/run_flags.hpp"

namespace pathlight {

// Set by the first factory; cleared again when it offers no IDXGIFactory2, so the next one tries.
extern Flag FactoryHooksInstalled;
// Set by the first D3D12 swap chain; cleared again when it offers no IDXGISwapChain3.
extern Flag SwapChainSeen;
// The Present renderer draws nothing from now on.
extern Flag PresentDisabled;
// The Present renderer has stopped for good: the start-up thread's wait returns and the
// Composition renderer takes over.
extern Flag CompositionHandover;

// Raised on a thread while it is inside FidelityFX's context creation: the swap chain made
// meanwhile is FidelityFX's own frame-generation swap chain, not the game's.
extern thread_local bool InsideFfxContextCreation;

// Which command queue each swap chain was created on. A swap chain created again at the same
// address takes the new queue; pairs are never removed (the game owns both objects).
class SwapChainQueueTable {
 public:
  void Record(const void* swapchain, void* queue);
  // The recorded queue, or null.
  [[nodiscard]] void* Find(const void* swapchain) const;
  [[nodiscard]] std::size_t Size() const;

 private:
  struct Pair {
    const void* swapchain;
    void* queue;
  };
  mutable std::mutex mutex_;
  std::vector<Pair> pairs_;
};

[[nodiscard]] SwapChainQueueTable& SwapChainQueues();

// The present detours' nesting depth on this thread. Enter returns true when this present is the
// outermost one on the thread and not a test present (DXGI_PRESENT_TEST): the one that draws. Every
// Enter is paired with a Leave, whatever Enter returned.
class PresentGate {
 public:
  static constexpr std::uint32_t kPresentTest = 1;

  [[nodiscard]] static bool Enter(std::uint32_t presentFlags);
  static void Leave();
};

}  // namespace pathlight
