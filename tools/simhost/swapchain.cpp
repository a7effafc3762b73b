#include "swapchain.hpp"

#include <cmath>

#include "host.hpp"

namespace simhost {

namespace {

template <typename T>
void Release(T*& object) {
  if (object != nullptr) object->Release();
  object = nullptr;
}

D3D12_RESOURCE_BARRIER Transition(ID3D12Resource* resource, D3D12_RESOURCE_STATES from, D3D12_RESOURCE_STATES to) {
  D3D12_RESOURCE_BARRIER barrier = {};
  barrier.Type = D3D12_RESOURCE_BARRIER_TYPE_TRANSITION;
  barrier.Transition.pResource = resource;
  barrier.Transition.Subresource = D3D12_RESOURCE_BARRIER_ALL_SUBRESOURCES;
  barrier.Transition.StateBefore = from;
  barrier.Transition.StateAfter = to;
  return barrier;
}

}  // namespace

Swapchain::~Swapchain() {
  if (queue_ != nullptr && fence_ != nullptr) WaitIdle();
  draw_.reset();
  ReleaseTargets();
  Release(list_);
  Release(allocator_);
  Release(fence_);
  Release(dsvHeap_);
  Release(rtvHeap_);
  Release(swapchain_);
  Release(queue_);
  Release(device_);
  if (fenceEvent_ != nullptr) CloseHandle(fenceEvent_);
}

bool Swapchain::Create(HWND window, SwapchainRoute route) {
  RECT client;
  GetClientRect(window, &client);
  width_ = static_cast<UINT>(client.right - client.left);
  height_ = static_cast<UINT>(client.bottom - client.top);

  HRESULT hr = D3D12CreateDevice(nullptr, D3D_FEATURE_LEVEL_11_0, IID_PPV_ARGS(&device_));
  if (FAILED(hr)) { Say("simhost: D3D12CreateDevice failed (0x%08lx)", hr); return false; }

  D3D12_COMMAND_QUEUE_DESC queueDesc = {};
  queueDesc.Type = D3D12_COMMAND_LIST_TYPE_DIRECT;
  hr = device_->CreateCommandQueue(&queueDesc, IID_PPV_ARGS(&queue_));
  if (FAILED(hr)) { Say("simhost: CreateCommandQueue failed (0x%08lx)", hr); return false; }

  IDXGIFactory2* factory = nullptr;
  if (route == SwapchainRoute::Streamline) {
    using CreateFactory2Fn = HRESULT(WINAPI*)(UINT, REFIID, void**);
    const auto create = reinterpret_cast<CreateFactory2Fn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"sl.interposer.dll"), "CreateDXGIFactory2")));
    if (create == nullptr) { Say("simhost: sl.interposer.dll is not loaded"); return false; }
    hr = create(0, IID_PPV_ARGS(&factory));
  } else {
    hr = CreateDXGIFactory2(0, IID_PPV_ARGS(&factory));
  }
  if (FAILED(hr)) { Say("simhost: CreateDXGIFactory2 failed (0x%08lx)", hr); return false; }
  DXGI_SWAP_CHAIN_DESC1 desc = {};
  desc.Width = width_;
  desc.Height = height_;
  desc.Format = kFormat;
  desc.SampleDesc.Count = 1;
  desc.BufferUsage = DXGI_USAGE_RENDER_TARGET_OUTPUT;
  desc.BufferCount = kBuffers;
  desc.SwapEffect = DXGI_SWAP_EFFECT_FLIP_DISCARD;
  IDXGISwapChain1* swapchain1 = nullptr;
  if (route == SwapchainRoute::FidelityFx) {
    hr = CreateThroughFidelityFx(factory, queue_, window, &desc, &swapchain1) ? S_OK : E_FAIL;
  } else {
    hr = factory->CreateSwapChainForHwnd(queue_, window, &desc, nullptr, nullptr, &swapchain1);
  }
  factory->Release();
  if (FAILED(hr)) { Say("simhost: CreateSwapChainForHwnd failed (0x%08lx)", hr); return false; }
  hr = swapchain1->QueryInterface(IID_PPV_ARGS(&swapchain_));
  swapchain1->Release();
  if (FAILED(hr)) { Say("simhost: IDXGISwapChain3 not available (0x%08lx)", hr); return false; }

  D3D12_DESCRIPTOR_HEAP_DESC heapDesc = {};
  heapDesc.Type = D3D12_DESCRIPTOR_HEAP_TYPE_RTV;
  heapDesc.NumDescriptors = kBuffers;
  if (FAILED(device_->CreateDescriptorHeap(&heapDesc, IID_PPV_ARGS(&rtvHeap_)))) return false;
  heapDesc.Type = D3D12_DESCRIPTOR_HEAP_TYPE_DSV;
  heapDesc.NumDescriptors = 1;
  if (FAILED(device_->CreateDescriptorHeap(&heapDesc, IID_PPV_ARGS(&dsvHeap_)))) return false;
  rtvStride_ = device_->GetDescriptorHandleIncrementSize(D3D12_DESCRIPTOR_HEAP_TYPE_RTV);

  if (FAILED(device_->CreateCommandAllocator(D3D12_COMMAND_LIST_TYPE_DIRECT, IID_PPV_ARGS(&allocator_)))) return false;
  if (FAILED(device_->CreateCommandList(0, D3D12_COMMAND_LIST_TYPE_DIRECT, allocator_, nullptr, IID_PPV_ARGS(&list_))))
    return false;
  list_->Close();
  if (FAILED(device_->CreateFence(0, D3D12_FENCE_FLAG_NONE, IID_PPV_ARGS(&fence_)))) return false;
  fenceEvent_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  CreateTargets();
  draw_ = std::make_unique<GameDraw>();
  draw_->Init(device_, kBuffers, kFormat);
  return true;
}

