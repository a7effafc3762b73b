// The init thread of the DLL: the start-up sequence with the real subsystems behind it.
//
// Pieces whose subsystems are not part of the library yet behave as a missing piece does: no
// settings file is read (built-in defaults), no hooks, and the game image scan recognises no
// layout, so the run ends inactive after the "Init:" line.
#include <windows.h>

#include "host/init_thread_win.hpp"
#include "host/startup.hpp"
#include "platform/folders.hpp"
#include "roads/road_loader_thread_win.hpp"

namespace pathlight {

namespace {

class WindowsStartupHost final : public StartupHost {
 public:
  std::wstring HostExecutablePath() override { return pathlight::HostExecutablePath(); }
  void LoadSettings() override {}
  RendererChoice Renderer() override { return RendererChoice::Present; }
  bool ScanEnabled() override { return true; }
  bool DrawEnabled() override { return true; }
  void InstallGraphicsHooks() override {}
  bool GameInit() override { return false; }
  void StartFinderThread() override {}
  void StartRoadLoaderThread() override { StartRoadLoader(); }
  void StartRouteWorkerThread() override {}
  void StartKeysThread() override {}
  void WaitForPresentRenderer() override {}
  void RunCompositionRenderer() override {}
};

DWORD WINAPI InitThread(LPVOID) {
  try {
    WindowsStartupHost host;
    RunStartup(host);
  } catch (...) {
    // Nothing may leave a thread body; the library simply stays as far as it got.
  }
  return 0;
}

}  // namespace

void StartInitThread() {
  // Default stack size, no argument; the result is ignored and the handle neither kept nor
  // closed, as for every thread of the library.
  CreateThread(nullptr, 0, &InitThread, nullptr, 0, nullptr);
}

}  // namespace pathlight
