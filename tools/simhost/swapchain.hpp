// The simulated game's Direct3D 12 output: device, direct queue, flip-model swap chain made
// through CreateDXGIFactory2 and IDXGIFactory2::CreateSwapChainForHwnd, and a depth buffer;
// each frame clears the back buffer, draws the game's maps (game_draw.hpp) and presents.
#pragma once

#include <d3d12.h>
#include <dxgi1_4.h>
#include <windows.h>

#include <memory>
#include <string>

#include "game_draw.hpp"

namespace simhost {

// Through which module the game makes its swap chain.
enum class SwapchainRoute {
  System,      // the system's CreateDXGIFactory2
  Streamline,  // the factory export of sl.interposer.dll
  FidelityFx,  // a frame-generation swap chain from amd_fidelityfx_loader_dx12.dll's ffxCreateContext
};

class Swapchain {
 public:
  static constexpr UINT kBuffers = 2;
  static constexpr DXGI_FORMAT kFormat = DXGI_FORMAT_R8G8B8A8_UNORM;

  ~Swapchain();
  // False (with a message on standard error) when any step fails.
  bool Create(HWND window, SwapchainRoute route = SwapchainRoute::System);
  // With a path, the frame as the game drew it (before the present, so without anything drawn
  // into it at present time) is also read back and saved there as PNG; false when that fails.
  bool RenderAndPresent(unsigned elapsedMs, const std::wstring& framePath = {});
  // Renders and presents a frame, then reads back the buffer just presented (with whatever was
  // drawn into it at present time) and saves it there as PNG; false when that fails.
  bool PresentAndSave(unsigned elapsedMs, const std::wstring& path);
  // Whether the game's maps are drawn from now on, or never will be.
  [[nodiscard]] bool MapsSettled() const { return !draw_ || draw_->Settled(); }
  // Follows the window's client size.
  void Resize(UINT width, UINT height);

  ID3D12Device* Device() const { return device_; }
  ID3D12CommandQueue* Queue() const { return queue_; }
  IDXGISwapChain3* Native() const { return swapchain_; }
  ID3D12Resource* Depth() const { return depth_; }
  UINT Width() const { return width_; }
  UINT Height() const { return height_; }

 private:
  void WaitIdle();
  void CreateTargets();
  void ReleaseTargets();
  ID3D12Resource* NewReadback(UINT64 bytes);
  void RecordReadback(ID3D12Resource* source, ID3D12Resource* readback, D3D12_PLACED_SUBRESOURCE_FOOTPRINT& footprint,
                      D3D12_RESOURCE_STATES state = D3D12_RESOURCE_STATE_RENDER_TARGET);

  ID3D12Device* device_ = nullptr;
  ID3D12CommandQueue* queue_ = nullptr;
  IDXGISwapChain3* swapchain_ = nullptr;
  ID3D12DescriptorHeap* rtvHeap_ = nullptr;
  ID3D12DescriptorHeap* dsvHeap_ = nullptr;
  ID3D12Resource* buffers_[kBuffers] = {};
  ID3D12Resource* depth_ = nullptr;
  ID3D12CommandAllocator* allocator_ = nullptr;
  ID3D12GraphicsCommandList* list_ = nullptr;
  ID3D12Fence* fence_ = nullptr;
  HANDLE fenceEvent_ = nullptr;
  UINT64 fenceValue_ = 0;
  UINT rtvStride_ = 0;
  UINT width_ = 0, height_ = 0;
  std::unique_ptr<GameDraw> draw_;
};

// upscaler_actions.cpp: the swap chain as FidelityFX's frame generation makes it.
bool CreateThroughFidelityFx(IDXGIFactory2* factory, ID3D12CommandQueue* queue, HWND window,
                             DXGI_SWAP_CHAIN_DESC1* desc, IDXGISwapChain1** swapchain);

}  // namespace simhost
