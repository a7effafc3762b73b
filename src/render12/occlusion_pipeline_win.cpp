#include "render12/occlusion_pipeline_win.hpp"

#include <d3dcompiler.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/log.hpp"
#include "render12/backend_shader.hpp"
#include "render12/shader_cache_win.hpp"

namespace pathlight {

namespace {

template <typename T> void SafeRelease(T*& object) {
  if (object != nullptr) object->Release();
  object = nullptr;
}

std::string ErrorText(ID3DBlob* errors) {
  if (errors == nullptr) return "";
  std::string text(static_cast<const char*>(errors->GetBufferPointer()), errors->GetBufferSize());
  while (!text.empty() && (text.back() == '\0' || text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

void LogStepFailed(const char* step, ID3DBlob* errors) {
  const std::string text = ErrorText(errors);
  Log("Overlay: occlusion pipeline: %s failed%s%s; the in-world route is drawn without occlusion", step,
      text.empty() ? "" : ": ", text.c_str());
}

}  // namespace

OcclusionPipeline BuildOcclusionPipeline(ID3D12Device* device, DXGI_FORMAT format, std::uint32_t outputMode,
                                         float whiteNits) {
  OcclusionPipeline pipeline;
  OutputMacros macros;
  macros.Set(outputMode, whiteNits);
  const auto* defines = reinterpret_cast<const D3D_SHADER_MACRO*>(macros.list);

  ID3DBlob* vs = nullptr;
  ID3DBlob* ps = nullptr;
  ID3DBlob* errors = nullptr;
  const std::size_t length = std::strlen(kOcclusionShaderHlsl);
  if (FAILED(CompileShaderCached(kOcclusionShaderHlsl, length, nullptr, defines, nullptr, "vs", "vs_5_0", 0, 0, &vs,
                                 &errors))) {
    LogStepFailed("vertex shader", errors);
    SafeRelease(errors);
    return pipeline;
  }
  if (FAILED(CompileShaderCached(kOcclusionShaderHlsl, length, nullptr, defines, nullptr, "ps", "ps_5_0", 0, 0, &ps,
                                 &errors))) {
    LogStepFailed("pixel shader", errors);
    SafeRelease(errors);
    SafeRelease(vs);
    return pipeline;
  }
  SafeRelease(errors);

  // Parameter 1 is where Dear ImGui's renderer binds its texture for every draw command, so its own
  // binding stays valid while this root signature is set.
  D3D12_DESCRIPTOR_RANGE ranges[2] = {};
  for (UINT i = 0; i < 2; ++i) {
    ranges[i].RangeType = D3D12_DESCRIPTOR_RANGE_TYPE_SRV;
    ranges[i].NumDescriptors = 1;
    ranges[i].BaseShaderRegister = i;
    ranges[i].RegisterSpace = 0;
    ranges[i].OffsetInDescriptorsFromTableStart = 0;
  }
  D3D12_ROOT_PARAMETER parameters[3] = {};
  parameters[0].ParameterType = D3D12_ROOT_PARAMETER_TYPE_32BIT_CONSTANTS;
  parameters[0].Constants.ShaderRegister = 0;
  parameters[0].Constants.Num32BitValues = sizeof(OcclusionConstants) / 4;
  parameters[0].ShaderVisibility = D3D12_SHADER_VISIBILITY_ALL;
  for (int i = 1; i < 3; ++i) {
    parameters[i].ParameterType = D3D12_ROOT_PARAMETER_TYPE_DESCRIPTOR_TABLE;
    parameters[i].DescriptorTable.NumDescriptorRanges = 1;
    parameters[i].DescriptorTable.pDescriptorRanges = &ranges[i - 1];
    parameters[i].ShaderVisibility = D3D12_SHADER_VISIBILITY_PIXEL;
  }
  D3D12_ROOT_SIGNATURE_DESC rootDesc = {};
  rootDesc.NumParameters = 3;
  rootDesc.pParameters = parameters;
  rootDesc.Flags = D3D12_ROOT_SIGNATURE_FLAG_ALLOW_INPUT_ASSEMBLER_INPUT_LAYOUT;
  ID3DBlob* serialised = nullptr;
  if (FAILED(D3D12SerializeRootSignature(&rootDesc, D3D_ROOT_SIGNATURE_VERSION_1, &serialised, &errors))) {
    LogStepFailed("root signature", errors);
    SafeRelease(errors);
    SafeRelease(vs);
    SafeRelease(ps);
    return pipeline;
  }
  SafeRelease(errors);
  const HRESULT rootResult =
      device->CreateRootSignature(0, serialised->GetBufferPointer(), serialised->GetBufferSize(),
                                  __uuidof(ID3D12RootSignature), reinterpret_cast<void**>(&pipeline.root));
  SafeRelease(serialised);
  if (FAILED(rootResult)) {
    LogStepFailed("CreateRootSignature", nullptr);
    pipeline.root = nullptr;
    SafeRelease(vs);
    SafeRelease(ps);
    return pipeline;
  }

  // ImDrawVert: position, texture coordinate, packed colour.
  const D3D12_INPUT_ELEMENT_DESC layout[] = {
      {"POSITION", 0, DXGI_FORMAT_R32G32_FLOAT, 0, 0, D3D12_INPUT_CLASSIFICATION_PER_VERTEX_DATA, 0},
      {"TEXCOORD", 0, DXGI_FORMAT_R32G32_FLOAT, 0, 8, D3D12_INPUT_CLASSIFICATION_PER_VERTEX_DATA, 0},
      {"COLOR", 0, DXGI_FORMAT_R8G8B8A8_UNORM, 0, 16, D3D12_INPUT_CLASSIFICATION_PER_VERTEX_DATA, 0},
  };
  D3D12_GRAPHICS_PIPELINE_STATE_DESC pso = {};
  pso.pRootSignature = pipeline.root;
  pso.VS = {vs->GetBufferPointer(), vs->GetBufferSize()};
  pso.PS = {ps->GetBufferPointer(), ps->GetBufferSize()};
  pso.InputLayout = {layout, 3};
  D3D12_RENDER_TARGET_BLEND_DESC& blend = pso.BlendState.RenderTarget[0];
  blend.BlendEnable = TRUE;
  blend.SrcBlend = D3D12_BLEND_SRC_ALPHA;
  blend.DestBlend = D3D12_BLEND_INV_SRC_ALPHA;
  blend.BlendOp = D3D12_BLEND_OP_ADD;
  blend.SrcBlendAlpha = D3D12_BLEND_ONE;
  blend.DestBlendAlpha = D3D12_BLEND_INV_SRC_ALPHA;
  blend.BlendOpAlpha = D3D12_BLEND_OP_ADD;
  blend.LogicOp = D3D12_LOGIC_OP_NOOP;
  blend.RenderTargetWriteMask = D3D12_COLOR_WRITE_ENABLE_ALL;
  pso.SampleMask = UINT_MAX;
  pso.RasterizerState.FillMode = D3D12_FILL_MODE_SOLID;
  pso.RasterizerState.CullMode = D3D12_CULL_MODE_NONE;
  pso.RasterizerState.DepthClipEnable = TRUE;
  pso.DepthStencilState.DepthEnable = FALSE;
  pso.DepthStencilState.StencilEnable = FALSE;
  pso.PrimitiveTopologyType = D3D12_PRIMITIVE_TOPOLOGY_TYPE_TRIANGLE;
  pso.NumRenderTargets = 1;
  pso.RTVFormats[0] = format;
  pso.SampleDesc.Count = 1;
  pso.NodeMask = 1;
  const HRESULT psoResult = device->CreateGraphicsPipelineState(&pso, __uuidof(ID3D12PipelineState),
                                                                reinterpret_cast<void**>(&pipeline.state));
  SafeRelease(vs);
  SafeRelease(ps);
  if (FAILED(psoResult)) {
    pipeline.state = nullptr;
    LogStepFailed("CreateGraphicsPipelineState", nullptr);
    ReleaseOcclusionPipeline(pipeline);
  }
  return pipeline;
}

void ReleaseOcclusionPipeline(OcclusionPipeline& pipeline) {
  SafeRelease(pipeline.state);
  SafeRelease(pipeline.root);
}

void OcclusionDrawCallback(const ImDrawList*, const ImDrawCmd* command) {
  if (command == nullptr || command->UserCallbackData == nullptr) return;
  const OcclusionDraw& draw = *static_cast<const OcclusionDraw*>(command->UserCallbackData);
  if (draw.list == nullptr || draw.pipeline.root == nullptr || draw.pipeline.state == nullptr) return;
  draw.list->SetGraphicsRootSignature(draw.pipeline.root);
  draw.list->SetPipelineState(draw.pipeline.state);
  draw.list->SetGraphicsRoot32BitConstants(0, sizeof(OcclusionConstants) / 4, &draw.constants, 0);
  draw.list->SetGraphicsRootDescriptorTable(2, draw.depthView);
}

// ---- the depth choice's questions to Direct3D -----------------------------------------------------

ResourceDescription WindowsDepthFacts::Describe(std::uint64_t resource) {
  const D3D12_RESOURCE_DESC desc = reinterpret_cast<ID3D12Resource*>(resource)->GetDesc();
  ResourceDescription d;
  d.dimension = static_cast<std::uint32_t>(desc.Dimension);
  d.width = desc.Width;
  d.height = desc.Height;
  d.format = static_cast<std::int32_t>(desc.Format);
  d.samples = desc.SampleDesc.Count;
  d.flags = static_cast<std::uint32_t>(desc.Flags);
  return d;
}

}  // namespace pathlight
