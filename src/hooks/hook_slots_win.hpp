// One trampoline slot per hooked function, and the create-and-enable step every install shares.
#pragma once

#include <windows.h>

#include <atomic>

#include "hookengine/hook_engine.hpp"

namespace pathlight {

// Written by MH_CreateHook before the hook is enabled, read on each detour's first line; cleared
// when the hook could not be made.
template <typename Fn> struct HookSlot {
  std::atomic<Fn> original{nullptr};

  [[nodiscard]] Fn Get() const { return original.load(std::memory_order_acquire); }

  // Creates the hook; the trampoline lands in the slot. Not yet enabled.
  [[nodiscard]] MH_STATUS Create(void* target, Fn detour) {
    void* trampoline = nullptr;
    const MH_STATUS status = MH_CreateHook(target, reinterpret_cast<void*>(detour), &trampoline);
    if (status == MH_OK) original.store(reinterpret_cast<Fn>(trampoline), std::memory_order_release);
    return status;
  }

  // Create and enable; on any failure the slot stays (or becomes) empty and the target untouched.
  [[nodiscard]] bool Install(void* target, Fn detour) {
    if (target == nullptr || Create(target, detour) != MH_OK) {
      original.store(nullptr);
      return false;
    }
    if (MH_EnableHook(target) != MH_OK) {
      (void)MH_RemoveHook(target);
      original.store(nullptr);
      return false;
    }
    return true;
  }
};

// MH_Initialize, where a second call is no failure.
[[nodiscard]] inline bool HookEngineReady() {
  const MH_STATUS status = MH_Initialize();
  return status == MH_OK || status == MH_ERROR_ALREADY_INITIALIZED;
}

}  // namespace pathlight
