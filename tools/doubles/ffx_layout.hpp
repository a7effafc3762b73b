// FidelityFX's frame-generation swap-chain descriptors in their published 64-bit layout, as the
// double reads them and the simulated game fills them. Every descriptor starts with its type and
// the next descriptor of the chain.
#pragma once

#include <d3d12.h>
#include <dxgi1_5.h>

#include <cstddef>
#include <cstdint>

namespace doubles {

struct FfxHeader {
  std::uint64_t type;
  FfxHeader* next;
};

inline constexpr std::uint64_t kFfxWrapSwapchain = 0x30001;
inline constexpr std::uint64_t kFfxNewSwapchain = 0x30005;
inline constexpr std::uint64_t kFfxNewSwapchainForHwnd = 0x30006;
inline constexpr std::uint32_t kFfxOk = 0;
inline constexpr std::uint32_t kFfxErrorInvalidPointer = 0x80000000u;
inline constexpr std::uint32_t kFfxErrorBackend = 0x8000000Au;

// Wraps the game's swap chain: in, the game's; out, the frame-generation one.
struct FfxWrapSwapchain {
  FfxHeader header;
  IDXGISwapChain4** swapchain;    // 16
  ID3D12CommandQueue* gameQueue;  // 24
};

struct FfxNewSwapchain {
  FfxHeader header;
  IDXGISwapChain4** swapchain;    // 16
  DXGI_SWAP_CHAIN_DESC* desc;     // 24
  IDXGIFactory* factory;          // 32
  ID3D12CommandQueue* gameQueue;  // 40
};

struct FfxNewSwapchainForHwnd {
  FfxHeader header;
  IDXGISwapChain4** swapchain;                      // 16
  HWND hwnd;                                        // 24
  DXGI_SWAP_CHAIN_DESC1* desc;                      // 32
  DXGI_SWAP_CHAIN_FULLSCREEN_DESC* fullscreenDesc;  // 40
  IDXGIFactory* factory;                            // 48
  ID3D12CommandQueue* gameQueue;                    // 56
};

static_assert(offsetof(FfxWrapSwapchain, gameQueue) == 24);
static_assert(offsetof(FfxNewSwapchain, gameQueue) == 40);
static_assert(offsetof(FfxNewSwapchainForHwnd, gameQueue) == 56);

}  // namespace doubles
