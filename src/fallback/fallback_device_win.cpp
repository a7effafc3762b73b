// The Windows calls behind the fallback renderers. Sections: time and windows, composition,
// overlay window.
#include "fallback/fallback_device_win.hpp"

#include <dwmapi.h>
#include <dxgi.h>
// GDI+'s headers need min and max and the GDI types in scope.
#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

#include <cstring>

#include "game/game_readers.hpp"
#include "mapgeom/minimap_smoothing.hpp"
#include "platform/game_window_win.hpp"
#include "roads/road_loader.hpp"

namespace pathlight {

using Microsoft::WRL::ComPtr;

namespace {

HWND AsWindow(WindowHandle window) { return reinterpret_cast<HWND>(window); }
ResultCode Code(HRESULT hr) { return static_cast<ResultCode>(hr); }

constexpr wchar_t kOverlayClass[] = L"PathlightOverlay";
constexpr DWORD kOverlayExStyle = WS_EX_NOACTIVATE | WS_EX_LAYERED | WS_EX_TOOLWINDOW | WS_EX_TRANSPARENT;

}  // namespace

// Windows 8.1's composition entry point; MinGW's header declares it only for newer targets.
extern "C" HRESULT WINAPI DCompositionCreateDevice2(IUnknown* renderingDevice, REFIID iid, void** device);

namespace {

HRESULT CreateCompositionDevice(IUnknown* renderingDevice, ComPtr<IDCompositionDesktopDevice>& device) {
  return DCompositionCreateDevice2(renderingDevice, __uuidof(IDCompositionDesktopDevice),
                                   reinterpret_cast<void**>(device.ReleaseAndGetAddressOf()));
}

}  // namespace

WindowsFallbackDevice::WindowsFallbackDevice()
    : WindowsFallbackDevice(
          [services = LibraryMapFrameServices([](GameSnapshot& s) { ReadGameSnapshot(s); })](
              MapFrame& frame, const Settings& settings) { return PrepareMapFrame(frame, settings, services); }) {}

WindowsFallbackDevice::WindowsFallbackDevice(FramePreparer prepare) : prepare_(std::move(prepare)) {}

WindowsFallbackDevice::~WindowsFallbackDevice() {
  // Only tests end a device; the library's lives as long as the process.
  ReleasePixelBuffer();
  if (memoryDc_ != nullptr) DeleteDC(memoryDc_);
  if (overlay_ != nullptr) DestroyWindow(overlay_);
  canvas_.Bind(nullptr, nullptr, nullptr);
}

// ---- time and windows ---------------------------------------------------------------------------

double WindowsFallbackDevice::NowMs() { return PerformanceMs(); }

void WindowsFallbackDevice::SleepMs(std::uint32_t ms) { Sleep(ms); }

void WindowsFallbackDevice::PumpMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
}

void WindowsFallbackDevice::WaitForCompositorFrame() { DwmFlush(); }

bool WindowsFallbackDevice::PrepareFrame(MapFrame& frame, const Settings& settings) {
  return prepare_(frame, settings);
}

void WindowsFallbackDevice::CollectRoadLines(float x, float z, float radius, std::vector<GroundPoint>& out) {
  pathlight::CollectRoadLines(x, z, radius, out);
}

WindowHandle WindowsFallbackDevice::FindGameWindow() {
  // The overlay window is a visible top-level window of this process too, and over the world map
  // as large as the client area: it must never be taken for the game.
  return reinterpret_cast<WindowHandle>(pathlight::FindGameWindow(GameWindowRule::kWide, overlay_));
}

bool WindowsFallbackDevice::WindowExists(WindowHandle window) { return window != 0 && IsWindow(AsWindow(window)); }

bool WindowsFallbackDevice::ReadClientSize(WindowHandle window, ClientSize& size) {
  RECT client;
  if (!GetClientRect(AsWindow(window), &client)) return false;
  size = {client.right - client.left, client.bottom - client.top};
  return true;
}

bool WindowsFallbackDevice::IsMinimised(WindowHandle window) { return IsIconic(AsWindow(window)) != 0; }

void WindowsFallbackDevice::ClientOrigin(WindowHandle window, std::int32_t& x, std::int32_t& y) {
  POINT origin = {0, 0};
  ClientToScreen(AsWindow(window), &origin);
  x = origin.x;
  y = origin.y;
}

// ---- composition --------------------------------------------------------------------------------

