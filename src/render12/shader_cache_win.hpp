// What the renderer's set-up keeps from one set-up to the next: compiled shaders and the font
// atlas's pixels. A rebuild (a resize while a window edge is dragged, a reload, a new swap chain)
// then makes only device objects, which belong to the device and cannot be kept.
//
// Included by the patched copy of Dear ImGui's DX12 backend through a forced include too, before
// its own includes: hence only forward declarations here.
#pragma once

#include <cstddef>

struct ID3D10Blob;
struct ID3D12Fence;
struct _D3D_SHADER_MACRO;
struct ID3DInclude;

namespace pathlight {

// D3DCompile, with the result kept for the process: the same text, macros, entry point, target
// and flags give the blob compiled the first time (a reference of the caller's own). Errors are not
// kept. Under the render mutex, like every set-up; it has a mutex of its own anyway.
long CompileShaderCached(const void* source, std::size_t length, const char* name, const _D3D_SHADER_MACRO* defines,
                         ID3DInclude* include, const char* entry, const char* target, unsigned flags1, unsigned flags2,
                         ID3D10Blob** code, ID3D10Blob** errors);

// How many compilations the cache answered without the compiler, and how many it compiled.
struct ShaderCacheCounts {
  int hits = 0, compiled = 0;
};
[[nodiscard]] ShaderCacheCounts ShaderCacheCounted();

// The backend's font upload: waits for its fence, with a bound. False when the GPU did not finish
// in time; the backend then keeps what the copy reads (a leak, instead of a freed buffer under a
// running copy) and the set-up fails.
[[nodiscard]] bool BackendUploadWaited(ID3D12Fence* fence, void* event);
// Whether an upload timed out since the last call (cleared by it).
[[nodiscard]] bool BackendUploadTimedOut();

}  // namespace pathlight