void Swapchain::CreateTargets() {
  D3D12_CPU_DESCRIPTOR_HANDLE rtv = rtvHeap_->GetCPUDescriptorHandleForHeapStart();
  for (UINT i = 0; i < kBuffers; ++i) {
    swapchain_->GetBuffer(i, IID_PPV_ARGS(&buffers_[i]));
    device_->CreateRenderTargetView(buffers_[i], nullptr, rtv);
    rtv.ptr += rtvStride_;
  }
  // A depth buffer as the game has one; the library's occlusion looks for it later.
  D3D12_HEAP_PROPERTIES heap = {};
  heap.Type = D3D12_HEAP_TYPE_DEFAULT;
  D3D12_RESOURCE_DESC desc = {};
  desc.Dimension = D3D12_RESOURCE_DIMENSION_TEXTURE2D;
  desc.Width = width_;
  desc.Height = height_;
  desc.DepthOrArraySize = 1;
  desc.MipLevels = 1;
  desc.Format = DXGI_FORMAT_D32_FLOAT;
  desc.SampleDesc.Count = 1;
  desc.Flags = D3D12_RESOURCE_FLAG_ALLOW_DEPTH_STENCIL;
  D3D12_CLEAR_VALUE clear = {};
  clear.Format = DXGI_FORMAT_D32_FLOAT;
  clear.DepthStencil.Depth = 1.0f;
  if (SUCCEEDED(device_->CreateCommittedResource(&heap, D3D12_HEAP_FLAG_NONE, &desc, D3D12_RESOURCE_STATE_DEPTH_WRITE,
                                                 &clear, IID_PPV_ARGS(&depth_)))) {
    device_->CreateDepthStencilView(depth_, nullptr, dsvHeap_->GetCPUDescriptorHandleForHeapStart());
  }
}

void Swapchain::ReleaseTargets() {
  for (auto& buffer : buffers_) Release(buffer);
  Release(depth_);
}

void Swapchain::WaitIdle() {
  queue_->Signal(fence_, ++fenceValue_);
  if (fence_->GetCompletedValue() < fenceValue_) {
    fence_->SetEventOnCompletion(fenceValue_, fenceEvent_);
    WaitForSingleObject(fenceEvent_, 5000);
  }
}

