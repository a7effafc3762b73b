#include "hooks/hook_state.hpp"

#include <algorithm>
#include <atomic>

namespace pathlight {

thread_local bool InsideFfxContextCreation = false;

namespace {

thread_local std::uint32_t g_presentDepth = 0;

}  // namespace

void SwapChainQueueTable::Record(const void* swapchain, void* queue, std::uintptr_t window) {
  std::lock_guard lock(mutex_);
  const Entry entry{queue, ++recordings_, window};
  const auto found =
      std::find_if(pairs_.begin(), pairs_.end(), [&](const Pair& p) { return p.swapchain == swapchain; });
  if (found != pairs_.end()) {
    found->entry = entry;
  } else {
    pairs_.push_back({swapchain, entry});
  }
}

void* SwapChainQueueTable::Find(const void* swapchain) const { return Lookup(swapchain).queue; }

SwapChainQueueTable::Entry SwapChainQueueTable::Lookup(const void* swapchain) const {
  std::lock_guard lock(mutex_);
  const auto found =
      std::find_if(pairs_.begin(), pairs_.end(), [&](const Pair& p) { return p.swapchain == swapchain; });
  return found != pairs_.end() ? found->entry : Entry{};
}

std::size_t SwapChainQueueTable::Size() const {
  std::lock_guard lock(mutex_);
  return pairs_.size();
}

GraphicsHookState& Hooks() {
  static GraphicsHookState state;
  return state;
}

SwapChainQueueTable& SwapChainQueues() { return Hooks().swapChainQueues; }

bool PresentGate::Enter(std::uint32_t presentFlags) {
  Hooks().presentsEntered.fetch_add(1, std::memory_order_relaxed);
  return g_presentDepth++ == 0 && (presentFlags & kPresentTest) == 0;
}

std::uint64_t PresentGate::Entered() { return Hooks().presentsEntered.load(std::memory_order_relaxed); }

void PresentGate::Leave() {
  if (g_presentDepth > 0) --g_presentDepth;
}

}  // namespace pathlight
