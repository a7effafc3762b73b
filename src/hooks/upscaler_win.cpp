// The detours on NVIDIA Streamline's interposer and AMD FidelityFX's loader. The work lies in
// upscaler.cpp; here the game's pointers are read through the fault guard and each detour calls
// the hooked function with its arguments unchanged.
#include <windows.h>

#include <d3d12.h>

#include <cstdint>

#include "platform/fault_guard_win.hpp"
#include "hooks/hook_slots_win.hpp"
#include "hooks/hook_state.hpp"
#include "hooks/module_path.hpp"
#include "hooks/upscaler.hpp"
#include "hooks/upscaler_win.hpp"
#include "platform/log.hpp"
#include "platform/ticks.hpp"

namespace pathlight {

namespace upscaler_hooks {

// Streamline passes its references as pointers; sl::Result and sl::Feature are 32-bit.
using SlSetConstantsFn = std::int32_t (*)(const void* values, const void* frame, const void* viewport);
using SlSetTagFn = std::int32_t (*)(const void* viewport, const void* tags, std::uint32_t count, void* commands);
using SlSetTagForFrameFn = std::int32_t (*)(const void* frame, const void* viewport, const void* tags,
                                            std::uint32_t count, void* commands);
using SlEvaluateFeatureFn = std::int32_t (*)(std::uint32_t feature, const void* frame, const void** inputs,
                                             std::uint32_t count, void* commands);
using FfxCreateContextFn = std::uint32_t (*)(void* context, void* descriptors, const void* allocation);

HookSlot<SlSetConstantsFn> slSetConstants;
HookSlot<SlSetTagFn> slSetTag;
HookSlot<SlSetTagForFrameFn> slSetTagForFrame;
HookSlot<SlEvaluateFeatureFn> slEvaluateFeature;
HookSlot<FfxCreateContextFn> ffxCreateContext;

}  // namespace upscaler_hooks

namespace {

std::uint64_t Address(const void* p) { return reinterpret_cast<std::uint64_t>(p); }

// The pointer's first word read guarded, and the module it points into: a COM object's method
// table lies in the module of its implementation.
bool MethodTableInModule(std::uint64_t object) {
  std::uint64_t table = 0;
  if (!GuardedMemory().ReadValue(object, table) || table == 0) return false;
  HMODULE module = nullptr;
  return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(table), &module) != 0;
}

class Direct3DKeeper final : public DepthResourceKeeper {
 public:
  DepthRefusal Take(std::uint64_t resource) override {
    if (!MethodTableInModule(resource)) return DepthRefusal::NotInModule;
    ID3D12Resource* d3d = nullptr;
    if (FAILED(reinterpret_cast<IUnknown*>(resource)->QueryInterface(__uuidof(ID3D12Resource),
                                                                     reinterpret_cast<void**>(&d3d))) ||
        d3d == nullptr) {
      return DepthRefusal::NotResource;
    }
    // The reference QueryInterface took is the record's, given back through the same interface.
    if (Address(d3d) != resource) {
      d3d->Release();
      return DepthRefusal::NotResource;
    }
    return DepthRefusal::None;
  }
  void AddRef(std::uint64_t resource) override { reinterpret_cast<IUnknown*>(resource)->AddRef(); }
  void Release(std::uint64_t resource) override { reinterpret_cast<IUnknown*>(resource)->Release(); }
};

// True when `object` looks like a COM object: its method table lies inside a loaded module.
// Gives the address of its code (the first method after IUnknown's) for the log.
bool LooksLikeSwapChain(std::uint64_t object, const void*& code) {
  std::uint64_t table = 0, method = 0;
  GameMemory& memory = GuardedMemory();
  if (!memory.ReadValue(object, table) || !memory.ReadValue(table + 8 * 8, method)) return false;
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(table), &module)) {
    return false;
  }
  code = reinterpret_cast<const void*>(method);
  return true;
}

}  // namespace

namespace detour {

std::int32_t slSetConstants(const void* values, const void* frame, const void* viewport) {
  const auto original = upscaler_hooks::slSetConstants.Get();
  try {
    OnSetConstants(GuardedMemory(), Address(values), TickCount());
  } catch (...) {}
  return original(values, frame, viewport);
}

std::int32_t slSetTag(const void* viewport, const void* tags, std::uint32_t count, void* commands) {
  const auto original = upscaler_hooks::slSetTag.Get();
  try {
    OnSetTag(GuardedMemory(), "slSetTag", Address(tags), count, TickCount(), &D3D12DepthKeeper());
  } catch (...) {}
  return original(viewport, tags, count, commands);
}

std::int32_t slSetTagForFrame(const void* frame, const void* viewport, const void* tags, std::uint32_t count,
                              void* commands) {
  const auto original = upscaler_hooks::slSetTagForFrame.Get();
  try {
    OnSetTag(GuardedMemory(), "slSetTagForFrame", Address(tags), count, TickCount(), &D3D12DepthKeeper());
  } catch (...) {}
  return original(frame, viewport, tags, count, commands);
}

std::int32_t slEvaluateFeature(std::uint32_t feature, const void* frame, const void** inputs, std::uint32_t count,
                               void* commands) {
  const auto original = upscaler_hooks::slEvaluateFeature.Get();
  try {
    OnEvaluateFeature(GuardedMemory(), feature, Address(inputs), count);
  } catch (...) {}
  return original(feature, frame, inputs, count, commands);
}

std::uint32_t ffxCreateContext(void* context, void* descriptors, const void* allocation) {
  const auto original = upscaler_hooks::ffxCreateContext.Get();
  // Restored rather than cleared, so a creation nested in another keeps the outer one's mark.
  const bool outer = InsideFfxContextCreation;
  InsideFfxContextCreation = true;
  const std::uint32_t result = original(context, descriptors, allocation);
  InsideFfxContextCreation = outer;
  try {
    const auto found = OnFfxContextCreated(GuardedMemory(), Address(descriptors), result);
    const void* code = nullptr;
    if (found && LooksLikeSwapChain(found->swapchain, code)) {
      Log("FidelityFX: frame-generation swapchain %p (in %s); switching to the Composition renderer (minimap and "
          "world map; no in-world route)",
          reinterpret_cast<void*>(found->swapchain), ModulePathOf(code).c_str());
      Hooks().PresentDisabled.store(1);
      Hooks().CompositionHandover.store(1);
    }
  } catch (...) {}
  return result;
}

}  // namespace detour

DepthResourceKeeper& D3D12DepthKeeper() {
  static Direct3DKeeper keeper;
  return keeper;
}

bool HookUpscalerExport(UpscalerExport which, void* target) {
  using namespace upscaler_hooks;
  switch (which) {
    case UpscalerExport::SlSetConstants: {
      const bool ok = slSetConstants.Install(target, &detour::slSetConstants);
      Hooks().SlSetConstantsHooked.store(ok);
      return ok;
    }
    case UpscalerExport::SlSetTag: {
      const bool ok = slSetTag.Install(target, &detour::slSetTag);
      Hooks().SlSetTagHooked.store(ok);
      return ok;
    }
    case UpscalerExport::SlSetTagForFrame: {
      const bool ok = slSetTagForFrame.Install(target, &detour::slSetTagForFrame);
      Hooks().SlSetTagForFrameHooked.store(ok);
      return ok;
    }
    case UpscalerExport::SlEvaluateFeature: return slEvaluateFeature.Install(target, &detour::slEvaluateFeature);
    case UpscalerExport::FfxCreateContext: return ffxCreateContext.Install(target, &detour::ffxCreateContext);
  }
  return false;
}

}  // namespace pathlight
