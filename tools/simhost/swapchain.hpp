// The simulated game's Direct3D 12 output: device, direct queue, flip-model swap chain made
// through CreateDXGIFactory2 and IDXGIFactory2::CreateSwapChainForHwnd, and a depth buffer;
// each frame clears the back buffer, draws the 3D world (world_view.hpp) and the game's maps
// (game_draw.hpp) and presents. Pictures of a frame are read back from the GPU: before the
// present (the game's own drawing) or after it (the buffer as presented, with whatever was drawn
// into it at present time).
#pragma once

#include <d3d12.h>
#include <dxgi1_4.h>
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "game_draw.hpp"
#include "world_view.hpp"

namespace simhost {

struct Host;

// Through which module the game makes its swap chain.
enum class SwapchainRoute {
  System,      // the system's CreateDXGIFactory2
  Streamline,  // the factory export of sl.interposer.dll
  FidelityFx,  // a frame-generation swap chain from amd_fidelityfx_loader_dx12.dll's ffxCreateContext
};

// A back buffer read back to the CPU, its pixels decoded to floats (R, G, B, A, row by row).
struct Picture {
  UINT width = 0, height = 0;
  std::vector<float> rgba;
  // Saves it as an 8-bit PNG, every channel clamped to [0, 1].
  bool SavePng(const std::wstring& path) const;
};

// The back-buffer formats the game can run with: rgba8, rgba16f or rgb10a2 (false for others).
bool ParseSwapchainFormat(const std::string& name, DXGI_FORMAT& format);

// Every present of the game's own swap chains in the run (each one it made, in turn): how many, and
// the longest wall time one took (the library's work inside it included).
struct PresentTally {
  unsigned long long presents = 0;
  double longestUs = 0;
};
[[nodiscard]] PresentTally& Presents();

class Swapchain {
 public:
  static constexpr UINT kBuffers = 2;

  ~Swapchain();
  // False (with a message on standard error) when any step fails.
  bool Create(HWND window, SwapchainRoute route = SwapchainRoute::System,
              DXGI_FORMAT format = DXGI_FORMAT_R8G8B8A8_UNORM);
  // With a path, the frame as the game drew it (before the present, so without anything drawn
  // into it at present time) is also read back and saved there as PNG; with `presented`, the
  // buffer just presented is read back into it (with what a present hook drew). False when a
  // read-back or save fails. The frame shows the host's game and world as they are now.
  bool RenderAndPresent(const Host& host, unsigned elapsedMs, const std::wstring& framePath = {},
                        Picture* presented = nullptr);
  // Whether the game's maps are drawn from now on, or never will be.
  [[nodiscard]] bool MapsSettled() const { return !draw_ || draw_->Settled(); }
  // Follows the window's client size.
  void Resize(UINT width, UINT height);
  // Two depth buffers drawn with in turn, one a frame, as a game that keeps the last frame's depth
  // for its temporal effects does; Depth() is the one of the frame being drawn.
  void SetDepthPingPong(bool on);
  // The depth buffer released and a new one made in its place, as on a change of render size.
  void ReplaceDepth();

  ID3D12Device* Device() const { return device_; }
  ID3D12CommandQueue* Queue() const { return queue_; }
  IDXGISwapChain3* Native() const { return swapchain_; }
  ID3D12Resource* Depth() const { return depth_; }
  UINT Width() const { return width_; }
  UINT Height() const { return height_; }
  DXGI_FORMAT Format() const { return format_; }
  // The last frame's times, microseconds: the Present call (with whatever a present hook does in
  // it) and the game's own work before it (recording and submitting its drawing).
  double LastPresentUs() const { return lastPresentUs_; }
  double LastOwnWorkUs() const { return lastOwnWorkUs_; }

 private:
  void WaitIdle();
  void CreateTargets();
  void CreateDepth(ID3D12Resource*& depth);
  void UseDepth();
  void ReleaseTargets();
  ID3D12Resource* NewReadback(UINT64 bytes);
  // Copies a back buffer (in the present state) to the CPU and decodes it; waits for the GPU.
  bool ReadBack(ID3D12Resource* buffer, Picture& picture);

  ID3D12Device* device_ = nullptr;
  ID3D12CommandQueue* queue_ = nullptr;
  IDXGISwapChain3* swapchain_ = nullptr;
  ID3D12Resource* buffers_[kBuffers] = {};
  ID3D12DescriptorHeap* rtvHeap_ = nullptr;
  ID3D12DescriptorHeap* dsvHeap_ = nullptr;
  ID3D12Resource* depth_ = nullptr;
  ID3D12Resource* spareDepth_ = nullptr;  // the other of the pair while depth ping-pongs
  bool pingPong_ = false;
  ID3D12CommandAllocator* allocator_ = nullptr;
  ID3D12GraphicsCommandList* list_ = nullptr;
  ID3D12Fence* fence_ = nullptr;
  HANDLE fenceEvent_ = nullptr;
  UINT64 fenceValue_ = 0;
  UINT rtvStride_ = 0;
  UINT width_ = 0, height_ = 0;
  DXGI_FORMAT format_ = DXGI_FORMAT_R8G8B8A8_UNORM;
  std::unique_ptr<GameDraw> draw_;
  std::unique_ptr<WorldView> world_;
  double lastPresentUs_ = 0, lastOwnWorkUs_ = 0;
};

// upscaler_actions.cpp: the swap chain as FidelityFX's frame generation makes it.
bool CreateThroughFidelityFx(IDXGIFactory2* factory, ID3D12CommandQueue* queue, HWND window,
                             DXGI_SWAP_CHAIN_DESC1* desc, IDXGISwapChain1** swapchain);

}  // namespace simhost
