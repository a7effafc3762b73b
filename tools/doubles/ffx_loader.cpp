// amd_fidelityfx_loader_dx12.dll as a game sees it: ffxCreateContext with the frame-generation
// swap-chain descriptors. It makes the swap chain through the game's factory, on the game's queue,
// as FidelityFX does (the library's creation hooks see it being made), and hands it back through
// the descriptor's out-pointer. The wrapping form keeps the game's swap chain. Without a context
// to fill, or when the swap chain cannot be made, it fails as FidelityFX does.
#include <windows.h>

#include <d3d12.h>
#include <dxgi1_5.h>

#include <cstddef>
#include <cstdint>

#include "ffx_layout.hpp"

using namespace doubles;

namespace {

std::uint32_t Finish(IUnknown* made, IDXGISwapChain4** out) {
  if (made == nullptr) return kFfxErrorBackend;
  IDXGISwapChain4* swapchain = nullptr;
  const HRESULT hr = made->QueryInterface(__uuidof(IDXGISwapChain4), reinterpret_cast<void**>(&swapchain));
  made->Release();
  if (FAILED(hr)) return kFfxErrorBackend;
  *out = swapchain;
  return kFfxOk;
}

}  // namespace

extern "C" std::uint32_t Double_ffxCreateContext(void** context, FfxHeader* chain, const void* /*allocation*/) {
  if (context == nullptr) return kFfxErrorInvalidPointer;
  for (FfxHeader* d = chain; d != nullptr; d = d->next) {
    if (d->type == kFfxWrapSwapchain) {
      auto* wrap = reinterpret_cast<FfxWrapSwapchain*>(d);
      if (wrap->swapchain == nullptr || *wrap->swapchain == nullptr || wrap->gameQueue == nullptr) {
        return kFfxErrorInvalidPointer;
      }
    } else if (d->type == kFfxNewSwapchain) {
      auto* fresh = reinterpret_cast<FfxNewSwapchain*>(d);
      if (fresh->swapchain == nullptr || fresh->factory == nullptr || fresh->gameQueue == nullptr) {
        return kFfxErrorInvalidPointer;
      }
      IDXGISwapChain* made = nullptr;
      fresh->factory->CreateSwapChain(fresh->gameQueue, fresh->desc, &made);
      if (const std::uint32_t result = Finish(made, fresh->swapchain); result != kFfxOk) return result;
    } else if (d->type == kFfxNewSwapchainForHwnd) {
      auto* fresh = reinterpret_cast<FfxNewSwapchainForHwnd*>(d);
      if (fresh->swapchain == nullptr || fresh->factory == nullptr || fresh->gameQueue == nullptr) {
        return kFfxErrorInvalidPointer;
      }
      IDXGIFactory2* factory2 = nullptr;
      if (FAILED(fresh->factory->QueryInterface(__uuidof(IDXGIFactory2), reinterpret_cast<void**>(&factory2)))) {
        return kFfxErrorBackend;
      }
      IDXGISwapChain1* made = nullptr;
      factory2->CreateSwapChainForHwnd(fresh->gameQueue, fresh->hwnd, fresh->desc, fresh->fullscreenDesc, nullptr,
                                       &made);
      factory2->Release();
      if (const std::uint32_t result = Finish(made, fresh->swapchain); result != kFfxOk) return result;
    }
  }
  *context = reinterpret_cast<void*>(0xFF5C0);  // an opaque handle the game never looks into
  return kFfxOk;
}
