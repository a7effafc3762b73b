// What the fallback renderers need from the system: the game window, a composition visual with a
// Direct2D surface laid over it, and a layered overlay window drawn with GDI+. The decisions (what
// is drawn where, which mode, which log line) live in composition_renderer.cpp and
// overlay_window.cpp; the Windows implementation (fallback_device_win.cpp) only makes the calls.
//
// Thread: the renderer's thread alone creates, uses and releases everything behind a device.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "mapgeom/map_frame.hpp"
#include "mapgeom/map_projection.hpp"
#include "roads/road_graph.hpp"

namespace pathlight {

// A top-level window, as the system's handle value; 0 is none.
using WindowHandle = std::uintptr_t;

// An HRESULT as its 32 bits; 0 and the other non-negative values are success.
using ResultCode = std::uint32_t;
[[nodiscard]] inline bool Succeeded(ResultCode hr) { return static_cast<std::int32_t>(hr) >= 0; }

// Pixels of the client area: left and top inside, right and bottom outside.
struct PixelRect {
  std::int32_t left = 0, top = 0, right = 0, bottom = 0;

  [[nodiscard]] bool Empty() const { return right <= left || bottom <= top; }
  friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

struct ClientSize {
  std::int32_t width = 0, height = 0;
};

// A colour as the settings pack it (red in the lowest byte, alpha in the highest).
struct RouteStroke {
  std::uint32_t colour = 0;
  float alpha = 1;  // multiplies the colour's own alpha
  float width = 0;
};

// The Direct2D drawing of one update, in client coordinates once the translation is set.
class RouteCanvas {
 public:
  virtual ~RouteCanvas() = default;
  virtual void SetTranslation(float dx, float dy) = 0;
  virtual void Clear() = 0;
  // The minimap's disc as a mask for what follows; false when the mask could not be made.
  [[nodiscard]] virtual bool PushCircleLayer(float cx, float cy, float r) = 0;
  virtual void PopLayer() = 0;
  // The [Debug] DrawRoads lines: cyan, 85 % opaque, default stroke.
  virtual void DrawRoadLine(ScreenPoint a, ScreenPoint b, float width) = 0;
  // The route as one open path, nothing for fewer than two points: the outline first, as wide as
  // the route plus outline.width on each side (skipped when outline.width is not above 0), then the
  // route, both with round caps and joins.
  virtual void DrawRoute(std::span<const ScreenPoint> points, const RouteStroke& outline, const RouteStroke& route) = 0;
};

// One picture of the overlay window: the drawn area of the client, where it lies on screen, and
// what is stroked into it.
struct OverlayPicture {
  std::int32_t left = 0, top = 0, width = 0, height = 0;  // client pixels
  std::int32_t screenX = 0, screenY = 0;                  // where (left, top) lies on screen
  bool clipToCircle = false;
  float cx = 0, cy = 0, r = 0;
  std::span<const ScreenPoint> points;
  bool outline = false;
  std::uint32_t outlineArgb = 0;
  float outlineWidth = 0;
  std::uint32_t routeArgb = 0;
  float routeWidth = 0;
};

class FallbackDevice {
 public:
  virtual ~FallbackDevice() = default;

  // ---- time, messages, game -------------------------------------------------------------------
  [[nodiscard]] virtual double NowMs() = 0;
  virtual void SleepMs(std::uint32_t ms) = 0;
  virtual void PumpMessages() = 0;
  // Waits for the compositor's next frame.
  virtual void WaitForCompositorFrame() = 0;
  [[nodiscard]] virtual bool PrepareFrame(MapFrame& frame, const Settings& settings) = 0;
  virtual void CollectRoadLines(float x, float z, float radius, std::vector<GroundPoint>& out) = 0;

  // ---- windows --------------------------------------------------------------------------------
  // The visible top-level window of this process with the largest client area wider than 640,
  // never the overlay window itself.
  [[nodiscard]] virtual WindowHandle FindGameWindow() = 0;
  [[nodiscard]] virtual bool WindowExists(WindowHandle window) = 0;
  [[nodiscard]] virtual bool ReadClientSize(WindowHandle window, ClientSize& size) = 0;
  [[nodiscard]] virtual bool IsMinimised(WindowHandle window) = 0;
  // The client area's top-left corner on screen.
  virtual void ClientOrigin(WindowHandle window, std::int32_t& x, std::int32_t& y) = 0;

  // ---- composition ----------------------------------------------------------------------------
  struct SetupResult {
    bool ok = false;
    bool deviceFailed = false;  // D3D11CreateDevice itself
    ResultCode hr = 0;
  };
  // Direct3D 11, Direct2D, the composition device, a topmost target for the window and a visual.
  [[nodiscard]] virtual SetupResult SetUpComposition(WindowHandle window) = 0;
  // Drops the composition device and everything made from it, and makes them again over the
  // DXGI device, with a Direct2D context of its own for drawing into DXGI surfaces.
  [[nodiscard]] virtual ResultCode RecreateForDxgiSurfaces(WindowHandle window) = 0;
  [[nodiscard]] virtual bool HasTarget() = 0;
  virtual void ReleaseTarget() = 0;
  [[nodiscard]] virtual ResultCode CreateTarget(WindowHandle window) = 0;
  // B8G8R8A8 with premultiplied alpha, made the visual's content.
  [[nodiscard]] virtual ResultCode CreateSurface(std::uint32_t width, std::uint32_t height) = 0;
  virtual void ReleaseSurface() = 0;
  // The visual as the target's root (shown) or no root (hidden).
  virtual void SetVisualAttached(bool attached) = 0;
  virtual void Commit() = 0;
  // Opens the surface for drawing the update rectangle; on success the canvas draws into it, and
  // (offsetX, offsetY) is where the rectangle's corner lies in what the canvas draws on.
  [[nodiscard]] virtual ResultCode BeginDraw(const PixelRect& update, bool dxgiSurfaces, std::int32_t& offsetX,
                                             std::int32_t& offsetY) = 0;
  [[nodiscard]] virtual RouteCanvas& Canvas() = 0;
  virtual void EndDraw() = 0;

  // ---- overlay window -------------------------------------------------------------------------
  // GDI+ and the window class; false when GDI+ did not start.
  [[nodiscard]] virtual bool StartOverlayDrawing() = 0;
  // A hidden layered window owned by `owner`; false with the system's error code on failure.
  [[nodiscard]] virtual bool CreateOverlayWindow(WindowHandle owner, std::uint32_t& error) = 0;
  [[nodiscard]] virtual bool OverlayWindowExists() = 0;
  virtual void SetOverlayOwner(WindowHandle owner) = 0;
  virtual void ShowOverlayWindow(bool shown) = 0;
  // The pixel buffer the picture is drawn into, width x height; the renderer keeps its size.
  [[nodiscard]] virtual bool CreatePixelBuffer(std::int32_t width, std::int32_t height) = 0;
  virtual void ReleasePixelBuffer() = 0;
  // Clears the buffer, strokes the picture into it and pushes it to the window at its place;
  // false with the system's error code when the window would not take it.
  [[nodiscard]] virtual bool PaintOverlay(const OverlayPicture& picture, std::uint32_t& error) = 0;
};

}  // namespace pathlight
