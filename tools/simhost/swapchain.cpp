#include "swapchain.hpp"

#include <algorithm>
#include <utility>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "game_state.hpp"
#include "host.hpp"
#include "testkit/d3d12_kit_win.hpp"

namespace simhost {

PresentTally& Presents() {
  static PresentTally tally;
  return tally;
}

namespace {

template <typename T> void Release(T*& object) {
  if (object != nullptr) object->Release();
  object = nullptr;
}

UINT BytesPerPixel(DXGI_FORMAT format) { return format == DXGI_FORMAT_R16G16B16A16_FLOAT ? 8 : 4; }

float HalfToFloat(std::uint16_t h) {
  const int exponent = h >> 10 & 0x1F, mantissa = h & 0x3FF;
  const float sign = (h & 0x8000) != 0 ? -1.0f : 1.0f;
  if (exponent == 0) return sign * std::ldexp(static_cast<float>(mantissa), -24);
  if (exponent == 31) return mantissa != 0 ? NAN : sign * INFINITY;
  return sign * std::ldexp(static_cast<float>(mantissa + 1024), exponent - 25);
}

// One pixel of a back buffer in its format, as four floats.
void DecodePixel(DXGI_FORMAT format, const unsigned char* p, float* out) {
  if (format == DXGI_FORMAT_R16G16B16A16_FLOAT) {
    for (int c = 0; c < 4; ++c) {
      std::uint16_t h;
      std::memcpy(&h, p + 2 * c, 2);
      out[c] = HalfToFloat(h);
    }
  } else if (format == DXGI_FORMAT_R10G10B10A2_UNORM) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    for (int c = 0; c < 3; ++c) out[c] = static_cast<float>(v >> (10 * c) & 0x3FF) / 1023.0f;
    out[3] = static_cast<float>(v >> 30) / 3.0f;
  } else {
    for (int c = 0; c < 4; ++c) out[c] = static_cast<float>(p[c]) / 255.0f;
  }
}

}  // namespace

bool ParseSwapchainFormat(const std::string& name, DXGI_FORMAT& format) {
  if (name == "rgba8")
    format = DXGI_FORMAT_R8G8B8A8_UNORM;
  else if (name == "rgba16f")
    format = DXGI_FORMAT_R16G16B16A16_FLOAT;
  else if (name == "rgb10a2")
    format = DXGI_FORMAT_R10G10B10A2_UNORM;
  else
    return false;
  return true;
}

bool Picture::SavePng(const std::wstring& path) const {
  if (width == 0 || height == 0 || rgba.size() != static_cast<std::size_t>(width) * height * 4) return false;
  std::vector<unsigned char> bytes(rgba.size());
  for (std::size_t i = 0; i < rgba.size(); ++i) {
    const float v = std::isfinite(rgba[i]) ? std::clamp(rgba[i], 0.0f, 1.0f) : 0.0f;
    bytes[i] = static_cast<unsigned char>(std::lround(v * 255.0f));
  }
  return SaveRgbaPng(path, width, height, width * 4, bytes.data());
}