FallbackDevice::SetupResult WindowsFallbackDevice::SetUpComposition(WindowHandle window) {
  SetupResult result;
  // DirectComposition first, without a rendering device (which it allows): where it is missing
  // (Wine answers E_NOTIMPL) the Direct3D 11 device would serve nothing, and creating it there
  // can deadlock the game: wined3d makes an OpenGL context on this thread while the game's window
  // thread pumps its messages, and both stop inside Wine's X11 driver.
  {
    ComPtr<IDCompositionDesktopDevice> probe;
    const HRESULT available = CreateCompositionDevice(nullptr, probe);
    if (FAILED(available)) {
      result.hr = Code(available);
      return result;
    }
  }
  HRESULT hr = D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, D3D11_CREATE_DEVICE_BGRA_SUPPORT, nullptr,
                                 0, D3D11_SDK_VERSION, &d3dDevice_, nullptr, nullptr);
  if (FAILED(hr)) {
    result.deviceFailed = true;
    result.hr = Code(hr);
    return result;
  }
  ComPtr<IDXGIDevice> dxgi;
  hr = d3dDevice_.As(&dxgi);
  if (SUCCEEDED(hr)) {
    hr = D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, __uuidof(ID2D1Factory1), nullptr,
                           reinterpret_cast<void**>(d2dFactory_.ReleaseAndGetAddressOf()));
  }
  if (SUCCEEDED(hr)) hr = d2dFactory_->CreateDevice(dxgi.Get(), &d2dDevice_);
  if (SUCCEEDED(hr)) hr = CreateCompositionDevice(d2dDevice_.Get(), compositor_);
  if (SUCCEEDED(hr)) hr = compositor_->CreateTargetForHwnd(AsWindow(window), TRUE, &target_);
  if (SUCCEEDED(hr)) hr = compositor_->CreateVisual(&visual_);
  if (FAILED(hr)) {
    result.hr = Code(hr);
    return result;
  }
  stroke_ = CreateRouteStrokeStyle(d2dFactory_.Get());
  result.ok = true;
  return result;
}

void WindowsFallbackDevice::ReleaseComposition() {
  surface_.Reset();
  visual_.Reset();
  target_.Reset();
  compositor_.Reset();
}

ResultCode WindowsFallbackDevice::RecreateForDxgiSurfaces(WindowHandle window) {
  ReleaseComposition();
  if (!d3dDevice_ || !d2dDevice_) return Code(E_POINTER);
  ComPtr<IDXGIDevice> dxgi;
  HRESULT hr = d3dDevice_.As(&dxgi);
  if (SUCCEEDED(hr)) hr = CreateCompositionDevice(dxgi.Get(), compositor_);
  if (SUCCEEDED(hr)) hr = compositor_->CreateTargetForHwnd(AsWindow(window), TRUE, &target_);
  if (SUCCEEDED(hr)) hr = compositor_->CreateVisual(&visual_);
  if (SUCCEEDED(hr)) hr = d2dDevice_->CreateDeviceContext(D2D1_DEVICE_CONTEXT_OPTIONS_NONE, &dxgiContext_);
  return Code(hr);
}

ResultCode WindowsFallbackDevice::CreateTarget(WindowHandle window) {
  if (!compositor_) return Code(E_POINTER);
  return Code(compositor_->CreateTargetForHwnd(AsWindow(window), TRUE, &target_));
}

ResultCode WindowsFallbackDevice::CreateSurface(std::uint32_t width, std::uint32_t height) {
  if (!compositor_ || !visual_) return Code(E_POINTER);
  const HRESULT hr =
      compositor_->CreateSurface(width, height, DXGI_FORMAT_B8G8R8A8_UNORM, DXGI_ALPHA_MODE_PREMULTIPLIED, &surface_);
  if (SUCCEEDED(hr)) visual_->SetContent(surface_.Get());
  return Code(hr);
}

void WindowsFallbackDevice::SetVisualAttached(bool attached) {
  if (target_) target_->SetRoot(attached ? visual_.Get() : nullptr);
}

void WindowsFallbackDevice::Commit() {
  if (compositor_) compositor_->Commit();
}

