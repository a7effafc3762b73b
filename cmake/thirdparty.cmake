# Third-party libraries, built as static libraries from the sources that scripts/setup.sh unpacked
# into .cache/thirdparty (Debian source packages, checksum-pinned; never committed).
set(PATHLIGHT_THIRDPARTY_DIR "${CMAKE_SOURCE_DIR}/.cache/thirdparty" CACHE PATH "Unpacked third-party sources")
set(IMGUI_DIR "${PATHLIGHT_THIRDPARTY_DIR}/imgui")
set(ZYDIS_DIR "${PATHLIGHT_THIRDPARTY_DIR}/zydis")
set(ZYCORE_DIR "${PATHLIGHT_THIRDPARTY_DIR}/zycore")
foreach(required "${IMGUI_DIR}/imgui.cpp" "${ZYDIS_DIR}/src/Decoder.c" "${ZYCORE_DIR}/src/Zycore.c")
  if(NOT EXISTS "${required}")
    message(FATAL_ERROR "${required} is missing: run scripts/setup.sh (or ./run setup) first")
  endif()
endforeach()

# Dear ImGui core: portable, so the route drawing into a draw list is tested natively too.
add_library(imgui STATIC
  "${IMGUI_DIR}/imgui.cpp" "${IMGUI_DIR}/imgui_draw.cpp"
  "${IMGUI_DIR}/imgui_tables.cpp" "${IMGUI_DIR}/imgui_widgets.cpp")
target_include_directories(imgui SYSTEM PUBLIC "${IMGUI_DIR}")
target_compile_definitions(imgui PUBLIC IMGUI_DISABLE_OBSOLETE_FUNCTIONS)
set_target_properties(imgui PROPERTIES POSITION_INDEPENDENT_CODE ON)

if(WIN32)
  # The DX12 backend is copied into the build tree with the renderer's pixel shader in place of
  # its own, without touching the unpacked original.
  include("${CMAKE_CURRENT_LIST_DIR}/imgui_dx12_patch.cmake")
  set(imgui_dx12_copy "${CMAKE_BINARY_DIR}/thirdparty/imgui_impl_dx12.cpp")
  pathlight_patch_imgui_dx12("${IMGUI_DIR}/backends/imgui_impl_dx12.cpp" "${imgui_dx12_copy}")
  # With the shader cache and the bounded fence wait its patched text calls: the simulated game
  # draws with the same backend.
  add_library(imgui_dx12 STATIC "${imgui_dx12_copy}" "${CMAKE_SOURCE_DIR}/src/render12/shader_cache_win.cpp"
    "${CMAKE_SOURCE_DIR}/src/render12/fence_wait_win.cpp")
  target_include_directories(imgui_dx12 SYSTEM PUBLIC "${IMGUI_DIR}/backends")
  target_include_directories(imgui_dx12 PRIVATE "${CMAKE_SOURCE_DIR}/src")
  # MinGW's d3d12.h lacks a declaration the backend uses; the second brings the shader text.
  target_compile_options(imgui_dx12 PRIVATE "SHELL:-include ${CMAKE_SOURCE_DIR}/cmake/imgui_dx12_compat.h"
    "SHELL:-include ${CMAKE_SOURCE_DIR}/src/render12/backend_shader.hpp"
    "SHELL:-include ${CMAKE_SOURCE_DIR}/src/render12/shader_cache_win.hpp")
  set_property(SOURCE "${imgui_dx12_copy}" APPEND PROPERTY OBJECT_DEPENDS
    "${CMAKE_SOURCE_DIR}/src/render12/backend_shader.hpp" "${CMAKE_SOURCE_DIR}/src/render12/shader_texts.hpp"
    "${CMAKE_SOURCE_DIR}/src/render12/shader_cache_win.hpp")
  target_link_libraries(imgui_dx12 PUBLIC imgui d3d12 dxgi d3dcompiler_47)
endif()

# Zydis and Zycore: the instruction decoder under the hook engine, in both builds so that its
# relocation logic is tested natively.
file(GLOB zycore_sources "${ZYCORE_DIR}/src/*.c" "${ZYCORE_DIR}/src/API/*.c")
add_library(zycore STATIC ${zycore_sources})
target_include_directories(zycore SYSTEM PUBLIC "${ZYCORE_DIR}/include")
target_compile_definitions(zycore PUBLIC ZYCORE_STATIC_BUILD)
file(GLOB zydis_sources "${ZYDIS_DIR}/src/*.c")
add_library(zydis STATIC ${zydis_sources})
target_include_directories(zydis SYSTEM PUBLIC "${ZYDIS_DIR}/include" PRIVATE "${ZYDIS_DIR}/src")
target_compile_definitions(zydis PUBLIC ZYDIS_STATIC_BUILD)
target_link_libraries(zydis PUBLIC zycore)
