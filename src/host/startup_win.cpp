// The init thread of the DLL: the start-up sequence with the real subsystems behind it.
//
// Pieces whose subsystems are not part of the library yet behave as a missing piece does: the
// renderers. With Present, the hooks are installed and the wait for the in-frame renderer runs;
// Composition then ends the init thread as None does.
#include <windows.h>

#include "game/finder_win.hpp"
#include "game/game_init_win.hpp"
#include "game/game_readers.hpp"
#include "hooks/graphics_hooks_win.hpp"
#include "host/init_thread_win.hpp"
#include "host/keys_win.hpp"
#include "host/route_worker_thread_win.hpp"
#include "host/settings_load.hpp"
#include "host/startup.hpp"
#include "platform/folders.hpp"
#include "roads/road_loader_thread_win.hpp"

namespace pathlight {

namespace {

class WindowsStartupHost final : public StartupHost {
 public:
  std::wstring HostExecutablePath() override { return pathlight::HostExecutablePath(); }
  void LoadSettings() override { pathlight::LoadSettings(false); }
  RendererChoice Renderer() override { return g_settings.renderer; }
  bool ScanEnabled() override { return g_settings.debug.scan; }
  bool DrawEnabled() override { return g_settings.debug.draw; }
  void InstallGraphicsHooks() override { pathlight::InstallGraphicsHooks(*CurrentSettings()); }
  bool GameInit() override {
    GameScanSettings gates;
    gates.worldEnabled = g_settings.worldEnabled;
    gates.worldToggleKey = g_settings.worldToggle.key;
    gates.wagonRoutingEnabled = g_settings.wagonRoutingEnabled;
    return GameInitOnMainModule(gates);
  }
  void StartFinderThread() override { pathlight::StartFinderThread(); }
  void StartRoadLoaderThread() override { StartRoadLoader(); }
  void StartRouteWorkerThread() override { pathlight::StartRouteWorkerThread(&ReadGameSnapshot); }
  void StartKeysThread() override { pathlight::StartKeysThread(); }
  void WaitForPresentRenderer() override { pathlight::WaitForPresentRenderer(); }
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
