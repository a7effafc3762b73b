#include "hooks/present_frame.hpp"

#include "hooks/hook_state.hpp"
#include "platform/log.hpp"

namespace pathlight {

void CountPresent(void* swapchain) {
  if (Hooks().presentsCounted.fetch_add(1) == 0) Log("Overlay: presents reach the overlay (swapchain %p)", swapchain);
}

void InstallPresentRenderer(const PresentRenderer& renderer) {
  Hooks().rendererFrame.store(renderer.frame);
  Hooks().rendererRelease.store(renderer.releaseDeviceObjects);
}

PresentRenderer CurrentPresentRenderer() { return {Hooks().rendererFrame.load(), Hooks().rendererRelease.load()}; }

std::mutex& RenderMutex() { return Hooks().renderMutex; }

std::uint64_t PresentsCounted() { return Hooks().presentsCounted.load(); }

}  // namespace pathlight
