#include "testkit/d3d12_kit_win.hpp"

namespace testkit {

// The descriptions are written whole, their fields in the order the headers declare them.

D3D12_RESOURCE_DESC TextureDesc(UINT64 width, UINT height, DXGI_FORMAT format, D3D12_RESOURCE_FLAGS flags) {
  return {D3D12_RESOURCE_DIMENSION_TEXTURE2D,
          0,  // the default alignment
          width,
          height,
          1,  // layers
          1,  // mip levels
          format,
          {1, 0},  // samples
          D3D12_TEXTURE_LAYOUT_UNKNOWN,
          flags};
}

D3D12_RESOURCE_DESC BufferDesc(UINT64 bytes) {
  return {D3D12_RESOURCE_DIMENSION_BUFFER,
          0,  // the default alignment
          bytes,
          1,  // height
          1,  // layers
          1,  // mip levels
          DXGI_FORMAT_UNKNOWN,
          {1, 0},  // samples
          D3D12_TEXTURE_LAYOUT_ROW_MAJOR,
          D3D12_RESOURCE_FLAG_NONE};
}

HRESULT CreateCommitted(ID3D12Device* device, D3D12_HEAP_TYPE heap, const D3D12_RESOURCE_DESC& desc,
                        D3D12_RESOURCE_STATES state, ID3D12Resource** resource, const D3D12_CLEAR_VALUE* clear) {
  const D3D12_HEAP_PROPERTIES properties = {heap, D3D12_CPU_PAGE_PROPERTY_UNKNOWN, D3D12_MEMORY_POOL_UNKNOWN, 0, 0};
  return device->CreateCommittedResource(&properties, D3D12_HEAP_FLAG_NONE, &desc, state, clear,
                                         IID_PPV_ARGS(resource));
}

HRESULT CreateDescriptorHeap(ID3D12Device* device, D3D12_DESCRIPTOR_HEAP_TYPE type, UINT count,
                             ID3D12DescriptorHeap** heap, D3D12_DESCRIPTOR_HEAP_FLAGS flags) {
  const D3D12_DESCRIPTOR_HEAP_DESC desc = {type, count, flags, 0};
  return device->CreateDescriptorHeap(&desc, IID_PPV_ARGS(heap));
}

D3D12_RESOURCE_BARRIER Transition(ID3D12Resource* resource, D3D12_RESOURCE_STATES before, D3D12_RESOURCE_STATES after) {
  D3D12_RESOURCE_BARRIER barrier = {};
  barrier.Type = D3D12_RESOURCE_BARRIER_TYPE_TRANSITION;
  barrier.Transition = {resource, D3D12_RESOURCE_BARRIER_ALL_SUBRESOURCES, before, after};
  return barrier;
}

D3D12_GRAPHICS_PIPELINE_STATE_DESC TrianglePipelineDesc(ID3D12RootSignature* root, ID3DBlob* vs, ID3DBlob* ps,
                                                        DXGI_FORMAT format) {
  D3D12_GRAPHICS_PIPELINE_STATE_DESC desc = {};
  desc.pRootSignature = root;
  desc.VS = {vs->GetBufferPointer(), vs->GetBufferSize()};
  desc.PS = {ps->GetBufferPointer(), ps->GetBufferSize()};
  desc.BlendState.RenderTarget[0].RenderTargetWriteMask = D3D12_COLOR_WRITE_ENABLE_ALL;
  desc.SampleMask = UINT_MAX;
  desc.RasterizerState = {D3D12_FILL_MODE_SOLID,
                          D3D12_CULL_MODE_NONE,
                          FALSE,  // clockwise triangles face front
                          0,      // no depth bias
                          0.0f,
                          0.0f,
                          TRUE,   // depth-clipped
                          FALSE,  // no multisampling, no line antialiasing, no forced samples
                          FALSE,
                          0,
                          D3D12_CONSERVATIVE_RASTERIZATION_MODE_OFF};
  desc.PrimitiveTopologyType = D3D12_PRIMITIVE_TOPOLOGY_TYPE_TRIANGLE;
  desc.NumRenderTargets = 1;
  desc.RTVFormats[0] = format;
  desc.SampleDesc = {1, 0};
  return desc;
}

DXGI_SWAP_CHAIN_DESC1 FlipSwapChainDesc(UINT width, UINT height, DXGI_FORMAT format, UINT buffers) {
  return {width,
          height,
          format,
          FALSE,   // not stereo
          {1, 0},  // samples
          DXGI_USAGE_RENDER_TARGET_OUTPUT,
          buffers,
          DXGI_SCALING_STRETCH,
          DXGI_SWAP_EFFECT_FLIP_DISCARD,
          DXGI_ALPHA_MODE_UNSPECIFIED,
          0};  // flags
}

DXGI_SWAP_CHAIN_DESC WindowedSwapChainDesc(HWND window, UINT width, UINT height) {
  const DXGI_MODE_DESC mode = {width,
                               height,
                               {0, 0},  // any refresh rate
                               DXGI_FORMAT_R8G8B8A8_UNORM,
                               DXGI_MODE_SCANLINE_ORDER_UNSPECIFIED,
                               DXGI_MODE_SCALING_UNSPECIFIED};
  return {mode,
          {1, 0},  // samples
          DXGI_USAGE_RENDER_TARGET_OUTPUT,
          1,  // buffers
          window,
          TRUE,  // windowed
          DXGI_SWAP_EFFECT_DISCARD,
          0};  // flags
}

}  // namespace testkit
