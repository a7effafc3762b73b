// The fallback renderers' state and operations: the Composition renderer (a composition visual over
// the game window, drawn with Direct2D) and the overlay window it switches to when composition is
// missing or refuses to draw (a layered window drawn with GDI+). One thread runs both: the init
// thread, which becomes the renderer's thread.
//
// Modes only move forward: composition -> composition with DXGI surfaces -> overlay window ->
// given up. Giving up stops the drawing, not the ticks or the diagnostic lines.
//
// Sections: the state, the Composition renderer, the overlay window, the pure helpers.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "fallback/fallback_device.hpp"
#include "settings/settings.hpp"
#include "mapgeom/map_frame.hpp"
#include "mapgeom/map_projection.hpp"

namespace pathlight {

// ---- state --------------------------------------------------------------------------------------

inline constexpr double kWindowCheckMs = 1000;
inline constexpr double kDiagnosticIntervalMs = 5000;
inline constexpr int kDxgiDrawFailuresToGiveUp = 3;
// Below this client width or height there is no game to draw over (a minimised or tiny window).
inline constexpr std::int32_t kMinDrawnClientSize = 64;

// What the overlay window last showed, to skip a picture that has not changed. Left, top and the
// client origin are stored as floats; the last word is OutlineWidth x 100 + the line width. The
// drawn width and height complete it: the area can shrink at the client's edge while all else
// stays.
using OverlayKey = std::array<std::uint32_t, 10>;

struct OverlayWindowState {
  std::int32_t bufferWidth = 0, bufferHeight = 0;  // 0 x 0: no pixel buffer
  std::vector<ScreenPoint> previousPolyline;
  OverlayKey previousKey{};
  bool failureLogged = false;  // UpdateLayeredWindow's, once per process
};

struct FallbackRenderer {
  WindowHandle gameWindow = 0;
  bool routeShown = false;
  bool fullRedraw = false;
  bool dxgiSurfaceMode = false;
  bool overlayWindowMode = false;
  bool rendererGaveUp = false;
  bool surfaceExists = false;
  std::uint32_t surfaceWidth = 0, surfaceHeight = 0;
  PixelRect previousDirtyRect;
  int dxgiDrawFailures = 0;
  double nextWindowCheck = 0;
  double nextDiagnostic = 0;
  long ticks = 0, drawn = 0;
  OverlayWindowState overlay;

  // Scratch reused from tick to tick.
  MapFrame frame;
  std::vector<ScreenPoint> projected;
  std::vector<ScreenPoint> polyline;
  std::vector<GroundPoint> roadLines;
  std::vector<ScreenPoint> roadPoints;
};

// ---- Composition renderer -----------------------------------------------------------------------

inline constexpr int kGameWindowTries = 600;
inline constexpr std::uint32_t kGameWindowRetryMs = 500;
inline constexpr std::uint32_t kSettleMs = 2000;
inline constexpr std::uint32_t kHiddenTickSleepMs = 16;
inline constexpr std::uint32_t kShortPassSleepMs = 4;

// Finds the game window, waits for it to settle and sets up composition or the overlay window.
// False when there is nothing to draw with: the thread then ends.
[[nodiscard]] bool StartCompositionRenderer(FallbackRenderer& r, FallbackDevice& device, const Settings& settings);
// One pass of the renderer's loop: messages, pacing, one tick.
void CompositionLoopPass(FallbackRenderer& r, FallbackDevice& device, const Settings& settings);

[[nodiscard]] bool SetUpComposition(FallbackRenderer& r, FallbackDevice& device);
[[nodiscard]] bool EnsureSurface(FallbackRenderer& r, FallbackDevice& device, const Settings& settings,
                                 std::uint32_t width, std::uint32_t height);
[[nodiscard]] bool RetryWithDxgiSurfaces(FallbackRenderer& r, FallbackDevice& device);
void CompositionTick(FallbackRenderer& r, FallbackDevice& device, const Settings& settings);
void HideRoute(FallbackRenderer& r, FallbackDevice& device);

// What one composition update draws, in client coordinates after the translation.
struct CompositionPicture {
  float dx = 0, dy = 0;
  bool minimap = false;
  MinimapCircle circle;
  std::span<const ScreenPoint> roadPairs;  // [Debug] DrawRoads: pairs of points, projected
  float roadWidth = 0;
  std::span<const ScreenPoint> polyline;
  RouteStroke outline, route;
};
void DrawCompositionPicture(RouteCanvas& canvas, const CompositionPicture& picture);

// ---- overlay window -----------------------------------------------------------------------------

[[nodiscard]] bool SwitchToOverlayWindow(FallbackRenderer& r, FallbackDevice& device, const char* reason);
[[nodiscard]] bool CreateOverlayWindow(FallbackRenderer& r, FallbackDevice& device);
// True when the window was updated.
[[nodiscard]] bool DrawOverlay(FallbackRenderer& r, FallbackDevice& device, const Settings& settings,
                               const MapFrame& frame, std::span<const ScreenPoint> points, const PixelRect& rect,
                               float cx, float cy, float radius, float scale);

// ---- pure helpers -------------------------------------------------------------------------------

// GDI+'s ARGB for a settings colour with its alpha multiplied by `alpha`.
[[nodiscard]] std::uint32_t PenArgb(std::uint32_t colour, float alpha);
// Direct2D's straight-alpha components of a settings colour, alpha multiplied by `alpha`.
struct ColourF {
  float r, g, b, a;
};
[[nodiscard]] ColourF ColourComponents(std::uint32_t colour, float alpha);

// A pixel coordinate from a float that may be garbage: NaN gives 0, the rest is held within
// +-2^30 so sums of two never overflow.
[[nodiscard]] std::int32_t TruncatePixel(double v);
[[nodiscard]] std::int32_t FloorPixel(double v);
[[nodiscard]] std::int32_t CeilPixel(double v);

[[nodiscard]] PixelRect MinimapDirtyRect(const MinimapCircle& circle);
// The bounds of the points widened by `margin`; empty for no points.
[[nodiscard]] PixelRect PolylineDirtyRect(std::span<const ScreenPoint> points, float margin);
// The surface area to redraw: the whole surface, or the union of this and the last drawing's area
// (an empty one takes no part), clamped to the surface, never empty.
[[nodiscard]] PixelRect UpdateRectangle(bool fullRedraw, const PixelRect& dirty, const PixelRect& previous,
                                        std::uint32_t surfaceWidth, std::uint32_t surfaceHeight);

}  // namespace pathlight
