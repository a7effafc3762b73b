# Writes Dear ImGui's DX12 backend into the build tree with its pixel shader replaced: the shader
# text comes from src/render12/backend_shader.hpp (forced into the backend's compilation) and is
# compiled with the renderer's MR_MODE and MR_WHITE macros. The unpacked original stays untouched.
#
# Each change names the exact text it replaces; a backend whose text differs stops the configure
# here, since a silently unpatched backend would draw HDR swap chains in the wrong encoding.

# Replaces `anchor` in the variable named by `text_var`, or stops the configure.
function(pathlight_replace_anchor text_var source anchor replacement)
  string(FIND "${${text_var}}" "${anchor}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "imgui_impl_dx12.cpp (${source}): the text '${anchor}' is not there; "
                        "the pixel-shader change does not fit this Dear ImGui version")
  endif()
  string(REPLACE "${anchor}" "${replacement}" replaced "${${text_var}}")
  set(${text_var} "${replaced}" PARENT_SCOPE)
endfunction()

function(pathlight_patch_imgui_dx12 source destination)
  file(READ "${source}" text)
  # The stock shader literal stays as a discarded expression, so the text after it still parses.
  pathlight_replace_anchor(text "${source}" "static const char* pixelShader ="
    "const char* pixelShader = pathlight::BackendPixelShaderText(); (void)")
  pathlight_replace_anchor(text "${source}"
    "D3DCompile(pixelShader, strlen(pixelShader), nullptr, nullptr, nullptr, \"main\", \"ps_5_0\""
    "pathlight::CompileShaderCached(pixelShader, strlen(pixelShader), nullptr, reinterpret_cast<const D3D_SHADER_MACRO*>(pathlight::BackendPixelShaderMacros().list), nullptr, \"main\", \"ps_5_0\"")
  # Both shaders compiled once in the process (render12/shader_cache_win.hpp), so that a rebuild of
  # the renderer's objects costs device objects only.
  pathlight_replace_anchor(text "${source}"
    "D3DCompile(vertexShader, strlen(vertexShader),"
    "pathlight::CompileShaderCached(vertexShader, strlen(vertexShader),")
  # The font upload's wait on the game's presenting thread gets a bound; on a timeout the backend
  # keeps what the copy still reads and the set-up fails.
  pathlight_replace_anchor(text "${source}"
    "WaitForSingleObject(event, INFINITE);"
    "if (!pathlight::BackendUploadWaited(fence, event)) return;")
  # Written only when it changed, so a re-configure does not rebuild the backend.
  set(old "")
  if(EXISTS "${destination}")
    file(READ "${destination}" old)
  endif()
  if(NOT old STREQUAL text)
    file(WRITE "${destination}" "${text}")
  endif()
  set_property(DIRECTORY "${CMAKE_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${source}")
endfunction()
