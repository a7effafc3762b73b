// The graphics hooks' entry points for the start-up thread and the in-frame renderer, and the two
// steps behind the factory and swap-chain detours (exposed for the Windows-side tests).
#pragma once

#include <d3d12.h>
#include <dxgi1_4.h>

#include <cstdint>

#include "settings/settings.hpp"

namespace pathlight {

// Installs the hooks on the DXGI factory exports and on the upscaler libraries, and logs the
// start-up report; the swap-chain hooks follow from the first factory and swap chain. Start-up
// thread, once, only with [Style] Renderer Present.
void InstallGraphicsHooks(const Settings& settings);

// Returns only when the Composition renderer is to take over (start-up thread).
void WaitForPresentRenderer();

struct PresentQueue {
  ID3D12CommandQueue* queue = nullptr;  // without a reference
  const char* via = "";                 // "recorded at swapchain creation" or "swapchain"
  std::uint64_t creation = 0;           // the table's creation number of the swap chain (0: not recorded)
};

// The command queue the swap chain presents on. Without one, it has already handed over to the
// Composition renderer (and logged why) and the queue is null.
[[nodiscard]] PresentQueue FindPresentQueue(IDXGISwapChain* swapchain);

// A factory came out of a hooked export: the first one brings the swap-chain creation hooks.
void OnFactoryCreated(IUnknown* factory);
// A swap chain came out of a hooked creation method, made on `device` (a queue for D3D12) for
// `window` (null for a core window or a composition swap chain).
void OnSwapChainCreated(IUnknown* swapchain, IUnknown* device, HWND window = nullptr);

}  // namespace pathlight
