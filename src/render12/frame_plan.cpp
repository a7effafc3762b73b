#include "render12/frame_plan.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <vector>

#include "platform/log.hpp"

namespace pathlight {

FrameDecisions DecideFrame(const Settings& settings, const GameSnapshot& snapshot, std::size_t routePoints,
                           bool minimapRouteShown, bool worldRouteShown) {
  FrameDecisions d;
  const bool minimapShown = snapshot.minimapAlpha > kLeastMinimapAlpha;  // false for NaN
  d.minimap = settings.minimapEnabled && minimapRouteShown && snapshot.minimapValid && !snapshot.worldMapOpen &&
              minimapShown && snapshot.playerValid;
  d.worldMap = settings.worldMapEnabled && snapshot.worldMapOpen;
  d.routeUsable = routePoints >= 2;
  d.ribbon = worldRouteShown && snapshot.cameraValid && snapshot.playerValid && !snapshot.worldMapOpen &&
             minimapShown && (!settings.mountedOnly || snapshot.mountState >= kMountRiding);
  d.roadDebug = settings.debug.drawRoads && d.minimap;
  const bool routeDrawn = d.routeUsable && (d.minimap || d.worldMap || d.ribbon);
  d.goOn = settings.debug.draw && (settings.debug.testPattern || d.roadDebug || routeDrawn);
  return d;
}

bool ClaimDiagnostic(std::atomic<std::uint32_t>& nextTick, std::uint32_t now) {
  std::uint32_t next = nextTick.load();
  // Compared as a signed difference so that the tick count's wrap after 49 days keeps the period.
  if (next != 0 && static_cast<std::int32_t>(now - next) < 0) return false;
  std::uint32_t moved = now + kDiagnosticPeriodMs;
  if (moved == 0) moved = 1;  // 0 means "never written"
  return nextTick.compare_exchange_strong(next, moved);
}

std::string DiagnosticLine(const DiagnosticFacts& facts, const GameSnapshot& s, const FrameDecisions& d) {
  char text[640];
  std::snprintf(text, sizeof text,
                "Diag: presents=%ld drawn=%ld sc=%p player=%d (%.1f,%.1f) clock %.2f minimap=%d alpha=%.2f rot=%.1f "
                "zoom=%.2f scale=%.2f worldmap=%d centre=(%.0f,%.0f) zoom=%.2f route=%zu -> draw mm=%d wm=%d world=%d "
                "(on=%d cam=%d%s%s)",
                facts.presents, facts.drawn, facts.swapchain, s.playerValid, s.playerX, s.playerZ, s.clockHours,
                s.minimapValid, s.minimapAlpha, s.minimapRotation, s.minimapZoom, s.widgetScale, s.worldMapOpen,
                s.worldMapCenterX, s.worldMapCenterY, s.worldMapZoom, facts.routePoints, d.minimap, d.worldMap,
                d.ribbon, facts.worldRouteShown, s.cameraValid, s.cameraFromDlss ? " dlss" : "",
                facts.occlusionUsed ? " occl" : "");
  return text;
}

OutputChoice ChooseOutputMode(const Settings& settings, std::int32_t format, std::int32_t colourSpace) {
  OutputChoice choice;
  if (settings.hdrMode >= 0 && settings.hdrMode <= 2) {
    choice.mode = static_cast<std::uint32_t>(settings.hdrMode);
  } else if (format == kFormatR16G16B16A16Float) {
    choice.mode = kOutputScRgb;
  } else if (format == kFormatR10G10B10A2Unorm && colourSpace == kColourSpacePq2020) {
    choice.mode = kOutputHdr10;
  }
  // The white level becomes a shader macro: a value the HLSL compiler cannot read ("nan", "inf")
  // would fail the whole set-up, so garbage falls back to the default.
  const float white = settings.hdrWhiteNits;
  choice.whiteNits = std::isfinite(white) && white > 0 ? std::min(white, 10000.0f) : 203.0f;
  return choice;
}

bool ChooseSwapChain(PresentingSwapChain& drawn, const PresentingSwapChain& presenting, std::uintptr_t mainWindow) {
  if (presenting == drawn) return true;
  const auto onMain = [&](const PresentingSwapChain& s) { return mainWindow != 0 && s.window == mainWindow; };
  const bool takes = drawn.swapchain == nullptr || onMain(presenting) > onMain(drawn) ||
                     (onMain(presenting) == onMain(drawn) && presenting.creation > drawn.creation);
  if (takes) drawn = presenting;
  return takes;
}

bool NeedsRebuild(const TargetShape& built, const TargetShape& now, bool rebuildRequested) {
  return rebuildRequested || !(built == now);
}

bool SetupDue(std::uint32_t now, std::uint32_t retryTick) {
  return retryTick == 0 || static_cast<std::int32_t>(now - retryTick) >= 0;
}

bool ShapeBuildable(const TargetShape& shape) {
  return shape.swapchain != nullptr && shape.bufferCount >= 1 && shape.bufferCount <= kMostBuffers &&
         shape.width >= 1 && shape.width <= kLargestSide && shape.height >= 1 && shape.height <= kLargestSide;
}

bool ReportFailure(const char* name, std::int32_t hr) {
  static std::mutex mutex;
  static std::vector<std::string> reported;
  {
    std::lock_guard lock(mutex);
    if (std::find(reported.begin(), reported.end(), name) != reported.end()) return false;
    reported.emplace_back(name);
  }
  Log("Overlay: %s failed (hr=0x%08lX)", name, static_cast<unsigned long>(static_cast<std::uint32_t>(hr)));
  return true;
}

}  // namespace pathlight
