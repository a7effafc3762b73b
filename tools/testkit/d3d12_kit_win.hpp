// Direct3D 12 and DXGI set-up as the Windows-side tests, the benchmarks and the simulated game
// make it: descriptions of the usual resources, pipelines and swap chains, and the few steps that
// each of them would otherwise write out again. Failures are returned, never reported.
#pragma once

#include <d3d12.h>
#include <dxgi1_2.h>
#include <windows.h>

namespace testkit {

// A 2D texture of one mip level, one layer and one sample.
[[nodiscard]] D3D12_RESOURCE_DESC TextureDesc(UINT64 width, UINT height, DXGI_FORMAT format,
                                              D3D12_RESOURCE_FLAGS flags = D3D12_RESOURCE_FLAG_NONE);
// A buffer of `bytes`.
[[nodiscard]] D3D12_RESOURCE_DESC BufferDesc(UINT64 bytes);

// A committed resource in a heap of this type, in `state` (with `clear`, its optimised clear
// value, for targets and depth buffers).
HRESULT CreateCommitted(ID3D12Device* device, D3D12_HEAP_TYPE heap, const D3D12_RESOURCE_DESC& desc,
                        D3D12_RESOURCE_STATES state, ID3D12Resource** resource,
                        const D3D12_CLEAR_VALUE* clear = nullptr);

// A descriptor heap of `count` descriptors.
HRESULT CreateDescriptorHeap(ID3D12Device* device, D3D12_DESCRIPTOR_HEAP_TYPE type, UINT count,
                             ID3D12DescriptorHeap** heap,
                             D3D12_DESCRIPTOR_HEAP_FLAGS flags = D3D12_DESCRIPTOR_HEAP_FLAG_NONE);

// Every subresource of `resource` from one state to another.
[[nodiscard]] D3D12_RESOURCE_BARRIER Transition(ID3D12Resource* resource, D3D12_RESOURCE_STATES before,
                                                D3D12_RESOURCE_STATES after);

// A pipeline of these shaders drawing solid triangles, both faces, depth-clipped, without
// blending, into one render target of `format`; the input layout and the depth test are the
// caller's to add.
[[nodiscard]] D3D12_GRAPHICS_PIPELINE_STATE_DESC TrianglePipelineDesc(ID3D12RootSignature* root, ID3DBlob* vs,
                                                                      ID3DBlob* ps, DXGI_FORMAT format);

// A flip-model swap chain of `buffers` render-target buffers, one sample each.
[[nodiscard]] DXGI_SWAP_CHAIN_DESC1 FlipSwapChainDesc(UINT width, UINT height, DXGI_FORMAT format, UINT buffers);
// A windowed swap chain of the older discard model with one RGBA8 buffer on `window`, as a
// Direct3D 11 program makes it.
[[nodiscard]] DXGI_SWAP_CHAIN_DESC WindowedSwapChainDesc(HWND window, UINT width, UINT height);

}  // namespace testkit
