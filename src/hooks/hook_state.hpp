// What the graphics hooks share with the renderers and the start-up thread, in one record: the
// process-wide flags, the table that tells each swap chain's command queue, the renderer the
// detours call; and the present gate that keeps a nested or test present from drawing.
//
// Flags are single bytes exchanged atomically; the table has its own mutex, held only for a lookup
// or an update. Pointers are the game's objects, held without a reference.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "settings/run_flags.hpp"

namespace pathlight {

// Raised on a thread while it is inside FidelityFX's context creation: the swap chain made
// meanwhile is FidelityFX's own frame-generation swap chain, not the game's.
extern thread_local bool InsideFfxContextCreation;

// Which command queue each swap chain was created on. A swap chain created again at the same
// address takes the new queue; pairs are never removed (the game owns both objects).
//
// An address alone does not name a swap chain: the allocator readily gives a new swap chain the
// memory of one the game has just released (a window replaced, the resolution changed). Each
// recording therefore gets a creation number of its own, and whoever keeps objects built for a
// swap chain keeps the number with them; a different number at the same address is a different
// swap chain, on a queue that may not be the one the objects were built for.
class SwapChainQueueTable {
 public:
  struct Entry {
    void* queue = nullptr;
    std::uint64_t creation = 0;  // 0: not recorded; otherwise counts the recordings, from 1
    std::uintptr_t window = 0;   // the window it presents to, when its creation named one
  };

  void Record(const void* swapchain, void* queue, std::uintptr_t window = 0);
  // The recorded queue, or null.
  [[nodiscard]] void* Find(const void* swapchain) const;
  // The recorded queue with its creation number, or an empty entry.
  [[nodiscard]] Entry Lookup(const void* swapchain) const;
  [[nodiscard]] std::size_t Size() const;

 private:
  struct Pair {
    const void* swapchain;
    Entry entry;
  };
  mutable std::mutex mutex_;
  std::vector<Pair> pairs_;
  std::uint64_t recordings_ = 0;
};

// The stand-in renderer's frame, until the in-frame renderer installs its own: counts the presents
// that would draw, so the hook chain, the hand-over paths and their time-outs work on their own.
void CountPresent(void* swapchain);

// The graphics hooks' state. The detours are plain functions the game calls, so the one record is
// the process's (Hooks()); everything in it is safe to touch from any thread.
struct GraphicsHookState {
  // Set by the first factory; cleared again when it offers no IDXGIFactory2, so the next one tries.
  Flag FactoryHooksInstalled{0};
  // Set by the first D3D12 swap chain; cleared again when it offers no IDXGISwapChain3.
  Flag SwapChainSeen{0};
  // The swap chain's hooks are enabled, or could not be made or enabled: one of the two is raised
  // once the first D3D12 swap chain's hooks have been tried, and the start-up thread's wait goes by
  // it.
  Flag SwapChainHooksInstalled{0};
  Flag SwapChainHooksFailed{0};
  // The Present renderer draws nothing from now on.
  Flag PresentDisabled{0};
  // The Present renderer has stopped for good: the start-up thread's wait returns and the
  // Composition renderer takes over.
  Flag CompositionHandover{0};
  // The colour space the game last set on its swap chain (SetColorSpace1), -1 before any; the
  // renderer compares it with the one its objects were built for.
  std::atomic<std::int32_t> SwapChainColourSpace{-1};
  // Which Streamline functions are hooked; cleared when the hook could not be made, which tells
  // the occlusion code that no constants or tags will come.
  std::atomic<bool> SlSetConstantsHooked{false};
  std::atomic<bool> SlSetTagHooked{false};
  std::atomic<bool> SlSetTagForFrameHooked{false};

  SwapChainQueueTable swapChainQueues;
  // The renderer the present and resize detours call (see present_frame.hpp).
  std::atomic<void (*)(void*)> rendererFrame{&CountPresent};
  std::atomic<void (*)(void*)> rendererRelease{nullptr};
  std::mutex renderMutex;
  std::atomic<std::uint64_t> presentsEntered{0};  // every PresentGate::Enter
  std::atomic<std::uint64_t> presentsCounted{0};  // presents that reached the stand-in's frame
};

[[nodiscard]] GraphicsHookState& Hooks();

[[nodiscard]] SwapChainQueueTable& SwapChainQueues();

// The present detours' nesting depth on this thread. Enter returns true when this present is the
// outermost one on the thread and not a test present (DXGI_PRESENT_TEST): the one that draws. Every
// Enter is paired with a Leave, whatever Enter returned.
class PresentGate {
 public:
  static constexpr std::uint32_t kPresentTest = 1;

  [[nodiscard]] static bool Enter(std::uint32_t presentFlags);
  static void Leave();
  // Every Enter in the process so far: the proof that presents reach the hooks.
  [[nodiscard]] static std::uint64_t Entered();
};

}  // namespace pathlight
