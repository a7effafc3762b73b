// The Windows runtime of the tests must draw what Dear ImGui draws: a texture sampled through a
// descriptor table in a shader-visible heap, with shaders compiled at run time by D3DCompile
// (including smoothstep, a user function and a loop with break). Older Wines drew nothing here.
#include <d3d12.h>
#include <d3dcompiler.h>
#include <dxgi1_4.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string>

#include "testkit/d3d12_kit_win.hpp"

namespace {

using testkit::CreateCommitted;
using testkit::Transition;

template <typename T> struct Com {
  T* p = nullptr;
  ~Com() {
    if (p != nullptr) p->Release();
  }
  T* operator->() const { return p; }
  T** operator&() { return &p; }
};

constexpr char kShaders[] = R"(
Texture2D image : register(t0);
SamplerState pointSampler : register(s0);
struct Varyings { float4 pos : SV_POSITION; float2 uv : TEXCOORD0; };
Varyings VSMain(uint id : SV_VertexID) {
  Varyings v;
  v.uv = float2((id << 1) & 2, id & 2);
  v.pos = float4(v.uv * float2(2, -2) + float2(-1, 1), 0, 1);
  return v;
}
float Keep(float x) {
  float kept = x;
  for (int i = 0; i < 4; ++i) { if (i == 2) break; kept = kept > 2.0 ? 0.0 : kept; }
  return kept;
}
float4 PSMain(Varyings v) : SV_TARGET {
  float4 c = image.Sample(pointSampler, v.uv);
  // smoothstep(0,1,x) leaves 0 and 1 alone: the texels come through unchanged.
  return float4(smoothstep(0.0, 1.0, c.r), Keep(c.g), step(0.5, c.b), c.a);
}
)";

Com<ID3DBlob> Compile(const char* entry, const char* target) {
  Com<ID3DBlob> code, errors;
  const HRESULT hr =
      D3DCompile(kShaders, sizeof kShaders - 1, "runtime_test", nullptr, nullptr, entry, target, 0, 0, &code, &errors);
  EXPECT_TRUE(SUCCEEDED(hr)) << entry << ": "
                             << (errors.p ? static_cast<const char*>(errors->GetBufferPointer()) : "no message");
  Com<ID3DBlob> out;
  out.p = code.p;
  code.p = nullptr;
  return out;
}

void WaitFor(ID3D12CommandQueue* queue, ID3D12Device* device) {
  Com<ID3D12Fence> fence;
  ASSERT_TRUE(SUCCEEDED(device->CreateFence(0, D3D12_FENCE_FLAG_NONE, IID_PPV_ARGS(&fence))));
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  queue->Signal(fence.p, 1);
  fence->SetEventOnCompletion(1, event);
  EXPECT_EQ(WaitForSingleObject(event, 10000), WAIT_OBJECT_0);
  CloseHandle(event);
}

// An RGBA8 texture.
D3D12_RESOURCE_DESC TextureDesc(UINT width, UINT height, D3D12_RESOURCE_FLAGS flags) {
  return testkit::TextureDesc(width, height, DXGI_FORMAT_R8G8B8A8_UNORM, flags);
}

