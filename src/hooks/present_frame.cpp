#include "hooks/present_frame.hpp"

#include "platform/log.hpp"

namespace pathlight {

std::atomic<std::int32_t> SwapChainColourSpace{-1};

namespace {

std::atomic<std::uint64_t> g_presentsCounted{0};

void CountPresent(void* swapchain) {
  if (g_presentsCounted.fetch_add(1) == 0) Log("Overlay: presents reach the overlay (swapchain %p)", swapchain);
}

std::atomic<void (*)(void*)> g_frame{&CountPresent};
std::atomic<void (*)(void*)> g_release{nullptr};

}  // namespace

void InstallPresentRenderer(const PresentRenderer& renderer) {
  g_frame.store(renderer.frame);
  g_release.store(renderer.releaseDeviceObjects);
}

PresentRenderer CurrentPresentRenderer() { return {g_frame.load(), g_release.load()}; }

std::mutex& RenderMutex() {
  static std::mutex mutex;
  return mutex;
}

std::uint64_t PresentsCounted() { return g_presentsCounted.load(); }

}  // namespace pathlight
