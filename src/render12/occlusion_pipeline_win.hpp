// The occluded ribbon's root signature and pipeline, its draw callback, and the Direct3D side of
// the depth choice. Used by the in-frame renderer under the render mutex.
#pragma once

#include <d3d12.h>
#include <imgui.h>

#include <cstdint>

#include "render12/occlusion.hpp"

namespace pathlight {

struct OcclusionPipeline {
  ID3D12RootSignature* root = nullptr;
  ID3D12PipelineState* state = nullptr;
};

// Compiles the shader for the output mode and white level and builds both objects; on failure logs
// the step and returns an empty pipeline (the ribbon is then drawn without occlusion).
[[nodiscard]] OcclusionPipeline BuildOcclusionPipeline(ID3D12Device* device, DXGI_FORMAT format,
                                                       std::uint32_t outputMode, float whiteNits);
void ReleaseOcclusionPipeline(OcclusionPipeline& pipeline);

// What the callback binds for the frame being recorded; the callback's user data points at it.
struct OcclusionDraw {
  ID3D12GraphicsCommandList* list = nullptr;
  OcclusionPipeline pipeline;
  OcclusionConstants constants;
  D3D12_GPU_DESCRIPTOR_HANDLE depthView{};
};

// The Dear ImGui draw callback put ahead of the ribbon's triangles.
void OcclusionDrawCallback(const ImDrawList* list, const ImDrawCmd* command);

// Asks Direct3D about tagged pointers, guarded where the pointer may be anything.
class WindowsDepthFacts final : public DepthResourceFacts {
 public:
  ResourceDescription Describe(std::uint64_t resource) override;
};

}  // namespace pathlight