void Swapchain::Resize(UINT width, UINT height) {
  if (swapchain_ == nullptr || width == 0 || height == 0 || (width == width_ && height == height_)) return;
  WaitIdle();
  ReleaseTargets();
  width_ = width;
  height_ = height;
  swapchain_->ResizeBuffers(kBuffers, width, height, kFormat, 0);
  CreateTargets();
}

ID3D12Resource* Swapchain::NewReadback(UINT64 bytes) {
  D3D12_HEAP_PROPERTIES heap = {};
  heap.Type = D3D12_HEAP_TYPE_READBACK;
  D3D12_RESOURCE_DESC desc = {};
  desc.Dimension = D3D12_RESOURCE_DIMENSION_BUFFER;
  desc.Width = bytes;
  desc.Height = 1;
  desc.DepthOrArraySize = 1;
  desc.MipLevels = 1;
  desc.SampleDesc.Count = 1;
  desc.Layout = D3D12_TEXTURE_LAYOUT_ROW_MAJOR;
  ID3D12Resource* buffer = nullptr;
  if (FAILED(device_->CreateCommittedResource(&heap, D3D12_HEAP_FLAG_NONE, &desc, D3D12_RESOURCE_STATE_COPY_DEST, nullptr,
                                              IID_PPV_ARGS(&buffer)))) {
    return nullptr;
  }
  return buffer;
}

// Copies the back buffer (in `state`) into the readback buffer row by row.
void Swapchain::RecordReadback(ID3D12Resource* source, ID3D12Resource* readback,
                               D3D12_PLACED_SUBRESOURCE_FOOTPRINT& footprint, D3D12_RESOURCE_STATES state) {
  D3D12_RESOURCE_BARRIER toSource = Transition(source, state, D3D12_RESOURCE_STATE_COPY_SOURCE);
  list_->ResourceBarrier(1, &toSource);
  D3D12_TEXTURE_COPY_LOCATION to = {};
  to.pResource = readback;
  to.Type = D3D12_TEXTURE_COPY_TYPE_PLACED_FOOTPRINT;
  to.PlacedFootprint = footprint;
  D3D12_TEXTURE_COPY_LOCATION from = {};
  from.pResource = source;
  from.Type = D3D12_TEXTURE_COPY_TYPE_SUBRESOURCE_INDEX;
  from.SubresourceIndex = 0;
  list_->CopyTextureRegion(&to, 0, 0, 0, &from, nullptr);
  D3D12_RESOURCE_BARRIER back = Transition(source, D3D12_RESOURCE_STATE_COPY_SOURCE, state);
  list_->ResourceBarrier(1, &back);
}

