// keys-probe.dll: the keys thread on its own, started the way the start-up sequence starts it
// once the game scan has succeeded (first settings load, then the thread). Loaded into the
// simulated game by a scenario, it logs to "Pathlight.log" beside itself and reads the
// "Pathlight.ini" there.
#include <windows.h>

#include "host/keys_win.hpp"
#include "probe_dll_win.hpp"
#include "settings/settings_load.hpp"

namespace {

DWORD WINAPI ProbeThread(LPVOID) {
  pathlight::LoadSettings(false);
  pathlight::StartKeysThread();
  return 0;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
  return pathlight::testing::StartProbe(module, reason, &ProbeThread);
}