TEST(WindowsRuntime, D3D12SamplesATextureThroughADescriptorTable) {
  constexpr UINT kTarget = 8;  // 8x8 render target showing a 2x2 texture, 4x4 pixels a texel
  // Red, green, blue, white texels (RGBA bytes); alpha 255.
  const std::array<std::uint32_t, 4> texels = {0xff0000ffu, 0xff00ff00u, 0xffff0000u, 0xffffffffu};

  Com<ID3D12Device> device;
  ASSERT_TRUE(SUCCEEDED(D3D12CreateDevice(nullptr, D3D_FEATURE_LEVEL_11_0, IID_PPV_ARGS(&device))));
  D3D12_COMMAND_QUEUE_DESC queueDesc = {};
  queueDesc.Type = D3D12_COMMAND_LIST_TYPE_DIRECT;
  Com<ID3D12CommandQueue> queue;
  ASSERT_TRUE(SUCCEEDED(device->CreateCommandQueue(&queueDesc, IID_PPV_ARGS(&queue))));

  // The texture, filled from an upload buffer with a 256-byte row pitch.
  Com<ID3D12Resource> texture, upload, target, readback;
  ASSERT_TRUE(SUCCEEDED(CreateCommitted(device.p, D3D12_HEAP_TYPE_DEFAULT, TextureDesc(2, 2, D3D12_RESOURCE_FLAG_NONE),
                                        D3D12_RESOURCE_STATE_COPY_DEST, &texture)));
  ASSERT_TRUE(SUCCEEDED(CreateCommitted(device.p, D3D12_HEAP_TYPE_UPLOAD,
                                        testkit::BufferDesc(2 * D3D12_TEXTURE_DATA_PITCH_ALIGNMENT),
                                        D3D12_RESOURCE_STATE_GENERIC_READ, &upload)));
  {
    std::uint8_t* bytes = nullptr;
    ASSERT_TRUE(SUCCEEDED(upload->Map(0, nullptr, reinterpret_cast<void**>(&bytes))));
    std::memcpy(bytes, &texels[0], 8);
    std::memcpy(bytes + D3D12_TEXTURE_DATA_PITCH_ALIGNMENT, &texels[2], 8);
    upload->Unmap(0, nullptr);
  }
  ASSERT_TRUE(SUCCEEDED(CreateCommitted(device.p, D3D12_HEAP_TYPE_DEFAULT,
                                        TextureDesc(kTarget, kTarget, D3D12_RESOURCE_FLAG_ALLOW_RENDER_TARGET),
                                        D3D12_RESOURCE_STATE_RENDER_TARGET, &target)));
  ASSERT_TRUE(SUCCEEDED(CreateCommitted(device.p, D3D12_HEAP_TYPE_READBACK,
                                        testkit::BufferDesc(kTarget * D3D12_TEXTURE_DATA_PITCH_ALIGNMENT),
                                        D3D12_RESOURCE_STATE_COPY_DEST, &readback)));

  // The shader resource view lives in a shader-visible heap and reaches the shader through a
  // descriptor table, as Dear ImGui's DX12 backend binds its font texture.
  Com<ID3D12DescriptorHeap> srvHeap, rtvHeap;
  ASSERT_TRUE(SUCCEEDED(testkit::CreateDescriptorHeap(device.p, D3D12_DESCRIPTOR_HEAP_TYPE_CBV_SRV_UAV, 4, &srvHeap,
                                                      D3D12_DESCRIPTOR_HEAP_FLAG_SHADER_VISIBLE)));
  // Put the view in the second slot, so a table that ignored its base offset would read garbage.
  const UINT srvStride = device->GetDescriptorHandleIncrementSize(D3D12_DESCRIPTOR_HEAP_TYPE_CBV_SRV_UAV);
  D3D12_CPU_DESCRIPTOR_HANDLE srvCpu = srvHeap->GetCPUDescriptorHandleForHeapStart();
  srvCpu.ptr += srvStride;
  D3D12_GPU_DESCRIPTOR_HANDLE srvGpu = srvHeap->GetGPUDescriptorHandleForHeapStart();
  srvGpu.ptr += srvStride;
  D3D12_SHADER_RESOURCE_VIEW_DESC srvDesc = {};
  srvDesc.Format = DXGI_FORMAT_R8G8B8A8_UNORM;
  srvDesc.ViewDimension = D3D12_SRV_DIMENSION_TEXTURE2D;
  srvDesc.Shader4ComponentMapping = D3D12_DEFAULT_SHADER_4_COMPONENT_MAPPING;
  srvDesc.Texture2D.MipLevels = 1;
  device->CreateShaderResourceView(texture.p, &srvDesc, srvCpu);
  ASSERT_TRUE(SUCCEEDED(testkit::CreateDescriptorHeap(device.p, D3D12_DESCRIPTOR_HEAP_TYPE_RTV, 1, &rtvHeap)));
  device->CreateRenderTargetView(target.p, nullptr, rtvHeap->GetCPUDescriptorHandleForHeapStart());

  D3D12_DESCRIPTOR_RANGE range = {};
  range.RangeType = D3D12_DESCRIPTOR_RANGE_TYPE_SRV;
  range.NumDescriptors = 1;
  D3D12_ROOT_PARAMETER parameter = {};
  parameter.ParameterType = D3D12_ROOT_PARAMETER_TYPE_DESCRIPTOR_TABLE;
  parameter.DescriptorTable.NumDescriptorRanges = 1;
  parameter.DescriptorTable.pDescriptorRanges = &range;
  parameter.ShaderVisibility = D3D12_SHADER_VISIBILITY_PIXEL;
  D3D12_STATIC_SAMPLER_DESC sampler = {};
  sampler.Filter = D3D12_FILTER_MIN_MAG_MIP_POINT;
  sampler.AddressU = sampler.AddressV = sampler.AddressW = D3D12_TEXTURE_ADDRESS_MODE_CLAMP;
  sampler.ShaderVisibility = D3D12_SHADER_VISIBILITY_PIXEL;
  sampler.MaxLOD = D3D12_FLOAT32_MAX;
  D3D12_ROOT_SIGNATURE_DESC rootDesc = {};
  rootDesc.NumParameters = 1;
  rootDesc.pParameters = &parameter;
  rootDesc.NumStaticSamplers = 1;
  rootDesc.pStaticSamplers = &sampler;
  Com<ID3DBlob> rootBlob, rootErrors;
  ASSERT_TRUE(SUCCEEDED(D3D12SerializeRootSignature(&rootDesc, D3D_ROOT_SIGNATURE_VERSION_1, &rootBlob, &rootErrors)));
  Com<ID3D12RootSignature> root;
  ASSERT_TRUE(SUCCEEDED(
      device->CreateRootSignature(0, rootBlob->GetBufferPointer(), rootBlob->GetBufferSize(), IID_PPV_ARGS(&root))));

  Com<ID3DBlob> vs = Compile("VSMain", "vs_5_0");
  Com<ID3DBlob> ps = Compile("PSMain", "ps_5_0");
  ASSERT_NE(vs.p, nullptr);
  ASSERT_NE(ps.p, nullptr);
  const D3D12_GRAPHICS_PIPELINE_STATE_DESC pso =
      testkit::TrianglePipelineDesc(root.p, vs.p, ps.p, DXGI_FORMAT_R8G8B8A8_UNORM);
  Com<ID3D12PipelineState> pipeline;
  ASSERT_TRUE(SUCCEEDED(device->CreateGraphicsPipelineState(&pso, IID_PPV_ARGS(&pipeline))));

  Com<ID3D12CommandAllocator> allocator;
  Com<ID3D12GraphicsCommandList> list;
  ASSERT_TRUE(SUCCEEDED(device->CreateCommandAllocator(D3D12_COMMAND_LIST_TYPE_DIRECT, IID_PPV_ARGS(&allocator))));
  ASSERT_TRUE(SUCCEEDED(
      device->CreateCommandList(0, D3D12_COMMAND_LIST_TYPE_DIRECT, allocator.p, pipeline.p, IID_PPV_ARGS(&list))));

  D3D12_TEXTURE_COPY_LOCATION from = {}, to = {};
  from.pResource = upload.p;
  from.Type = D3D12_TEXTURE_COPY_TYPE_PLACED_FOOTPRINT;
  from.PlacedFootprint.Footprint = {DXGI_FORMAT_R8G8B8A8_UNORM, 2, 2, 1, D3D12_TEXTURE_DATA_PITCH_ALIGNMENT};
  to.pResource = texture.p;
  to.Type = D3D12_TEXTURE_COPY_TYPE_SUBRESOURCE_INDEX;
  list->CopyTextureRegion(&to, 0, 0, 0, &from, nullptr);
  D3D12_RESOURCE_BARRIER toShader =
      Transition(texture.p, D3D12_RESOURCE_STATE_COPY_DEST, D3D12_RESOURCE_STATE_PIXEL_SHADER_RESOURCE);
  list->ResourceBarrier(1, &toShader);

  const float black[4] = {0, 0, 0, 0};
  D3D12_CPU_DESCRIPTOR_HANDLE rtv = rtvHeap->GetCPUDescriptorHandleForHeapStart();
  list->ClearRenderTargetView(rtv, black, 0, nullptr);
  list->OMSetRenderTargets(1, &rtv, FALSE, nullptr);
  D3D12_VIEWPORT viewport = {0, 0, kTarget, kTarget, 0, 1};
  D3D12_RECT scissor = {0, 0, kTarget, kTarget};
  list->RSSetViewports(1, &viewport);
  list->RSSetScissorRects(1, &scissor);
  ID3D12DescriptorHeap* heaps[] = {srvHeap.p};
  list->SetDescriptorHeaps(1, heaps);
  list->SetGraphicsRootSignature(root.p);
  list->SetGraphicsRootDescriptorTable(0, srvGpu);
  list->IASetPrimitiveTopology(D3D_PRIMITIVE_TOPOLOGY_TRIANGLELIST);
  list->DrawInstanced(3, 1, 0, 0);

  D3D12_RESOURCE_BARRIER toCopy =
      Transition(target.p, D3D12_RESOURCE_STATE_RENDER_TARGET, D3D12_RESOURCE_STATE_COPY_SOURCE);
  list->ResourceBarrier(1, &toCopy);
  D3D12_TEXTURE_COPY_LOCATION src = {}, dst = {};
  src.pResource = target.p;
  src.Type = D3D12_TEXTURE_COPY_TYPE_SUBRESOURCE_INDEX;
  dst.pResource = readback.p;
  dst.Type = D3D12_TEXTURE_COPY_TYPE_PLACED_FOOTPRINT;
  dst.PlacedFootprint.Footprint = {DXGI_FORMAT_R8G8B8A8_UNORM, kTarget, kTarget, 1, D3D12_TEXTURE_DATA_PITCH_ALIGNMENT};
  list->CopyTextureRegion(&dst, 0, 0, 0, &src, nullptr);
  ASSERT_TRUE(SUCCEEDED(list->Close()));
  ID3D12CommandList* lists[] = {list.p};
  queue->ExecuteCommandLists(1, lists);
  WaitFor(queue.p, device.p);
  ASSERT_TRUE(SUCCEEDED(device->GetDeviceRemovedReason()));

  const std::uint8_t* bytes = nullptr;
  ASSERT_TRUE(SUCCEEDED(readback->Map(0, nullptr, reinterpret_cast<void**>(const_cast<std::uint8_t**>(&bytes)))));
  int wrong = 0;
  for (UINT y = 0; y < kTarget; ++y) {
    for (UINT x = 0; x < kTarget; ++x) {
      std::uint32_t pixel;
      std::memcpy(&pixel, bytes + y * D3D12_TEXTURE_DATA_PITCH_ALIGNMENT + x * 4, 4);
      const std::uint32_t expected = texels[(y / (kTarget / 2)) * 2 + x / (kTarget / 2)];
      if (pixel != expected && ++wrong <= 4)
        ADD_FAILURE() << "pixel " << x << "," << y << " is " << std::hex << pixel << ", expected " << expected;
    }
  }
  readback->Unmap(0, nullptr);
  EXPECT_EQ(wrong, 0);
}

}  // namespace
