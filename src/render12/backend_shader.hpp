// What the build's patched copy of Dear ImGui's DX12 backend asks for when it compiles its pixel
// shader: the project's text and the two output macros. The renderer sets the macros before each
// ImGui_ImplDX12_Init (under the render mutex, which also covers the backend's compile).
//
// Included by the backend through a forced include, so it holds only inline definitions.
#pragma once

#include <cstdint>
#include <cstdio>

#include "render12/shader_texts.hpp"

namespace pathlight {

// D3D_SHADER_MACRO's layout: name and definition, a list ended by two nulls.
struct ShaderMacro {
  const char* name;
  const char* definition;
};

struct OutputMacros {
  char mode[16] = "0";
  char white[32] = "203.0";
  ShaderMacro list[3] = {{"MR_MODE", mode}, {"MR_WHITE", white}, {nullptr, nullptr}};

  OutputMacros() = default;
  OutputMacros(const OutputMacros&) = delete;  // the list points into the object itself
  OutputMacros& operator=(const OutputMacros&) = delete;

  void Set(std::uint32_t outputMode, float whiteNits) {
    std::snprintf(mode, sizeof mode, "%u", static_cast<unsigned>(outputMode));
    std::snprintf(white, sizeof white, "%.1f", static_cast<double>(whiteNits));
  }
};

inline OutputMacros& BackendPixelShaderMacros() {
  static OutputMacros macros;
  return macros;
}

inline const char* BackendPixelShaderText() { return kBackendPixelShaderHlsl; }

}  // namespace pathlight
