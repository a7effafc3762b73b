// The fallback renderers' device on Windows: Direct3D 11, Direct2D and DirectComposition for the
// composition visual, GDI and GDI+ for the overlay window. Everything here belongs to the one
// renderer thread that made the device.
#pragma once

#include <windows.h>
#include <d2d1_1.h>
#include <d3d11.h>
#include <dcomp.h>
#include <wrl/client.h>

#include <functional>
#include <vector>

#include "fallback/direct2d_canvas_win.hpp"
#include "fallback/fallback_device.hpp"

namespace pathlight {

class WindowsFallbackDevice final : public FallbackDevice {
 public:
  using FramePreparer = std::function<bool(MapFrame&, const Settings&)>;
  // The library's: PrepareMapFrame over the game's snapshot and the current route.
  WindowsFallbackDevice();
  explicit WindowsFallbackDevice(FramePreparer prepare);
  ~WindowsFallbackDevice() override;
  WindowsFallbackDevice(const WindowsFallbackDevice&) = delete;
  WindowsFallbackDevice& operator=(const WindowsFallbackDevice&) = delete;

  double NowMs() override;
  void SleepMs(std::uint32_t ms) override;
  void PumpMessages() override;
  void WaitForCompositorFrame() override;
  bool PrepareFrame(MapFrame& frame, const Settings& settings) override;
  void CollectRoadLines(float x, float z, float radius, std::vector<GroundPoint>& out) override;

  WindowHandle FindGameWindow() override;
  bool WindowExists(WindowHandle window) override;
  bool ReadClientSize(WindowHandle window, ClientSize& size) override;
  bool IsMinimised(WindowHandle window) override;
  void ClientOrigin(WindowHandle window, std::int32_t& x, std::int32_t& y) override;

  SetupResult SetUpComposition(WindowHandle window) override;
  ResultCode RecreateForDxgiSurfaces(WindowHandle window) override;
  bool HasTarget() override { return target_ != nullptr; }
  void ReleaseTarget() override { target_.Reset(); }
  ResultCode CreateTarget(WindowHandle window) override;
  ResultCode CreateSurface(std::uint32_t width, std::uint32_t height) override;
  void ReleaseSurface() override { surface_.Reset(); }
  void SetVisualAttached(bool attached) override;
  void Commit() override;
  ResultCode BeginDraw(const PixelRect& update, bool dxgiSurfaces, std::int32_t& offsetX,
                       std::int32_t& offsetY) override;
  RouteCanvas& Canvas() override { return canvas_; }
  void EndDraw() override;

  bool StartOverlayDrawing() override;
  bool CreateOverlayWindow(WindowHandle owner, std::uint32_t& error) override;
  bool OverlayWindowExists() override;
  void SetOverlayOwner(WindowHandle owner) override;
  void ShowOverlayWindow(bool shown) override;
  bool CreatePixelBuffer(std::int32_t width, std::int32_t height) override;
  void ReleasePixelBuffer() override;
  bool PaintOverlay(const OverlayPicture& picture, std::uint32_t& error) override;

  // What the tests read back: the overlay window, its last picture (premultiplied BGRA, top-down
  // rows) and how many pictures were pushed to it.
  [[nodiscard]] HWND OverlayWindow() const { return overlay_; }
  [[nodiscard]] const std::uint32_t* OverlayPixels() const { return pixels_; }
  [[nodiscard]] unsigned OverlayPushes() const { return pushes_; }

 private:
  void ReleaseComposition();

  FramePreparer prepare_;
  // Composition.
  Microsoft::WRL::ComPtr<ID3D11Device> d3dDevice_;
  Microsoft::WRL::ComPtr<ID2D1Factory1> d2dFactory_;
  Microsoft::WRL::ComPtr<ID2D1Device> d2dDevice_;
  Microsoft::WRL::ComPtr<ID2D1StrokeStyle> stroke_;
  Microsoft::WRL::ComPtr<IDCompositionDesktopDevice> compositor_;
  Microsoft::WRL::ComPtr<IDCompositionTarget> target_;
  Microsoft::WRL::ComPtr<IDCompositionVisual2> visual_;
  Microsoft::WRL::ComPtr<IDCompositionSurface> surface_;
  Microsoft::WRL::ComPtr<ID2D1DeviceContext> dxgiContext_;  // DXGI-surface mode only
  Microsoft::WRL::ComPtr<ID2D1DeviceContext> drawContext_;  // from the surface, while drawing
  Microsoft::WRL::ComPtr<ID2D1Bitmap1> drawBitmap_;         // DXGI-surface mode, while drawing
  bool drawingDxgi_ = false;
  Direct2DCanvas canvas_;
  // Overlay window.
  bool gdiplusStarted_ = false;
  ULONG_PTR gdiplusToken_ = 0;
  HWND overlay_ = nullptr;
  HDC memoryDc_ = nullptr;
  HBITMAP dib_ = nullptr;
  HGDIOBJ replaced_ = nullptr;
  std::uint32_t* pixels_ = nullptr;
  std::int32_t bufferWidth_ = 0, bufferHeight_ = 0;
  std::vector<float> penPoints_;
  unsigned pushes_ = 0;
};

}  // namespace pathlight
