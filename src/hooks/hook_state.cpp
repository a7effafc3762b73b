#include "hooks/hook_state.hpp"

#include <algorithm>

namespace pathlight {

Flag FactoryHooksInstalled{0};
Flag SwapChainSeen{0};
Flag PresentDisabled{0};
Flag CompositionHandover{0};

thread_local bool InsideFfxContextCreation = false;

namespace {

thread_local std::uint32_t g_presentDepth = 0;

}  // namespace

void SwapChainQueueTable::Record(const void* swapchain, void* queue) {
  std::lock_guard lock(mutex_);
  const auto found = std::find_if(pairs_.begin(), pairs_.end(), [&](const Pair& p) { return p.swapchain == swapchain; });
  if (found != pairs_.end()) {
    found->queue = queue;
  } else {
    pairs_.push_back({swapchain, queue});
  }
}

void* SwapChainQueueTable::Find(const void* swapchain) const {
  std::lock_guard lock(mutex_);
  const auto found = std::find_if(pairs_.begin(), pairs_.end(), [&](const Pair& p) { return p.swapchain == swapchain; });
  return found != pairs_.end() ? found->queue : nullptr;
}

std::size_t SwapChainQueueTable::Size() const {
  std::lock_guard lock(mutex_);
  return pairs_.size();
}

SwapChainQueueTable& SwapChainQueues() {
  static SwapChainQueueTable table;
  return table;
}

bool PresentGate::Enter(std::uint32_t presentFlags) {
  return g_presentDepth++ == 0 && (presentFlags & kPresentTest) == 0;
}

void PresentGate::Leave() {
  if (g_presentDepth > 0) --g_presentDepth;
}

}  // namespace pathlight