ResultCode WindowsFallbackDevice::BeginDraw(const PixelRect& update, bool dxgiSurfaces, std::int32_t& offsetX,
                                            std::int32_t& offsetY) {
  if (!surface_) return Code(E_POINTER);
  const RECT rect = {update.left, update.top, update.right, update.bottom};
  POINT offset = {0, 0};
  drawingDxgi_ = dxgiSurfaces;
  if (!dxgiSurfaces) {
    const HRESULT hr = surface_->BeginDraw(&rect, __uuidof(ID2D1DeviceContext),
                                           reinterpret_cast<void**>(drawContext_.ReleaseAndGetAddressOf()), &offset);
    if (FAILED(hr)) return Code(hr);
    canvas_.Bind(d2dFactory_.Get(), stroke_.Get(), drawContext_.Get());
  } else {
    if (!dxgiContext_) return Code(E_POINTER);
    ComPtr<IDXGISurface> dxgiSurface;
    HRESULT hr = surface_->BeginDraw(&rect, __uuidof(IDXGISurface),
                                     reinterpret_cast<void**>(dxgiSurface.GetAddressOf()), &offset);
    if (FAILED(hr)) return Code(hr);
    const D2D1_BITMAP_PROPERTIES1 properties = D2D1::BitmapProperties1(
        D2D1_BITMAP_OPTIONS_TARGET | D2D1_BITMAP_OPTIONS_CANNOT_DRAW,
        D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED), 96.0f, 96.0f);
    hr = dxgiContext_->CreateBitmapFromDxgiSurface(dxgiSurface.Get(), &properties, &drawBitmap_);
    dxgiSurface.Reset();
    if (FAILED(hr)) {
      surface_->EndDraw();
      return Code(hr);
    }
    dxgiContext_->SetTarget(drawBitmap_.Get());
    dxgiContext_->BeginDraw();
    // The context is reused from tick to tick and still has the last drawing's translation; the
    // clip is given in the surface's own pixels, so it is pushed before this tick's is set.
    dxgiContext_->SetTransform(D2D1::Matrix3x2F::Identity());
    const float width = static_cast<float>(update.right - update.left),
                height = static_cast<float>(update.bottom - update.top);
    dxgiContext_->PushAxisAlignedClip(
        D2D1::RectF(static_cast<float>(offset.x), static_cast<float>(offset.y), offset.x + width, offset.y + height),
        D2D1_ANTIALIAS_MODE_ALIASED);
    canvas_.Bind(d2dFactory_.Get(), stroke_.Get(), dxgiContext_.Get());
  }
  offsetX = offset.x;
  offsetY = offset.y;
  return 0;
}

void WindowsFallbackDevice::EndDraw() {
  canvas_.Bind(nullptr, nullptr, nullptr);
  if (drawingDxgi_ && dxgiContext_) {
    dxgiContext_->PopAxisAlignedClip();
    dxgiContext_->EndDraw();
    dxgiContext_->SetTarget(nullptr);
    drawBitmap_.Reset();
  }
  if (surface_) surface_->EndDraw();
  drawContext_.Reset();
}

// ---- overlay window -----------------------------------------------------------------------------

bool WindowsFallbackDevice::StartOverlayDrawing() {
  if (!gdiplusStarted_) {
    Gdiplus::GdiplusStartupInput input;  // version 1, no debug callback, background thread and codecs kept
    if (Gdiplus::GdiplusStartup(&gdiplusToken_, &input, nullptr) != Gdiplus::Ok) return false;
    gdiplusStarted_ = true;  // and never shut down
  }
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = &DefWindowProcW;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = kOverlayClass;
  // A class registered before stays valid, so the result does not matter.
  RegisterClassExW(&windowClass);
  return true;
}

bool WindowsFallbackDevice::CreateOverlayWindow(WindowHandle owner, std::uint32_t& error) {
  overlay_ = CreateWindowExW(kOverlayExStyle, kOverlayClass, L"", WS_POPUP, 0, 0, 1, 1, AsWindow(owner), nullptr,
                             GetModuleHandleW(nullptr), nullptr);
  if (overlay_ == nullptr) error = GetLastError();
  return overlay_ != nullptr;
}

bool WindowsFallbackDevice::OverlayWindowExists() { return overlay_ != nullptr && IsWindow(overlay_); }

void WindowsFallbackDevice::SetOverlayOwner(WindowHandle owner) {
  SetWindowLongPtrW(overlay_, GWLP_HWNDPARENT, static_cast<LONG_PTR>(owner));
}

void WindowsFallbackDevice::ShowOverlayWindow(bool shown) {
  if (overlay_ != nullptr) ShowWindow(overlay_, shown ? SW_SHOWNOACTIVATE : SW_HIDE);
}