Swapchain::~Swapchain() {
  if (queue_ != nullptr && fence_ != nullptr) WaitIdle();
  draw_.reset();
  world_.reset();
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

bool Swapchain::Create(HWND window, SwapchainRoute route, DXGI_FORMAT format) {
  format_ = format;
  RECT client;
  GetClientRect(window, &client);
  width_ = static_cast<UINT>(client.right - client.left);
  height_ = static_cast<UINT>(client.bottom - client.top);

  HRESULT hr = D3D12CreateDevice(nullptr, D3D_FEATURE_LEVEL_11_0, IID_PPV_ARGS(&device_));
  if (FAILED(hr)) {
    Say("simhost: D3D12CreateDevice failed (0x%08lx)", hr);
    return false;
  }

  D3D12_COMMAND_QUEUE_DESC queueDesc = {};
  queueDesc.Type = D3D12_COMMAND_LIST_TYPE_DIRECT;
  hr = device_->CreateCommandQueue(&queueDesc, IID_PPV_ARGS(&queue_));
  if (FAILED(hr)) {
    Say("simhost: CreateCommandQueue failed (0x%08lx)", hr);
    return false;
  }

  IDXGIFactory2* factory = nullptr;
  if (route == SwapchainRoute::Streamline) {
    using CreateFactory2Fn = HRESULT(WINAPI*)(UINT, REFIID, void**);
    const auto create = reinterpret_cast<CreateFactory2Fn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"sl.interposer.dll"), "CreateDXGIFactory2")));
    if (create == nullptr) {
      Say("simhost: sl.interposer.dll is not loaded");
      return false;
    }
    hr = create(0, IID_PPV_ARGS(&factory));
  } else {
    hr = CreateDXGIFactory2(0, IID_PPV_ARGS(&factory));
  }
  if (FAILED(hr)) {
    Say("simhost: CreateDXGIFactory2 failed (0x%08lx)", hr);
    return false;
  }
  DXGI_SWAP_CHAIN_DESC1 desc = testkit::FlipSwapChainDesc(width_, height_, format_, kBuffers);
  IDXGISwapChain1* swapchain1 = nullptr;
  if (route == SwapchainRoute::FidelityFx) {
    hr = CreateThroughFidelityFx(factory, queue_, window, &desc, &swapchain1) ? S_OK : E_FAIL;
  } else {
    hr = factory->CreateSwapChainForHwnd(queue_, window, &desc, nullptr, nullptr, &swapchain1);
  }
  factory->Release();
  if (FAILED(hr)) {
    Say("simhost: CreateSwapChainForHwnd failed (0x%08lx)", hr);
    return false;
  }
  hr = swapchain1->QueryInterface(IID_PPV_ARGS(&swapchain_));
  swapchain1->Release();
  if (FAILED(hr)) {
    Say("simhost: IDXGISwapChain3 not available (0x%08lx)", hr);
    return false;
  }

  if (FAILED(testkit::CreateDescriptorHeap(device_, D3D12_DESCRIPTOR_HEAP_TYPE_RTV, kBuffers, &rtvHeap_)) ||
      FAILED(testkit::CreateDescriptorHeap(device_, D3D12_DESCRIPTOR_HEAP_TYPE_DSV, 1, &dsvHeap_))) {
    return false;
  }
  rtvStride_ = device_->GetDescriptorHandleIncrementSize(D3D12_DESCRIPTOR_HEAP_TYPE_RTV);

  if (FAILED(device_->CreateCommandAllocator(D3D12_COMMAND_LIST_TYPE_DIRECT, IID_PPV_ARGS(&allocator_)))) return false;
  if (FAILED(device_->CreateCommandList(0, D3D12_COMMAND_LIST_TYPE_DIRECT, allocator_, nullptr, IID_PPV_ARGS(&list_))))
    return false;
  list_->Close();
  if (FAILED(device_->CreateFence(0, D3D12_FENCE_FLAG_NONE, IID_PPV_ARGS(&fence_)))) return false;
  fenceEvent_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  CreateTargets();
  world_ = std::make_unique<WorldView>();
  if (!world_->Init(device_, format_)) world_.reset();
  draw_ = std::make_unique<GameDraw>();
  draw_->Init(device_, kBuffers, format_);
  return true;
}

void Swapchain::CreateTargets() {
  D3D12_CPU_DESCRIPTOR_HANDLE rtv = rtvHeap_->GetCPUDescriptorHandleForHeapStart();
  for (UINT i = 0; i < kBuffers; ++i) {
    swapchain_->GetBuffer(i, IID_PPV_ARGS(&buffers_[i]));
    device_->CreateRenderTargetView(buffers_[i], nullptr, rtv);
    rtv.ptr += rtvStride_;
  }
  CreateDepth(depth_);
  if (pingPong_) CreateDepth(spareDepth_);
  UseDepth();
}

// The depth buffer of the world's drawing, typeless as a game's is so that it can also be read as
// a texture; the library's occlusion reads it. Reversed depth: cleared to 0, the far distance.
void Swapchain::CreateDepth(ID3D12Resource*& depth) {
  const D3D12_RESOURCE_DESC desc =
      testkit::TextureDesc(width_, height_, DXGI_FORMAT_R32_TYPELESS, D3D12_RESOURCE_FLAG_ALLOW_DEPTH_STENCIL);
  D3D12_CLEAR_VALUE clear = {};
  clear.Format = DXGI_FORMAT_D32_FLOAT;
  clear.DepthStencil.Depth = 0.0f;
  if (FAILED(testkit::CreateCommitted(device_, D3D12_HEAP_TYPE_DEFAULT, desc, D3D12_RESOURCE_STATE_DEPTH_WRITE, &depth,
                                      &clear))) {
    depth = nullptr;
  }
}

