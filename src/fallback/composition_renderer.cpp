// The Composition renderer's decisions: start-up and its fall-backs, the tick (diagnostics, window
// check, what is drawn and where), the surface and the update rectangle, the draw failures.
#include <algorithm>
#include <cmath>
#include <limits>

#include "fallback/fallback_renderer.hpp"
#include "platform/log.hpp"
#include "mapgeom/route_geometry.hpp"

namespace pathlight {

namespace {

constexpr const char* kRefusesToDraw = "composition refuses to draw";

void* AsPointer(WindowHandle window) { return reinterpret_cast<void*>(window); }
unsigned long Hr(ResultCode hr) { return static_cast<unsigned long>(hr); }

void ForgetSurface(FallbackRenderer& r, FallbackDevice& device) {
  device.ReleaseSurface();
  r.surfaceExists = false;
  r.surfaceWidth = r.surfaceHeight = 0;
}

// Composition cannot draw: the overlay window takes over, or nothing draws any more.
void LeaveComposition(FallbackRenderer& r, FallbackDevice& device, const char* reason) {
  if (r.overlayWindowMode) return;
  if (!SwitchToOverlayWindow(r, device, reason)) {
    r.rendererGaveUp = true;
    Log("Composition: no surface; the route will not be drawn");
  }
}

void DrawFailed(FallbackRenderer& r, FallbackDevice& device, ResultCode hr) {
  Log("Composition: BeginDraw failed (hr=0x%08lX)", Hr(hr));
  ForgetSurface(r, device);  // the next tick makes a new one
  const bool giveUp =
      r.dxgiSurfaceMode ? ++r.dxgiDrawFailures >= kDxgiDrawFailuresToGiveUp : !RetryWithDxgiSurfaces(r, device);
  if (giveUp) LeaveComposition(r, device, kRefusesToDraw);
}

void LogDiagnostics(const FallbackRenderer& r) {
  const GameSnapshot& g = r.frame.snapshot;
  Log("Diag: ticks=%ld drawn=%ld player=%d (%.1f,%.1f) minimap=%d alpha=%.2f rot=%.1f zoom=%.2f worldmap=%d route=%zu "
      "-> mm=%d wm=%d "
      "shown=%d",
      r.ticks, r.drawn, g.playerValid, g.playerX, g.playerZ, g.minimapValid, g.minimapAlpha, g.minimapRotation,
      g.minimapZoom, g.worldMapOpen, r.frame.routePolyline.size(), r.frame.drawMinimap, r.frame.drawWorldMap,
      r.routeShown ? 1 : 0);
}

void CheckGameWindow(FallbackRenderer& r, FallbackDevice& device) {
  const WindowHandle window = device.FindGameWindow();
  if (window == 0 || window == r.gameWindow) return;
  if (r.overlayWindowMode) {
    r.gameWindow = window;
    if (device.OverlayWindowExists()) {
      device.SetOverlayOwner(window);
    } else if (!CreateOverlayWindow(r, device)) {
      r.rendererGaveUp = true;
      return;
    }
    Log("Overlay window: now over window %p", AsPointer(window));
    return;
  }
  if (r.routeShown) {
    device.SetVisualAttached(false);
    r.routeShown = false;
  }
  ForgetSurface(r, device);
  device.ReleaseTarget();
  const ResultCode hr = device.CreateTarget(window);
  if (!Succeeded(hr)) {
    // The game window stays the old one, so the next check tries again.
    Log("Composition: CreateTargetForHwnd(%p) failed (hr=0x%08lX)", AsPointer(window), Hr(hr));
    return;
  }
  r.gameWindow = window;
  r.fullRedraw = true;
  device.Commit();
  ClientSize size;
  if (!device.ReadClientSize(window, size)) size = {};
  Log("Composition: now on window %p (%ldx%ld)", AsPointer(window), static_cast<long>(size.width),
      static_cast<long>(size.height));
}

}  // namespace

// ---- start and loop -----------------------------------------------------------------------------

bool StartCompositionRenderer(FallbackRenderer& r, FallbackDevice& device, const Settings& settings) {
  for (int attempt = 0; attempt < kGameWindowTries; ++attempt) {
    r.gameWindow = device.FindGameWindow();
    if (r.gameWindow != 0) break;
    device.SleepMs(kGameWindowRetryMs);
  }
  if (r.gameWindow == 0) {
    Log("Composition: game window not found");
    return false;
  }
  // The game is often still switching display modes right after its window appears.
  device.SleepMs(kSettleMs);
  if (settings.debug.overlayWindow) return SwitchToOverlayWindow(r, device, "Debug OverlayWindow=1");
  if (SetUpComposition(r, device)) return true;
  return SwitchToOverlayWindow(r, device, "composition setup failed");
}

void CompositionLoopPass(FallbackRenderer& r, FallbackDevice& device, const Settings& settings) {
  const double start = device.NowMs();
  device.PumpMessages();
  // While something is shown the compositor paces the loop; while hidden a short sleep does.
  if (r.routeShown) {
    device.WaitForCompositorFrame();
  } else {
    device.SleepMs(kHiddenTickSleepMs);
  }
  if (device.NowMs() - start < 1.0) device.SleepMs(kShortPassSleepMs);
  CompositionTick(r, device, settings);
}

// ---- set-up and surfaces ------------------------------------------------------------------------

bool SetUpComposition(FallbackRenderer& r, FallbackDevice& device) {
  const FallbackDevice::SetupResult result = device.SetUpComposition(r.gameWindow);
  if (!result.ok) {
    if (result.deviceFailed) {
      Log("Composition: D3D11CreateDevice failed (hr=0x%08lX)", Hr(result.hr));
    } else {
      Log("Composition: setup failed (hr=0x%08lX)", Hr(result.hr));
    }
    return false;
  }
  Log("Composition: ready on window %p", AsPointer(r.gameWindow));
  return true;
}

bool EnsureSurface(FallbackRenderer& r, FallbackDevice& device, const Settings& settings, std::uint32_t width,
                   std::uint32_t height) {
  if (r.surfaceExists) {
    if (r.surfaceWidth == width && r.surfaceHeight == height) return true;
    ForgetSurface(r, device);
  }
  const char* reason = nullptr;
  if (settings.debug.dxgiSurfaces && !r.dxgiSurfaceMode && !RetryWithDxgiSurfaces(r, device))
    reason = "DXGI surface setup failed";
  while (reason == nullptr) {
    const ResultCode hr = device.CreateSurface(width, height);
    if (Succeeded(hr)) {
      r.surfaceExists = true;
      r.surfaceWidth = width;
      r.surfaceHeight = height;
      r.fullRedraw = true;
      Log("Composition: surface %ux%u", width, height);
      return true;
    }
    Log("Composition: CreateSurface %ux%u failed (hr=0x%08lX)", width, height, Hr(hr));
    // One more try in DXGI mode, then no more.
    if (r.dxgiSurfaceMode || !RetryWithDxgiSurfaces(r, device)) reason = "composition has no surface";
  }
  LeaveComposition(r, device, reason);
  return false;
}

bool RetryWithDxgiSurfaces(FallbackRenderer& r, FallbackDevice& device) {
  if (r.routeShown) {
    device.SetVisualAttached(false);
    r.routeShown = false;
  }
  r.surfaceExists = false;
  r.surfaceWidth = r.surfaceHeight = 0;
  const ResultCode hr = device.RecreateForDxgiSurfaces(r.gameWindow);
  if (!Succeeded(hr)) {
    Log("Composition: DXGI surface setup failed (hr=0x%08lX)", Hr(hr));
    return false;
  }
  r.dxgiSurfaceMode = true;
  Log("Composition: retrying with DXGI surfaces");
  return true;
}

void HideRoute(FallbackRenderer& r, FallbackDevice& device) {
  if (!r.routeShown) return;
  if (r.overlayWindowMode) {
    device.ShowOverlayWindow(false);
  } else {
    device.SetVisualAttached(false);
    device.Commit();
  }
  r.routeShown = false;
}

// ---- tick ---------------------------------------------------------------------------------------

void CompositionTick(FallbackRenderer& r, FallbackDevice& device, const Settings& settings) {
  const bool something = device.PrepareFrame(r.frame, settings);
  ++r.ticks;

  const double now = device.NowMs();
  if (now >= r.nextDiagnostic) {
    if (r.nextDiagnostic != 0) LogDiagnostics(r);
    r.nextDiagnostic = now + kDiagnosticIntervalMs;
    r.ticks = r.drawn = 0;
  }
  if (r.rendererGaveUp) return;

  if (now >= r.nextWindowCheck) {
    r.nextWindowCheck = now + kWindowCheckMs;
    CheckGameWindow(r, device);
    if (r.rendererGaveUp) return;
  }

  if (!r.overlayWindowMode && !device.HasTarget()) return;
  if (!device.WindowExists(r.gameWindow)) return;
  ClientSize client;
  if (!device.ReadClientSize(r.gameWindow, client)) return;
  if (!something || client.width < kMinDrawnClientSize || client.height < kMinDrawnClientSize ||
      device.IsMinimised(r.gameWindow)) {
    HideRoute(r, device);
    return;
  }

  // The screen polyline and the area it may touch.
  const MapFrame& frame = r.frame;
  const float width = static_cast<float>(client.width), height = static_cast<float>(client.height);
  const float s = ScreenScale(height);
  const float spacing = CornerSpacing(s), cornerRadius = settings.cornerRadius * s;
  MinimapCircle circle;
  PixelRect dirty;
  if (frame.drawMinimap) {
    circle = PlaceMinimap(frame.snapshot, height, settings);
    ProjectToMinimap(frame.routePolyline, frame.snapshot, circle, r.projected);
    CutToMinimapReach(r.projected, circle);
    RoundCorners(r.projected, spacing, cornerRadius, r.polyline);
    dirty = MinimapDirtyRect(circle);
  } else {
    ProjectToWorldMap(frame.routePolyline, frame.snapshot, width, height, settings, r.projected);
    const float stroke = (2 * settings.outlineWidth + settings.worldMapLineWidth) * s;
    RoundCornersOnScreen(r.projected, width, height, OffScreenMargin(cornerRadius, stroke), spacing, cornerRadius,
                         r.polyline);
    dirty = PolylineDirtyRect(r.polyline, stroke + 2);
  }

  if (r.overlayWindowMode) {
    if (DrawOverlay(r, device, settings, frame, r.polyline, dirty, circle.centerX, circle.centerY, circle.radius, s))
      ++r.drawn;
    return;
  }

  if (!EnsureSurface(r, device, settings, static_cast<std::uint32_t>(client.width),
                     static_cast<std::uint32_t>(client.height)) ||
      r.overlayWindowMode) {
    return;
  }
  const PixelRect update = UpdateRectangle(r.fullRedraw, dirty, r.previousDirtyRect, r.surfaceWidth, r.surfaceHeight);
  std::int32_t offsetX = 0, offsetY = 0;
  const ResultCode hr = device.BeginDraw(update, r.dxgiSurfaceMode, offsetX, offsetY);
  if (!Succeeded(hr)) {
    DrawFailed(r, device, hr);
    return;
  }

  CompositionPicture picture;
  picture.dx = static_cast<float>(offsetX - update.left);
  picture.dy = static_cast<float>(offsetY - update.top);
  picture.polyline = r.polyline;
  picture.minimap = frame.drawMinimap != 0;
  const float alpha = frame.drawMinimap ? frame.snapshot.minimapAlpha : 1.0f;
  const float lineWidth = (frame.drawMinimap ? settings.minimapLineWidth : settings.worldMapLineWidth) * s;
  picture.outline = {settings.outlineColor, alpha, settings.outlineWidth * s};
  picture.route = {settings.routeColor, alpha, lineWidth};
  r.roadPoints.clear();
  if (frame.drawMinimap) {
    picture.circle = circle;
    if (settings.debug.drawRoads) {
      r.roadLines.clear();
      device.CollectRoadLines(frame.snapshot.playerX, frame.snapshot.playerZ,
                              MinimapRoadLinesRadius(settings, frame.snapshot), r.roadLines);
      ProjectToMinimap(r.roadLines, frame.snapshot, circle, r.roadPoints);
      picture.roadPairs = r.roadPoints;
      picture.roadWidth = 1.5f * s;
    }
  }
  DrawCompositionPicture(device.Canvas(), picture);
  device.EndDraw();

  if (!r.routeShown) {
    device.SetVisualAttached(true);
    r.routeShown = true;
  }
  device.Commit();
  r.previousDirtyRect = dirty;
  r.fullRedraw = false;
  ++r.drawn;
}

void DrawCompositionPicture(RouteCanvas& canvas, const CompositionPicture& picture) {
  canvas.SetTranslation(picture.dx, picture.dy);
  canvas.Clear();
  if (!picture.minimap) {
    canvas.DrawRoute(picture.polyline, picture.outline, picture.route);
    return;
  }
  const MinimapCircle& c = picture.circle;
  const bool layer = canvas.PushCircleLayer(c.centerX, c.centerY, c.radius);
  for (std::size_t i = 0; i + 1 < picture.roadPairs.size(); i += 2) {
    canvas.DrawRoadLine(picture.roadPairs[i], picture.roadPairs[i + 1], picture.roadWidth);
  }
  canvas.DrawRoute(picture.polyline, picture.outline, picture.route);
  if (layer) canvas.PopLayer();
}

// ---- pure helpers -------------------------------------------------------------------------------

namespace {

constexpr double kPixelLimit = 1 << 30;

double HeldPixel(double v) { return std::isnan(v) ? 0.0 : std::clamp(v, -kPixelLimit, kPixelLimit); }

}  // namespace

std::int32_t TruncatePixel(double v) { return static_cast<std::int32_t>(HeldPixel(v)); }
std::int32_t FloorPixel(double v) { return static_cast<std::int32_t>(std::floor(HeldPixel(v))); }
std::int32_t CeilPixel(double v) { return static_cast<std::int32_t>(std::ceil(HeldPixel(v))); }

PixelRect MinimapDirtyRect(const MinimapCircle& circle) {
  const double x = circle.centerX, y = circle.centerY, reach = static_cast<double>(circle.radius) + 2;
  return {TruncatePixel(x - reach), TruncatePixel(y - reach), TruncatePixel(x + reach), TruncatePixel(y + reach)};
}

PixelRect PolylineDirtyRect(std::span<const ScreenPoint> points, float margin) {
  if (points.empty()) return {};
  float minX = points[0].x, minY = points[0].y, maxX = minX, maxY = minY;
  for (const ScreenPoint& p : points) {
    minX = std::min(minX, p.x);
    minY = std::min(minY, p.y);
    maxX = std::max(maxX, p.x);
    maxY = std::max(maxY, p.y);
  }
  const double m = margin;
  return {FloorPixel(minX - m), FloorPixel(minY - m), CeilPixel(maxX + m), CeilPixel(maxY + m)};
}

PixelRect UpdateRectangle(bool fullRedraw, const PixelRect& dirty, const PixelRect& previous,
                          std::uint32_t surfaceWidth, std::uint32_t surfaceHeight) {
  const auto w = static_cast<std::int32_t>(std::min<std::uint32_t>(surfaceWidth, 1u << 30));
  const auto h = static_cast<std::int32_t>(std::min<std::uint32_t>(surfaceHeight, 1u << 30));
  PixelRect u;
  if (fullRedraw) {
    u = {0, 0, w, h};
  } else if (dirty.right <= dirty.left) {
    u = previous;
  } else if (previous.right <= previous.left) {
    u = dirty;
  } else {
    u = {std::min(dirty.left, previous.left), std::min(dirty.top, previous.top), std::max(dirty.right, previous.right),
         std::max(dirty.bottom, previous.bottom)};
  }
  u.left = std::max(u.left, 0);
  u.top = std::max(u.top, 0);
  u.right = std::min(u.right, w);
  u.bottom = std::min(u.bottom, h);
  if (u.Empty()) u = {0, 0, 1, 1};
  return u;
}

ColourF ColourComponents(std::uint32_t colour, float alpha) {
  return {static_cast<float>(colour & 0xFF) / 255.0f, static_cast<float>((colour >> 8) & 0xFF) / 255.0f,
          static_cast<float>((colour >> 16) & 0xFF) / 255.0f, static_cast<float>(colour >> 24) / 255.0f * alpha};
}

}  // namespace pathlight