bool WindowsFallbackDevice::CreatePixelBuffer(std::int32_t width, std::int32_t height) {
  ReleasePixelBuffer();
  if (memoryDc_ == nullptr) memoryDc_ = CreateCompatibleDC(nullptr);
  if (memoryDc_ == nullptr) return false;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  dib_ = CreateDIBSection(memoryDc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (dib_ == nullptr) return false;
  replaced_ = SelectObject(memoryDc_, dib_);
  pixels_ = static_cast<std::uint32_t*>(bits);
  bufferWidth_ = width;
  bufferHeight_ = height;
  return true;
}

void WindowsFallbackDevice::ReleasePixelBuffer() {
  if (dib_ == nullptr) return;
  SelectObject(memoryDc_, replaced_);
  DeleteObject(dib_);
  dib_ = nullptr;
  pixels_ = nullptr;
  bufferWidth_ = bufferHeight_ = 0;
}

namespace {

void StrokeLines(Gdiplus::GpGraphics* graphics, const Gdiplus::PointF* points, INT count, std::uint32_t argb,
                 float width) {
  using namespace Gdiplus::DllExports;
  Gdiplus::GpPen* pen = nullptr;
  if (GdipCreatePen1(argb, width, Gdiplus::UnitWorld, &pen) != Gdiplus::Ok) return;
  GdipSetPenLineJoin(pen, Gdiplus::LineJoinRound);
  GdipSetPenStartCap(pen, Gdiplus::LineCapRound);
  GdipSetPenEndCap(pen, Gdiplus::LineCapRound);
  GdipDrawLines(graphics, pen, points, count);
  GdipDeletePen(pen);
}

}  // namespace

bool WindowsFallbackDevice::PaintOverlay(const OverlayPicture& picture, std::uint32_t& error) {
  using namespace Gdiplus::DllExports;
  if (pixels_ == nullptr || picture.width != bufferWidth_ || picture.height != bufferHeight_) {
    error = ERROR_INVALID_PARAMETER;
    return false;
  }
  std::memset(pixels_, 0, static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height) * 4);

  Gdiplus::GpBitmap* bitmap = nullptr;
  Gdiplus::GpGraphics* graphics = nullptr;
  if (GdipCreateBitmapFromScan0(picture.width, picture.height, 4 * picture.width, PixelFormat32bppPARGB,
                                reinterpret_cast<BYTE*>(pixels_), &bitmap) == Gdiplus::Ok &&
      GdipGetImageGraphicsContext(bitmap, &graphics) == Gdiplus::Ok) {
    GdipSetSmoothingMode(graphics, Gdiplus::SmoothingModeAntiAlias);
    GdipSetPixelOffsetMode(graphics, Gdiplus::PixelOffsetModeHalf);
    // Drawing in client coordinates.
    GdipTranslateWorldTransform(graphics, static_cast<float>(-picture.left), static_cast<float>(-picture.top),
                                Gdiplus::MatrixOrderPrepend);
    if (picture.clipToCircle) {
      Gdiplus::GpPath* path = nullptr;
      if (GdipCreatePath(Gdiplus::FillModeAlternate, &path) == Gdiplus::Ok) {
        GdipAddPathEllipse(path, picture.cx - picture.r, picture.cy - picture.r, 2 * picture.r, 2 * picture.r);
        GdipSetClipPath(graphics, path, Gdiplus::CombineModeReplace);
        GdipDeletePath(path);
      }
    }
    static_assert(sizeof(Gdiplus::PointF) == sizeof(ScreenPoint));
    const auto* points = reinterpret_cast<const Gdiplus::PointF*>(picture.points.data());
    const auto count = static_cast<INT>(picture.points.size());
    if (picture.outline) StrokeLines(graphics, points, count, picture.outlineArgb, picture.outlineWidth);
    StrokeLines(graphics, points, count, picture.routeArgb, picture.routeWidth);
  }
  if (graphics != nullptr) GdipDeleteGraphics(graphics);
  if (bitmap != nullptr) GdipDisposeImage(bitmap);

  POINT position = {picture.screenX, picture.screenY};
  SIZE size = {picture.width, picture.height};
  POINT source = {0, 0};
  BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  if (!UpdateLayeredWindow(overlay_, nullptr, &position, &size, memoryDc_, &source, 0, &blend, ULW_ALPHA)) {
    error = GetLastError();
    return false;
  }
  ++pushes_;
  return true;
}

}  // namespace pathlight
