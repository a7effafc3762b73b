// A fallback device that records what the renderer asks of it and answers as a test sets it up:
// the game window, the composition calls' results, the overlay window's.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "fallback/fallback_device.hpp"
#include "fallback/fallback_renderer.hpp"
#include "log_capture.hpp"

namespace pathlight::testing {

class FakeCanvas final : public RouteCanvas {
 public:
  void SetTranslation(float, float) override {}
  void Clear() override {}
  bool PushCircleLayer(float, float, float) override { return true; }
  void PopLayer() override {}
  void DrawRoadLine(ScreenPoint, ScreenPoint, float) override {}
  void DrawRoute(std::span<const ScreenPoint>, const RouteStroke&, const RouteStroke&) override {}
};

class FakeFallbackDevice final : public FallbackDevice {
 public:
  // ---- what the test sets ----
  double now = 1000;
  MapFrame frame;
  bool something = true;
  WindowHandle found = 0x100;  // FindGameWindow's answer
  bool windowExists = true;
  ClientSize client{1920, 1080};
  bool minimised = false;
  std::int32_t originX = 0, originY = 0;
  SetupResult setup{true, false, 0};
  ResultCode dxgiRecreate = 0;
  ResultCode createTarget = 0;
  ResultCode createSurface = 0;
  std::deque<ResultCode> beginDrawResults;  // then 0
  bool gdiplusStarts = true;
  bool overlayCreates = true;
  bool pixelBufferMade = true;
  bool paintSucceeds = true;

  // ---- what the renderer did ----
  bool target = false, visualAttached = false, overlayShown = false, overlayExists = false;
  int commits = 0, surfacesMade = 0, buffersMade = 0, pushes = 0, ownerChanges = 0;
  std::vector<PixelRect> updates;  // BeginDraw's rectangles that succeeded
  OverlayPicture lastPicture;
  FakeCanvas canvas;

  double NowMs() override { return now; }
  void SleepMs(std::uint32_t ms) override { now += ms; }
  void PumpMessages() override {}
  void WaitForCompositorFrame() override { now += 16; }
  bool PrepareFrame(MapFrame& f, const Settings&) override {
    f = frame;
    return something;
  }
  void CollectRoadLines(float x, float z, float, std::vector<GroundPoint>& out) override {
    out.push_back({x, z});
    out.push_back({x + 10, z});
  }

  WindowHandle FindGameWindow() override { return found; }
  bool WindowExists(WindowHandle) override { return windowExists; }
  bool ReadClientSize(WindowHandle, ClientSize& size) override {
    size = client;
    return true;
  }
  bool IsMinimised(WindowHandle) override { return minimised; }
  void ClientOrigin(WindowHandle, std::int32_t& x, std::int32_t& y) override {
    x = originX;
    y = originY;
  }

  SetupResult SetUpComposition(WindowHandle) override {
    target = setup.ok;
    return setup;
  }
  ResultCode RecreateForDxgiSurfaces(WindowHandle) override {
    target = Succeeded(dxgiRecreate);
    return dxgiRecreate;
  }
  bool HasTarget() override { return target; }
  void ReleaseTarget() override { target = false; }
  ResultCode CreateTarget(WindowHandle) override {
    target = Succeeded(createTarget);
    return createTarget;
  }
  ResultCode CreateSurface(std::uint32_t, std::uint32_t) override {
    if (Succeeded(createSurface)) ++surfacesMade;
    return createSurface;
  }
  void ReleaseSurface() override {}
  void SetVisualAttached(bool attached) override { visualAttached = attached; }
  void Commit() override { ++commits; }
  ResultCode BeginDraw(const PixelRect& update, bool, std::int32_t& x, std::int32_t& y) override {
    ResultCode hr = 0;
    if (!beginDrawResults.empty()) {
      hr = beginDrawResults.front();
      beginDrawResults.pop_front();
    }
    if (Succeeded(hr)) updates.push_back(update);
    x = y = 0;
    return hr;
  }
  RouteCanvas& Canvas() override { return canvas; }
  void EndDraw() override {}

  bool StartOverlayDrawing() override { return gdiplusStarts; }
  bool CreateOverlayWindow(WindowHandle, std::uint32_t& error) override {
    overlayExists = overlayCreates;
    error = 8;
    return overlayCreates;
  }
  bool OverlayWindowExists() override { return overlayExists; }
  void SetOverlayOwner(WindowHandle) override { ++ownerChanges; }
  void ShowOverlayWindow(bool shown) override { overlayShown = shown; }
  bool CreatePixelBuffer(std::int32_t, std::int32_t) override { return pixelBufferMade && ++buffersMade; }
  void ReleasePixelBuffer() override {}
  bool PaintOverlay(const OverlayPicture& picture, std::uint32_t& error) override {
    lastPicture = picture;
    lastPicture.points = {};
    error = 5;
    if (paintSucceeds) ++pushes;
    return paintSucceeds;
  }
};

// A frame over the minimap with the player at (0, 0) and a route going north from it; the default
// settings put the circle at (148, 943.75), radius 100, on a 1080-line window.
inline MapFrame MinimapFrame(float routeLength = 20) {
  MapFrame f;
  f.snapshot.playerValid = 1;
  f.snapshot.minimapValid = 1;
  f.snapshot.minimapAlpha = 1;
  f.drawMinimap = 1;
  f.routePolyline = {{0, 0}, {0, routeLength / 2}, {routeLength / 4, routeLength}};
  return f;
}

// A frame of the open world map (zoom 2.4 over the default divisor: one pixel a metre), the route
// from `x0` to `x1` metres east of the map's centre, along its middle line.
inline MapFrame WorldMapFrame(float x0, float x1) {
  MapFrame f;
  f.snapshot.worldMapOpen = 1;
  f.snapshot.worldMapZoom = 2.4f;
  f.drawWorldMap = 1;
  f.routePolyline = {{x0, 0}, {(x0 + x1) / 2, 0}, {x1, 0}};
  return f;
}

// A renderer on the fake device with the settings in force; each call returns the lines it logged.
struct FallbackRig {
  FakeFallbackDevice device;
  FallbackRenderer renderer;
  Settings settings;

  Lines Start() {
    return CaptureLog([&] { ASSERT_TRUE(StartCompositionRenderer(renderer, device, settings)); });
  }
  Lines Tick() {
    return CaptureLog([&] { CompositionTick(renderer, device, settings); });
  }
};

}  // namespace pathlight::testing
