// The overlay window's decisions: the switch to it, its creation, and what each tick pushes into it
// (or does not, when the picture has not changed).
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "fallback/fallback_renderer.hpp"
#include "platform/log.hpp"

namespace pathlight {

namespace {

std::uint32_t FloatBits(float v) { return std::bit_cast<std::uint32_t>(v); }

bool SamePoints(std::span<const ScreenPoint> a, std::span<const ScreenPoint> b) {
  return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size_bytes()) == 0);
}

}  // namespace

bool SwitchToOverlayWindow(FallbackRenderer& r, FallbackDevice& device, const char* reason) {
  if (r.routeShown && device.HasTarget()) {
    device.SetVisualAttached(false);
    device.Commit();
  }
  r.routeShown = false;
  if (r.surfaceExists) {
    device.ReleaseSurface();
    r.surfaceExists = false;
    r.surfaceWidth = r.surfaceHeight = 0;
  }
  if (!device.StartOverlayDrawing()) {
    Log("Overlay window: GDI+ did not start");
    return false;
  }
  if (!CreateOverlayWindow(r, device)) return false;
  r.overlayWindowMode = true;
  Log("Overlay window: %s; drawing the route in an overlay window instead (minimap and world map)", reason);
  return true;
}

bool CreateOverlayWindow(FallbackRenderer& r, FallbackDevice& device) {
  std::uint32_t error = 0;
  const bool made = device.CreateOverlayWindow(r.gameWindow, error);
  r.routeShown = false;
  if (!made) Log("Overlay window: CreateWindowEx failed (%lu)", static_cast<unsigned long>(error));
  return made;
}

bool DrawOverlay(FallbackRenderer& r, FallbackDevice& device, const Settings& settings, const MapFrame& frame,
                 std::span<const ScreenPoint> points, const PixelRect& rect, float cx, float cy, float radius,
                 float scale) {
  OverlayWindowState& o = r.overlay;
  ClientSize client;
  if (!device.ReadClientSize(r.gameWindow, client)) client = {};
  OverlayPicture picture;
  picture.left = std::max(0, rect.left);
  picture.top = std::max(0, rect.top);
  // 64-bit: a garbage rectangle held at +-2^30 still subtracts without overflow.
  const std::int64_t width = std::int64_t{std::min(client.width, rect.right)} - picture.left;
  const std::int64_t height = std::int64_t{std::min(client.height, rect.bottom)} - picture.top;
  if (width <= 1 || height <= 1 || points.size() < 2) {
    HideRoute(r, device);
    return false;
  }
  picture.width = static_cast<std::int32_t>(width);
  picture.height = static_cast<std::int32_t>(height);

  std::int32_t originX = 0, originY = 0;
  device.ClientOrigin(r.gameWindow, originX, originY);
  const float alpha = frame.drawMinimap ? frame.snapshot.minimapAlpha : 1.0f;
  const float lineWidth = frame.drawMinimap ? settings.minimapLineWidth : settings.worldMapLineWidth;
  const OverlayKey key = {FloatBits(static_cast<float>(picture.left)),
                          FloatBits(static_cast<float>(picture.top)),
                          FloatBits(static_cast<float>(originX)),
                          FloatBits(static_cast<float>(originY)),
                          FloatBits(alpha),
                          settings.routeColor,
                          settings.outlineColor,
                          FloatBits(settings.outlineWidth * 100 + lineWidth),
                          static_cast<std::uint32_t>(picture.width),
                          static_cast<std::uint32_t>(picture.height)};
  if (r.routeShown && key == o.previousKey && SamePoints(points, o.previousPolyline)) return false;
  o.previousPolyline.assign(points.begin(), points.end());
  o.previousKey = key;

  if (o.bufferWidth != picture.width || o.bufferHeight != picture.height) {
    if (o.bufferWidth != 0) device.ReleasePixelBuffer();
    o.bufferWidth = o.bufferHeight = 0;
    if (!device.CreatePixelBuffer(picture.width, picture.height)) {
      HideRoute(r, device);
      return false;
    }
    o.bufferWidth = picture.width;
    o.bufferHeight = picture.height;
  }

  picture.screenX = originX + picture.left;
  picture.screenY = originY + picture.top;
  picture.clipToCircle = frame.drawMinimap != 0;
  picture.cx = cx;
  picture.cy = cy;
  picture.r = radius;
  picture.points = points;
  picture.outline = settings.outlineWidth * scale > 0;
  picture.outlineArgb = PenArgb(settings.outlineColor, alpha);
  picture.outlineWidth = 2 * settings.outlineWidth * scale + lineWidth * scale;
  picture.routeArgb = PenArgb(settings.routeColor, alpha);
  picture.routeWidth = lineWidth * scale;

  std::uint32_t error = 0;
  if (!device.PaintOverlay(picture, error)) {
    if (!o.failureLogged) {
      Log("Overlay window: UpdateLayeredWindow failed (%lu)", static_cast<unsigned long>(error));
      o.failureLogged = true;
    }
    // The window still shows the last picture that went through: the next tick must try again
    // even though nothing changed.
    o.previousPolyline.clear();
    return false;
  }
  if (!r.routeShown) {
    device.ShowOverlayWindow(true);
    r.routeShown = true;
  }
  return true;
}

std::uint32_t PenArgb(std::uint32_t colour, float alpha) {
  // A game alpha outside 0..1 (or NaN) must not wrap the pen's alpha around.
  const float a = std::isnan(alpha) ? 0.0f : std::clamp(alpha, 0.0f, 1.0f);
  const auto penAlpha = static_cast<std::uint32_t>(std::lround(static_cast<float>(colour >> 24) * a)) & 0xFF;
  const std::uint32_t red = colour & 0xFF, green = (colour >> 8) & 0xFF, blue = (colour >> 16) & 0xFF;
  return (penAlpha << 24) | (red << 16) | (green << 8) | blue;
}

}  // namespace pathlight
