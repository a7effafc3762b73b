// The simulated game's Direct3D 12 output: device, direct queue, flip-model swap chain made
// through CreateDXGIFactory2 and IDXGIFactory2::CreateSwapChainForHwnd, and a depth buffer;
// each frame clears the back buffer and presents.
#pragma once

#include <d3d12.h>
#include <dxgi1_4.h>
#include <windows.h>

namespace simhost {

class Swapchain {
 public:
  static constexpr UINT kBuffers = 2;
  static constexpr DXGI_FORMAT kFormat = DXGI_FORMAT_R8G8B8A8_UNORM;

  ~Swapchain();
  // False (with a message on standard error) when any step fails.
  bool Create(HWND window);
  void RenderAndPresent(unsigned elapsedMs);
  // Follows the window's client size.
  void Resize(UINT width, UINT height);

 private:
  void WaitIdle();
  void CreateTargets();
  void ReleaseTargets();

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
};

}  // namespace simhost