// The one depth-stencil descriptor names the buffer this frame draws with; it is read when a list
// sets it, so a frame already recorded keeps its own.
void Swapchain::UseDepth() {
  if (depth_ == nullptr) return;
  D3D12_DEPTH_STENCIL_VIEW_DESC view = {};
  view.Format = DXGI_FORMAT_D32_FLOAT;
  view.ViewDimension = D3D12_DSV_DIMENSION_TEXTURE2D;
  device_->CreateDepthStencilView(depth_, &view, dsvHeap_->GetCPUDescriptorHandleForHeapStart());
}

void Swapchain::SetDepthPingPong(bool on) {
  if (on == pingPong_ || device_ == nullptr) return;
  WaitIdle();
  pingPong_ = on;
  if (on) {
    CreateDepth(spareDepth_);
  } else {
    Release(spareDepth_);
  }
}

void Swapchain::ReplaceDepth() {
  if (device_ == nullptr) return;
  WaitIdle();
  Release(depth_);
  CreateDepth(depth_);
  UseDepth();
}

void Swapchain::ReleaseTargets() {
  for (auto& buffer : buffers_) Release(buffer);
  Release(depth_);
  Release(spareDepth_);
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
  swapchain_->ResizeBuffers(kBuffers, width, height, format_, 0);
  CreateTargets();
}

ID3D12Resource* Swapchain::NewReadback(UINT64 bytes) {
  ID3D12Resource* buffer = nullptr;
  if (FAILED(testkit::CreateCommitted(device_, D3D12_HEAP_TYPE_READBACK, testkit::BufferDesc(bytes),
                                      D3D12_RESOURCE_STATE_COPY_DEST, &buffer))) {
    return nullptr;
  }
  return buffer;
}

bool Swapchain::ReadBack(ID3D12Resource* buffer, Picture& picture) {
  // Rows of a copy are aligned to 256 bytes.
  const UINT bytes = BytesPerPixel(format_);
  const UINT pitch =
      (width_ * bytes + D3D12_TEXTURE_DATA_PITCH_ALIGNMENT - 1) & ~(D3D12_TEXTURE_DATA_PITCH_ALIGNMENT - 1);
  ID3D12Resource* readback = NewReadback(static_cast<UINT64>(pitch) * height_);
  if (readback == nullptr) return false;
  WaitIdle();
  allocator_->Reset();
  list_->Reset(allocator_, nullptr);
  D3D12_RESOURCE_BARRIER toSource =
      testkit::Transition(buffer, D3D12_RESOURCE_STATE_PRESENT, D3D12_RESOURCE_STATE_COPY_SOURCE);
  list_->ResourceBarrier(1, &toSource);
  D3D12_TEXTURE_COPY_LOCATION to = {};
  to.pResource = readback;
  to.Type = D3D12_TEXTURE_COPY_TYPE_PLACED_FOOTPRINT;
  to.PlacedFootprint.Footprint = {format_, width_, height_, 1, pitch};
  D3D12_TEXTURE_COPY_LOCATION from = {};
  from.pResource = buffer;
  from.Type = D3D12_TEXTURE_COPY_TYPE_SUBRESOURCE_INDEX;
  list_->CopyTextureRegion(&to, 0, 0, 0, &from, nullptr);
  D3D12_RESOURCE_BARRIER back =
      testkit::Transition(buffer, D3D12_RESOURCE_STATE_COPY_SOURCE, D3D12_RESOURCE_STATE_PRESENT);
  list_->ResourceBarrier(1, &back);
  list_->Close();
  ID3D12CommandList* lists[] = {list_};
  queue_->ExecuteCommandLists(1, lists);
  WaitIdle();
  void* data = nullptr;
  const D3D12_RANGE range = {0, static_cast<SIZE_T>(pitch) * height_};
  const bool mapped = SUCCEEDED(readback->Map(0, &range, &data));
  if (mapped) {
    picture.width = width_;
    picture.height = height_;
    picture.rgba.resize(static_cast<std::size_t>(width_) * height_ * 4);
    for (UINT y = 0; y < height_; ++y) {
      const unsigned char* row = static_cast<const unsigned char*>(data) + static_cast<std::size_t>(y) * pitch;
      float* out = picture.rgba.data() + static_cast<std::size_t>(y) * width_ * 4;
      for (UINT x = 0; x < width_; ++x) DecodePixel(format_, row + x * bytes, out + 4 * x);
    }
    const D3D12_RANGE nothing = {0, 0};
    readback->Unmap(0, &nothing);
  }
  readback->Release();
  return mapped;
}