bool Swapchain::RenderAndPresent(unsigned elapsedMs, const std::wstring& framePath) {
  const UINT index = swapchain_->GetCurrentBackBufferIndex();
  allocator_->Reset();
  list_->Reset(allocator_, nullptr);
  D3D12_RESOURCE_BARRIER toTarget = Transition(buffers_[index], D3D12_RESOURCE_STATE_PRESENT,
                                               D3D12_RESOURCE_STATE_RENDER_TARGET);
  list_->ResourceBarrier(1, &toTarget);
  D3D12_CPU_DESCRIPTOR_HANDLE rtv = rtvHeap_->GetCPUDescriptorHandleForHeapStart();
  rtv.ptr += static_cast<SIZE_T>(index) * rtvStride_;
  // A dim landscape green that breathes slowly, so frames are visibly alive in a screenshot
  // series without ever being mistaken for route colours.
  const float pulse = 0.03f * std::sin(static_cast<float>(elapsedMs) * 0.002f);
  float colour[4] = {0.16f + pulse, 0.22f + pulse, 0.14f, 1.0f};
  if (draw_) GameDraw::Background(colour);
  list_->ClearRenderTargetView(rtv, colour, 0, nullptr);
  if (depth_ != nullptr) {
    list_->ClearDepthStencilView(dsvHeap_->GetCPUDescriptorHandleForHeapStart(), D3D12_CLEAR_FLAG_DEPTH, 1.0f, 0, 0,
                                 nullptr);
  }
  if (draw_) {
    list_->OMSetRenderTargets(1, &rtv, FALSE, nullptr);
    draw_->Record(list_, width_, height_);
  }

  ID3D12Resource* readback = nullptr;
  D3D12_PLACED_SUBRESOURCE_FOOTPRINT footprint = {};
  if (!framePath.empty()) {
    // Rows of a copy are aligned to 256 bytes.
    const UINT pitch = (width_ * 4 + D3D12_TEXTURE_DATA_PITCH_ALIGNMENT - 1) & ~(D3D12_TEXTURE_DATA_PITCH_ALIGNMENT - 1);
    footprint.Footprint = {kFormat, width_, height_, 1, pitch};
    readback = NewReadback(static_cast<UINT64>(pitch) * height_);
    if (readback != nullptr) RecordReadback(buffers_[index], readback, footprint);
  }
  D3D12_RESOURCE_BARRIER toPresent = Transition(buffers_[index], D3D12_RESOURCE_STATE_RENDER_TARGET,
                                                D3D12_RESOURCE_STATE_PRESENT);
  list_->ResourceBarrier(1, &toPresent);
  list_->Close();
  ID3D12CommandList* lists[] = {list_};
  queue_->ExecuteCommandLists(1, lists);
  // The copy is complete before the present, which may draw into the same buffer.
  bool saved = framePath.empty();
  if (readback != nullptr) {
    WaitIdle();
    void* data = nullptr;
    const D3D12_RANGE range = {0, static_cast<SIZE_T>(footprint.Footprint.RowPitch) * height_};
    if (SUCCEEDED(readback->Map(0, &range, &data))) {
      saved = SaveRgbaPng(framePath, width_, height_, footprint.Footprint.RowPitch, static_cast<const unsigned char*>(data));
      const D3D12_RANGE nothing = {0, 0};
      readback->Unmap(0, &nothing);
    }
    readback->Release();
  }
  swapchain_->Present(0, 0);
  // One frame in flight keeps the host simple; it runs at ~60 frames a second at most anyway.
  WaitIdle();
  return saved;
}

bool Swapchain::PresentAndSave(unsigned elapsedMs, const std::wstring& path) {
  const UINT index = swapchain_->GetCurrentBackBufferIndex();
  if (!RenderAndPresent(elapsedMs)) return false;
  const UINT pitch = (width_ * 4 + D3D12_TEXTURE_DATA_PITCH_ALIGNMENT - 1) & ~(D3D12_TEXTURE_DATA_PITCH_ALIGNMENT - 1);
  D3D12_PLACED_SUBRESOURCE_FOOTPRINT footprint = {};
  footprint.Footprint = {kFormat, width_, height_, 1, pitch};
  ID3D12Resource* readback = NewReadback(static_cast<UINT64>(pitch) * height_);
  if (readback == nullptr) return false;
  allocator_->Reset();
  list_->Reset(allocator_, nullptr);
  RecordReadback(buffers_[index], readback, footprint, D3D12_RESOURCE_STATE_PRESENT);
  list_->Close();
  ID3D12CommandList* lists[] = {list_};
  queue_->ExecuteCommandLists(1, lists);
  WaitIdle();
  bool saved = false;
  void* data = nullptr;
  const D3D12_RANGE range = {0, static_cast<SIZE_T>(pitch) * height_};
  if (SUCCEEDED(readback->Map(0, &range, &data))) {
    saved = SaveRgbaPng(path, width_, height_, pitch, static_cast<const unsigned char*>(data));
    const D3D12_RANGE nothing = {0, 0};
    readback->Unmap(0, &nothing);
  }
  readback->Release();
  return saved;
}

}  // namespace simhost
