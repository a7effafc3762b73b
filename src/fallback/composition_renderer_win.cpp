#include "fallback/composition_renderer_win.hpp"

#include "fallback/fallback_device_win.hpp"
#include "fallback/fallback_renderer.hpp"

namespace pathlight {

void RunCompositionRenderer() {
  // Never destroyed: the loop below does not end, and at process exit nothing may be released from
  // a thread that is already gone.
  auto& device = *new WindowsFallbackDevice;
  auto& renderer = *new FallbackRenderer;
  if (!StartCompositionRenderer(renderer, device, *CurrentSettings())) return;
  for (;;) {
    // One settings record per pass, so a reload never shows a tick half of a file.
    const SettingsPtr settings = CurrentSettings();
    CompositionLoopPass(renderer, device, *settings);
  }
}

}  // namespace pathlight