bool Swapchain::RenderAndPresent(const Host& host, unsigned elapsedMs, const std::wstring& framePath,
                                 Picture* presented) {
  LARGE_INTEGER frameStart, presentStart, presentEnd;
  QueryPerformanceCounter(&frameStart);
  const UINT index = swapchain_->GetCurrentBackBufferIndex();
  allocator_->Reset();
  list_->Reset(allocator_, nullptr);
  D3D12_RESOURCE_BARRIER toTarget =
      testkit::Transition(buffers_[index], D3D12_RESOURCE_STATE_PRESENT, D3D12_RESOURCE_STATE_RENDER_TARGET);
  list_->ResourceBarrier(1, &toTarget);
  D3D12_CPU_DESCRIPTOR_HANDLE rtv = rtvHeap_->GetCPUDescriptorHandleForHeapStart();
  rtv.ptr += static_cast<SIZE_T>(index) * rtvStride_;
  const D3D12_CPU_DESCRIPTOR_HANDLE dsv = dsvHeap_->GetCPUDescriptorHandleForHeapStart();
  // The world is the game's scene while the world map is closed; without it, a dim landscape green
  // that breathes slowly, so frames are visibly alive in a screenshot series without ever being
  // mistaken for route colours.
  const GameView view = ReadGameView(host.game);
  const bool world = world_ && depth_ != nullptr && host.world.shown && !(view.valid && view.worldMapOpen);
  const float pulse = 0.03f * std::sin(static_cast<float>(elapsedMs) * 0.002f);
  float colour[4] = {0.16f + pulse, 0.22f + pulse, 0.14f, 1.0f};
  if (world) WorldView::Sky(host.game, colour);
  if (draw_) GameDraw::Background(view, colour);
  list_->ClearRenderTargetView(rtv, colour, 0, nullptr);
  if (depth_ != nullptr) list_->ClearDepthStencilView(dsv, D3D12_CLEAR_FLAG_DEPTH, 0.0f, 0, 0, nullptr);
  if (world) {
    list_->OMSetRenderTargets(1, &rtv, FALSE, &dsv);
    world_->Record(host, list_, width_, height_);
  }
  if (draw_) {
    list_->OMSetRenderTargets(1, &rtv, FALSE, nullptr);
    draw_->Record(list_, width_, height_, view);
  }
  D3D12_RESOURCE_BARRIER toPresent =
      testkit::Transition(buffers_[index], D3D12_RESOURCE_STATE_RENDER_TARGET, D3D12_RESOURCE_STATE_PRESENT);
  list_->ResourceBarrier(1, &toPresent);
  list_->Close();
  ID3D12CommandList* lists[] = {list_};
  queue_->ExecuteCommandLists(1, lists);
  // The game's own frame is read before the present, which may draw into the same buffer.
  bool ok = true;
  if (!framePath.empty()) {
    Picture frame;
    ok = ReadBack(buffers_[index], frame) && frame.SavePng(framePath);
  }
  QueryPerformanceCounter(&presentStart);
  swapchain_->Present(0, 0);
  QueryPerformanceCounter(&presentEnd);
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  const double usPerTick = 1e6 / static_cast<double>(frequency.QuadPart);
  lastPresentUs_ = static_cast<double>(presentEnd.QuadPart - presentStart.QuadPart) * usPerTick;
  ++Presents().presents;
  Presents().longestUs = std::max(Presents().longestUs, lastPresentUs_);
  lastOwnWorkUs_ = static_cast<double>(presentStart.QuadPart - frameStart.QuadPart) * usPerTick;
  // The buffer just presented, as presented: what a present hook drew into it is on the same queue
  // before this copy.
  if (presented != nullptr) ok = ReadBack(buffers_[index], *presented) && ok;
  // One frame in flight keeps the host simple; it runs at ~60 frames a second at most anyway.
  WaitIdle();
  // The next frame draws with the other depth buffer, which its tags then name.
  if (pingPong_ && spareDepth_ != nullptr) {
    std::swap(depth_, spareDepth_);
    UseDepth();
  }
  return ok;
}

}  // namespace simhost
