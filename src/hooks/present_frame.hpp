// The seam between the present and resize detours and the in-frame renderer.
//
// The detours call whatever renderer is installed here. Until the in-frame renderer installs its
// own, a stand-in only counts the presents that would draw, so the hook chain, the hand-over paths
// and their time-outs work on their own. Called on the game's presenting thread(s).
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

namespace pathlight {

struct PresentRenderer {
  // One overlay frame for this swap chain, before the game's present goes on. Runs only for the
  // outermost, non-test present of a thread.
  void (*frame)(void* swapchain) = nullptr;
  // Called under the render mutex before the swap chain's buffers are resized: releases the
  // renderer's objects that hold its buffers when it is the swap chain drawn into.
  void (*releaseDeviceObjects)(void* swapchain) = nullptr;
};

// Replaces the renderer the detours call (both calls at once); null members do nothing.
void InstallPresentRenderer(const PresentRenderer& renderer);
[[nodiscard]] PresentRenderer CurrentPresentRenderer();

// Held by a renderer for a whole overlay frame and by the resize detours.
[[nodiscard]] std::mutex& RenderMutex();

// Presents that reached the stand-in renderer's frame (the outermost, non-test ones).
[[nodiscard]] std::uint64_t PresentsCounted();

}  // namespace pathlight
