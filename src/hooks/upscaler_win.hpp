// Installs the upscaler detours (upscaler_win.cpp) on an export the installation found.
#pragma once

namespace pathlight {

enum class UpscalerExport { SlSetConstants, SlSetTag, SlSetTagForFrame, SlEvaluateFeature, FfxCreateContext };

// Creates and enables the hook; on failure its trampoline slot stays empty. Null target: false.
[[nodiscard]] bool HookUpscalerExport(UpscalerExport which, void* target);

}  // namespace pathlight
