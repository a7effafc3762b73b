// Installs the upscaler detours (upscaler_win.cpp) on an export the installation found.
#pragma once

namespace pathlight {

class DepthResourceKeeper;

// References on the game's depth buffers through their IUnknown methods. The check that a tagged
// pointer is an ID3D12Resource is made in the tagging call, where the game holds it.
[[nodiscard]] DepthResourceKeeper& D3D12DepthKeeper();

enum class UpscalerExport { SlSetConstants, SlSetTag, SlSetTagForFrame, SlEvaluateFeature, FfxCreateContext };

// Creates and enables the hook; on failure its trampoline slot stays empty. Null target: false.
[[nodiscard]] bool HookUpscalerExport(UpscalerExport which, void* target);

}  // namespace pathlight
