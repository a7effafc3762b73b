// The start-up sequence of the init thread: host check, version line, settings, graphics hooks,
// game image scan, the four worker threads, the renderer line, and the hand-over to rendering.
// The order is fixed here; the pieces come from a StartupHost so the sequence runs natively in
// tests with fakes and in the DLL with the real subsystems.
#pragma once

#include <string>

#include "settings/settings.hpp"

namespace pathlight {

// The version is the build's (CMake's project version), the one the release package is named after.
inline constexpr const char* kVersionLine = "Pathlight " PATHLIGHT_VERSION " loaded";

[[nodiscard]] const char* RendererDescription(RendererChoice renderer);

class StartupHost {
 public:
  virtual ~StartupHost() = default;

  virtual std::wstring HostExecutablePath() = 0;
  // First-load settings; logs the two "Config:" lines and sets the world route toggle.
  virtual void LoadSettings() = 0;
  virtual RendererChoice Renderer() = 0;
  virtual bool ScanEnabled() = 0;  // [Debug] Scan
  virtual bool DrawEnabled() = 0;  // [Debug] Draw
  virtual void InstallGraphicsHooks() = 0;
  [[nodiscard]] virtual bool GameInit() = 0;
  virtual void StartFinderThread() = 0;
  virtual void StartRoadLoaderThread() = 0;
  virtual void StartRouteWorkerThread() = 0;
  virtual void StartKeysThread() = 0;
  // Returns once the Present renderer has handed over or never started.
  virtual void WaitForPresentRenderer() = 0;
  // Runs on the calling thread; does not return in normal operation.
  virtual void RunCompositionRenderer() = 0;
};

enum class StartupOutcome { NotHost, Inactive, RendererNone, RendererReturned };

// Runs the whole sequence on the calling thread (the init thread).
StartupOutcome RunStartup(StartupHost& host);

}  // namespace pathlight
