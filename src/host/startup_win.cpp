// The init thread of the DLL: the start-up sequence with the real subsystems behind it.
//
// With Present the hooks are installed before the scan and the wait for the in-frame renderer
// decides; when it gives up (no D3D12 swap chain, or the renderer handed over), the Composition
// renderer takes the init thread, as it does at once with Composition.
#include <windows.h>

#include "fallback/composition_renderer_win.hpp"
#include "game/finder_win.hpp"
#include "game/game_init_win.hpp"
#include "hooks/graphics_hooks_win.hpp"
#include "host/init_thread_win.hpp"
#include "host/keys_win.hpp"
#include "host/route_worker_thread_win.hpp"
#include "host/startup.hpp"
#include "platform/folders.hpp"
#include "platform/threads.hpp"
#include "render12/present_renderer_win.hpp"
#include "roads/road_loader_thread_win.hpp"
#include "settings/settings_load.hpp"

namespace pathlight {

namespace {

class WindowsStartupHost final : public StartupHost {
 public:
  std::wstring HostExecutablePath() override { return pathlight::HostExecutablePath(); }
  void LoadSettings() override { pathlight::LoadSettings(false); }
  // Start-only values: a reload keeps them, so any record in force gives the same answer.
  RendererChoice Renderer() override { return CurrentSettings()->renderer; }
  bool ScanEnabled() override { return CurrentSettings()->debug.scan; }
  bool DrawEnabled() override { return CurrentSettings()->debug.draw; }
  void InstallGraphicsHooks() override { pathlight::InstallGraphicsHooks(*CurrentSettings()); }
  bool GameInit() override {
    const SettingsPtr settings = CurrentSettings();
    GameScanSettings gates;
    gates.worldEnabled = settings->worldEnabled;
    gates.worldToggleKey = settings->worldToggle.key;
    gates.wagonRoutingEnabled = settings->wagonRoutingEnabled;
    return GameInitOnMainModule(gates);
  }
  void StartFinderThread() override { pathlight::StartFinderThread(); }
  void StartRoadLoaderThread() override { StartRoadLoader(); }
  void StartRouteWorkerThread() override { pathlight::StartRouteWorkerThread(); }
  void StartKeysThread() override { pathlight::StartKeysThread(); }
  void WaitForPresentRenderer() override {
    // Only a library that recognised the game draws; until here, and for good with [Debug] Draw=0,
    // the presents reach the counting stand-in: no objects, no drawing.
    if (CurrentSettings()->debug.draw) InstallInFrameRenderer();
    pathlight::WaitForPresentRenderer();
  }
  void RunCompositionRenderer() override { pathlight::RunCompositionRenderer(); }
};

void InitThread() {
  try {
    WindowsStartupHost host;
    RunStartup(host);
  } catch (...) {
    // Nothing may leave a thread body; the library simply stays as far as it got.
  }
}

}  // namespace

void StartInitThread() {
  // Under the loader lock, before the log is open: a refusal leaves the library inactive, unlogged.
  StartThread("init", &InitThread, StartFailure::Silent);
}

}  // namespace pathlight
