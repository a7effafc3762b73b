// A stand-in swap chain over a real Direct3D 12 device: the methods the in-frame renderer calls,
// with what DXGI never reports on its own on request (a back-buffer index past the buffer count, a
// failing description); the rest answer E_NOTIMPL. Shared by the Windows-side tests and the set-up
// benchmark.
#pragma once

#include <d3d12.h>
#include <dxgi1_4.h>
#include <windows.h>

#include "hooks/hook_state.hpp"

namespace pathlight {

inline constexpr UINT kFakeBuffers = 2, kFakeSide = 64;

class FakeSwapChain final : public IDXGISwapChain3 {
 public:
  HRESULT descResult = S_OK, bufferResult = S_OK;
  bool offersSwapChain3 = true;
  UINT index = 0;
  UINT reportedWidth = kFakeSide, reportedBuffers = kFakeBuffers;  // what the description says
  int descCalls = 0, bufferCalls = 0;

  FakeSwapChain(ID3D12Device* device, ID3D12CommandQueue* queue) : queue_(queue) {
    D3D12_HEAP_PROPERTIES heap = {};
    heap.Type = D3D12_HEAP_TYPE_DEFAULT;
    D3D12_RESOURCE_DESC desc = {};
    desc.Dimension = D3D12_RESOURCE_DIMENSION_TEXTURE2D;
    desc.Width = desc.Height = kFakeSide;
    desc.DepthOrArraySize = desc.MipLevels = 1;
    desc.Format = DXGI_FORMAT_R8G8B8A8_UNORM;
    desc.SampleDesc.Count = 1;
    desc.Flags = D3D12_RESOURCE_FLAG_ALLOW_RENDER_TARGET;
    for (ID3D12Resource*& buffer : buffers_) {
      device->CreateCommittedResource(&heap, D3D12_HEAP_FLAG_NONE, &desc, D3D12_RESOURCE_STATE_PRESENT, nullptr,
                                      __uuidof(ID3D12Resource), reinterpret_cast<void**>(&buffer));
    }
    SwapChainQueues().Record(this, queue);
  }
  ~FakeSwapChain() {
    for (ID3D12Resource* buffer : buffers_)
      if (buffer != nullptr) buffer->Release();
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) override {
    *out = nullptr;
    if (id == __uuidof(IDXGISwapChain3) && !offersSwapChain3) return E_NOINTERFACE;
    if (id != __uuidof(IUnknown) && id != __uuidof(IDXGISwapChain) && id != __uuidof(IDXGISwapChain1) &&
        id != __uuidof(IDXGISwapChain3)) {
      return E_NOINTERFACE;
    }
    *out = this;
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetDesc(DXGI_SWAP_CHAIN_DESC* desc) override {
    ++descCalls;
    if (FAILED(descResult)) return descResult;
    *desc = {};
    desc->BufferDesc.Width = reportedWidth;
    desc->BufferDesc.Height = kFakeSide;
    desc->BufferDesc.Format = DXGI_FORMAT_R8G8B8A8_UNORM;
    desc->SampleDesc.Count = 1;
    desc->BufferCount = reportedBuffers;
    desc->SwapEffect = DXGI_SWAP_EFFECT_FLIP_DISCARD;
    return S_OK;
  }
  UINT STDMETHODCALLTYPE GetCurrentBackBufferIndex() override { return index; }
  HRESULT STDMETHODCALLTYPE GetBuffer(UINT i, REFIID id, void** out) override {
    ++bufferCalls;
    *out = nullptr;
    if (FAILED(bufferResult)) return bufferResult;
    return i < kFakeBuffers ? buffers_[i]->QueryInterface(id, out) : DXGI_ERROR_INVALID_CALL;
  }
  HRESULT STDMETHODCALLTYPE GetDevice(REFIID id, void** out) override { return queue_->QueryInterface(id, out); }

  HRESULT STDMETHODCALLTYPE SetPrivateData(REFGUID, UINT, const void*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetPrivateDataInterface(REFGUID, const IUnknown*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetPrivateData(REFGUID, UINT*, void*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetParent(REFIID, void**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Present(UINT, UINT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetFullscreenState(BOOL, IDXGIOutput*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetFullscreenState(BOOL*, IDXGIOutput**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ResizeBuffers(UINT, UINT, UINT, DXGI_FORMAT, UINT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ResizeTarget(const DXGI_MODE_DESC*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetContainingOutput(IDXGIOutput**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetFrameStatistics(DXGI_FRAME_STATISTICS*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetLastPresentCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetDesc1(DXGI_SWAP_CHAIN_DESC1*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetFullscreenDesc(DXGI_SWAP_CHAIN_FULLSCREEN_DESC*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetHwnd(HWND*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetCoreWindow(REFIID, void**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Present1(UINT, UINT, const DXGI_PRESENT_PARAMETERS*) override { return E_NOTIMPL; }
  BOOL STDMETHODCALLTYPE IsTemporaryMonoSupported() override { return FALSE; }
  HRESULT STDMETHODCALLTYPE GetRestrictToOutput(IDXGIOutput**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetBackgroundColor(const DXGI_RGBA*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetBackgroundColor(DXGI_RGBA*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetRotation(DXGI_MODE_ROTATION) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetRotation(DXGI_MODE_ROTATION*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetSourceSize(UINT, UINT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetSourceSize(UINT*, UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetMaximumFrameLatency(UINT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMaximumFrameLatency(UINT*) override { return E_NOTIMPL; }
  HANDLE STDMETHODCALLTYPE GetFrameLatencyWaitableObject() override { return nullptr; }
  HRESULT STDMETHODCALLTYPE SetMatrixTransform(const DXGI_MATRIX_3X2_F*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMatrixTransform(DXGI_MATRIX_3X2_F*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CheckColorSpaceSupport(DXGI_COLOR_SPACE_TYPE, UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetColorSpace1(DXGI_COLOR_SPACE_TYPE) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ResizeBuffers1(UINT, UINT, UINT, DXGI_FORMAT, UINT, const UINT*,
                                           IUnknown* const*) override {
    return E_NOTIMPL;
  }

 private:
  ID3D12CommandQueue* queue_;
  ID3D12Resource* buffers_[kFakeBuffers] = {};
};

}  // namespace pathlight
