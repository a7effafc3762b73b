// The renderer's HLSL texts compile with the system's compiler in every output mode, and the
// occluded ribbon's pipeline builds on a real device.
#include <d3d12.h>
#include <d3dcompiler.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "render12/backend_shader.hpp"
#include "render12/occlusion_pipeline_win.hpp"

namespace pathlight {
namespace {

std::string Compile(const char* text, const char* entry, const char* target, std::uint32_t mode, float white) {
  OutputMacros macros;
  macros.Set(mode, white);
  ID3DBlob* code = nullptr;
  ID3DBlob* errors = nullptr;
  const HRESULT hr =
      D3DCompile(text, std::strlen(text), nullptr, reinterpret_cast<const D3D_SHADER_MACRO*>(macros.list), nullptr,
                 entry, target, 0, 0, &code, &errors);
  std::string result = SUCCEEDED(hr) && code != nullptr ? "" : "failed";
  if (errors != nullptr) {
    if (FAILED(hr)) result += ": " + std::string(static_cast<const char*>(errors->GetBufferPointer()));
    errors->Release();
  }
  if (code != nullptr) code->Release();
  return result;
}

TEST(RendererShaders, CompileInEveryOutputMode) {
  for (std::uint32_t mode = 0; mode <= 2; ++mode) {
    SCOPED_TRACE(mode);
    EXPECT_EQ(Compile(kBackendPixelShaderHlsl, "main", "ps_5_0", mode, 203.0f), "");
    EXPECT_EQ(Compile(kOcclusionShaderHlsl, "vs", "vs_5_0", mode, 80.0f), "");
    EXPECT_EQ(Compile(kOcclusionShaderHlsl, "ps", "ps_5_0", mode, 10000.0f), "");
  }
}

TEST(RendererShaders, MacrosWrittenAsTheCompilerReadsThem) {
  OutputMacros macros;
  macros.Set(2, 203.0f);
  EXPECT_STREQ(macros.list[0].name, "MR_MODE");
  EXPECT_STREQ(macros.list[0].definition, "2");
  EXPECT_STREQ(macros.list[1].name, "MR_WHITE");
  EXPECT_STREQ(macros.list[1].definition, "203.0");
  EXPECT_EQ(macros.list[2].name, nullptr);
  static_assert(sizeof(ShaderMacro) == sizeof(D3D_SHADER_MACRO));
}

TEST(RendererShaders, OcclusionPipelineBuildsOnADevice) {
  ID3D12Device* device = nullptr;
  ASSERT_TRUE(SUCCEEDED(
      D3D12CreateDevice(nullptr, D3D_FEATURE_LEVEL_11_0, __uuidof(ID3D12Device), reinterpret_cast<void**>(&device))));
  for (std::uint32_t mode = 0; mode <= 2; ++mode) {
    OcclusionPipeline pipeline = BuildOcclusionPipeline(
        device, mode == 1 ? DXGI_FORMAT_R16G16B16A16_FLOAT : DXGI_FORMAT_R10G10B10A2_UNORM, mode, 203.0f);
    EXPECT_NE(pipeline.root, nullptr) << mode;
    EXPECT_NE(pipeline.state, nullptr) << mode;
    ReleaseOcclusionPipeline(pipeline);
  }
  device->Release();
}

}  // namespace
}  // namespace pathlight
