#include "host/startup.hpp"

#include "platform/log.hpp"
#include "platform/paths.hpp"

namespace pathlight {

const char* RendererDescription(RendererChoice renderer) {
  switch (renderer) {
    case RendererChoice::Composition: return "Composition (DirectComposition)";
    case RendererChoice::None: return "None (no graphics hooks, nothing drawn)";
    case RendererChoice::Present: break;
  }
  return "Present (in-frame D3D12)";
}

StartupOutcome RunStartup(StartupHost& host) {
  // Outside the game nothing may happen at all, not even the log's rotation.
  if (!IsHostExecutable(host.HostExecutablePath())) return StartupOutcome::NotHost;

  Log("%s", kVersionLine);
  host.LoadSettings();

  // The renderer chosen now stays chosen for the run: a reload never re-reads it.
  const RendererChoice renderer = host.Renderer();
  // Before the image scan, so that swap chains created from now on are seen.
  if (renderer == RendererChoice::Present) host.InstallGraphicsHooks();

  if (!host.GameInit()) {
    Log("Init: game layout not recognised, Pathlight stays inactive");
    return StartupOutcome::Inactive;
  }

  host.StartFinderThread();
  host.StartRoadLoaderThread();
  host.StartRouteWorkerThread();
  host.StartKeysThread();

  Log("Renderer: %s; scanning %s", RendererDescription(renderer), host.ScanEnabled() ? "on" : "OFF");
  if (!host.DrawEnabled()) Log("Debug: Draw=0, the Present renderer will not create graphics objects or draw");

  switch (renderer) {
    case RendererChoice::None: return StartupOutcome::RendererNone;
    case RendererChoice::Present:
      host.WaitForPresentRenderer();
      // It gave up on the swap chain, or never saw one: the Composition renderer takes over.
      host.RunCompositionRenderer();
      return StartupOutcome::RendererReturned;
    case RendererChoice::Composition: host.RunCompositionRenderer(); return StartupOutcome::RendererReturned;
  }
  return StartupOutcome::RendererReturned;
}

}  // namespace pathlight
