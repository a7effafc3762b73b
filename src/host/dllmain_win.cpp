// The DLL entry point. It runs under the loader lock, so it only records the module handle,
// switches off thread notifications and starts the init thread.
#include <windows.h>

#include "host/init_thread_win.hpp"
#include "platform/folders.hpp"

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    pathlight::SetLibraryModule(module);
    DisableThreadLibraryCalls(module);
    pathlight::StartInitThread();
  }
  return TRUE;
}
