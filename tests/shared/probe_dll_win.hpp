// The entry of a probe DLL (tests/keys, tests/settings): a test DLL that the simulated game loads
// and that runs one part of the library on its own thread, logging beside itself.
#pragma once

#include <windows.h>

#include "platform/folders.hpp"

namespace pathlight::testing {

// DllMain's work: on loading, the probe's module stands for the library's (its Pathlight.log and
// Pathlight.ini lie beside the probe) and `probe` starts on a thread of its own.
inline BOOL StartProbe(HINSTANCE module, DWORD reason, LPTHREAD_START_ROUTINE probe) {
  if (reason == DLL_PROCESS_ATTACH) {
    SetLibraryModule(module);
    DisableThreadLibraryCalls(module);
    CreateThread(nullptr, 0, probe, nullptr, 0, nullptr);
  }
  return TRUE;
}

}  // namespace pathlight::testing
