// The HLSL the in-frame renderer compiles at run time: Dear ImGui's pixel shader with the output
// conversion for HDR swap chains, and the occluded ribbon's shader. Both are compiled with
// MR_MODE (0 SDR, 1 scRGB, 2 HDR10) and MR_WHITE (the white level in nits).
//
// Dear ImGui packs colours as sRGB-encoded bytes; an HDR swap chain wants linear scRGB (1.0 = 80
// nits) or PQ-encoded BT.2020, so without the conversion the route would look washed out or
// glaring. Alpha stays as it is: blending happens in the swap chain's own encoding.
#pragma once

namespace pathlight {

// Shared by both shaders: MrOutput(colour).
#define PATHLIGHT_HLSL_OUTPUT_CONVERSION                                                \
  "#ifndef MR_MODE\n#define MR_MODE 0\n#endif\n"                                        \
  "#ifndef MR_WHITE\n#define MR_WHITE 203.0\n#endif\n"                                  \
  "float3 MrLinear(float3 c) {\n"                                                       \
  "  c = max(c, 0.0);\n"                                                                \
  "  float3 low = c / 12.92;\n"                                                         \
  "  float3 high = pow((c + 0.055) / 1.055, 2.4);\n"                                    \
  "  return float3(c.r <= 0.04045 ? low.r : high.r, c.g <= 0.04045 ? low.g : high.g,\n" \
  "                c.b <= 0.04045 ? low.b : high.b);\n"                                 \
  "}\n"                                                                                 \
  "float3 MrPq(float3 y) {\n"                                                           \
  "  const float m1 = 0.1593017578125, m2 = 78.84375;\n"                                \
  "  const float c1 = 0.8359375, c2 = 18.8515625, c3 = 18.6875;\n"                      \
  "  float3 p = pow(saturate(y), m1);\n"                                                \
  "  return pow((c1 + c2 * p) / (1.0 + c3 * p), m2);\n"                                 \
  "}\n"                                                                                 \
  "float4 MrOutput(float4 c) {\n"                                                       \
  "#if MR_MODE == 1\n"                                                                  \
  "  c.rgb = MrLinear(c.rgb) * (MR_WHITE / 80.0);\n"                                    \
  "#elif MR_MODE == 2\n"                                                                \
  "  const float3x3 bt709To2020 = float3x3(0.6274, 0.3293, 0.0433,\n"                   \
  "                                        0.0691, 0.9195, 0.0114,\n"                   \
  "                                        0.0164, 0.0880, 0.8956);\n"                  \
  "  c.rgb = MrPq(mul(bt709To2020, MrLinear(c.rgb)) * (MR_WHITE / 10000.0));\n"         \
  "#endif\n"                                                                            \
  "  return c;\n"                                                                       \
  "}\n"

// Replaces the stock pixel shader of Dear ImGui's DX12 backend; same inputs and bindings.
inline constexpr char kBackendPixelShaderHlsl[] = PATHLIGHT_HLSL_OUTPUT_CONVERSION
    "struct PS_INPUT {\n"
    "  float4 pos : SV_POSITION;\n"
    "  float4 col : COLOR0;\n"
    "  float2 uv : TEXCOORD0;\n"
    "};\n"
    "SamplerState sampler0 : register(s0);\n"
    "Texture2D texture0 : register(t0);\n"
    "float4 main(PS_INPUT input) : SV_Target {\n"
    "  return MrOutput(input.col * texture0.Sample(sampler0, input.uv));\n"
    "}\n";

// The ribbon through the game's depth buffer. The vertex stage takes Dear ImGui's vertices in
// pixels; the ribbon stores each vertex's inverse view depth in the texture coordinate's x, which
// interpolates linearly in screen space where the depth itself would not.
inline constexpr char kOcclusionShaderHlsl[] = PATHLIGHT_HLSL_OUTPUT_CONVERSION
    "cbuffer C : register(b0) {\n"
    "  float2 invScreen; float2 dSize; float2 dOff; float2 dMax;\n"
    "  float m22; float m32; float tolBase; float tolSlope;\n"
    "};\n"
    "Texture2D<float> depthTex : register(t1);\n"
    "struct VS_INPUT { float2 pos : POSITION; float2 uv : TEXCOORD0; float4 col : COLOR0; };\n"
    "struct PS_INPUT { float4 pos : SV_POSITION; float4 col : COLOR0; float2 uv : TEXCOORD0; };\n"
    "PS_INPUT vs(VS_INPUT input) {\n"
    "  PS_INPUT output;\n"
    "  output.pos = float4(input.pos.x * invScreen.x * 2.0 - 1.0, 1.0 - input.pos.y * invScreen.y * 2.0, 0.0, 1.0);\n"
    "  output.col = input.col;\n"
    "  output.uv = input.uv;\n"
    "  return output;\n"
    "}\n"
    "float4 ps(PS_INPUT input) : SV_Target {\n"
    "  float2 t = clamp(input.pos.xy * invScreen * dSize + dOff, 0.0, dMax);\n"
    "  float d = depthTex.Load(int3(int2(t), 0));\n"
    "  float sceneDepth = m32 / (d - m22);\n"
    "  float ribbonDepth = 1.0 / input.uv.x;\n"
    "  float tol = tolBase + tolSlope * ribbonDepth;\n"
    "  float4 c = input.col;\n"
    "  if (sceneDepth > 0.0) c.a *= 1.0 - smoothstep(tol, 2.0 * tol, ribbonDepth - sceneDepth);\n"
    "  return MrOutput(c);\n"
    "}\n";

}  // namespace pathlight
