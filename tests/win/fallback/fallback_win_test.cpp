// The fallback renderers against the real system under Wine: the fall from composition (which Wine
// does not implement) to the overlay window, the overlay's picture read back from its own pixel
// buffer (a layered window reads back as zeros through BitBlt), and the Direct2D drawing run into an
// off-screen Direct3D 11 texture.
#include <windows.h>
#include <d2d1_1.h>
#include <d3d11.h>
#include <dxgi.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "fallback/direct2d_canvas_win.hpp"
#include "fallback/fallback_device_win.hpp"
#include "fallback/fallback_renderer.hpp"
#include "log_text_win.hpp"
#include "testkit/window_win.hpp"

namespace pathlight {
namespace {

using Microsoft::WRL::ComPtr;
using testing::LogText;

// ---- a game window and the log --------------------------------------------------------------------

class GameWindow {
 public:
  GameWindow(int width, int height) {
    RECT r = {0, 0, width, height};
    AdjustWindowRect(&r, WS_OVERLAPPEDWINDOW, FALSE);
    window_ = testkit::CreatePlainWindow(L"FallbackTestGame", WS_OVERLAPPEDWINDOW, 100, 50, r.right - r.left,
                                         r.bottom - r.top);
    ShowWindow(window_, SW_SHOWNOACTIVATE);
    Pump();
  }
  ~GameWindow() { DestroyWindow(window_); }
  HWND Handle() const { return window_; }
  static void Pump() {
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
  }

 private:
  HWND window_ = nullptr;
};

// The messages the log gained since `before` (its earlier text).
std::vector<std::string> NewMessages(const std::string& before) {
  return testing::LogMessages(LogText().substr(before.size()));
}

// ---- overlay pictures -----------------------------------------------------------------------------

constexpr int kClientWidth = 1280, kClientHeight = 720;

MapFrame MinimapFrame() {
  MapFrame f;
  f.snapshot.playerValid = 1;
  f.snapshot.minimapValid = 1;
  f.snapshot.minimapAlpha = 1;
  f.drawMinimap = 1;
  // Straight north from the player, well past the minimap's rim.
  f.routePolyline = {{0, 0}, {0, 30}, {0, 60}};
  return f;
}

MapFrame WorldMapFrame() {
  MapFrame f;
  f.snapshot.worldMapOpen = 1;
  f.snapshot.worldMapZoom = 2.4f * 1080 / kClientHeight;  // a pixel a metre
  f.drawWorldMap = 1;
  f.routePolyline = {{-200, 0}, {0, 0}, {0, 100}};  // map centre at (640, 360)
  return f;
}

struct OverlayRig {
  GameWindow game{kClientWidth, kClientHeight};
  MapFrame frame = MinimapFrame();
  bool something = true;
  Settings settings;
  WindowsFallbackDevice device{[this](MapFrame& f, const Settings&) {
    f = frame;
    return something;
  }};
  FallbackRenderer renderer;

  OverlayRig() {
    renderer.gameWindow = reinterpret_cast<WindowHandle>(game.Handle());
    EXPECT_TRUE(SwitchToOverlayWindow(renderer, device, "test"));
  }
  void Tick() {
    CompositionTick(renderer, device, settings);
    GameWindow::Pump();
  }
  // The drawn area's corner in client pixels, as the renderer places it.
  PixelRect Area() const {
    const MinimapCircle c = PlaceMinimap(frame.snapshot, kClientHeight, settings);
    return MinimapDirtyRect(c);
  }
  // BGRA as 0xAARRGGBB, premultiplied; client coordinates.
  std::uint32_t Pixel(int x, int y) const {
    const PixelRect a = Area();
    const int width = a.right - std::max(0, a.left);
    return device.OverlayPixels()[(y - std::max(0, a.top)) * width + (x - std::max(0, a.left))];
  }
};

int Alpha(std::uint32_t p) { return static_cast<int>(p >> 24); }
int Red(std::uint32_t p) { return static_cast<int>((p >> 16) & 0xFF); }

TEST(FallbackWin, OverlayDrawsTheRouteInsideTheMinimapCircleOnly) {
  OverlayRig rig;
  rig.settings.routeColor = PackColour(0xFF, 0, 0, 0xFF);
  rig.Tick();
  ASSERT_NE(rig.device.OverlayPixels(), nullptr);
  ASSERT_TRUE(IsWindowVisible(rig.device.OverlayWindow()));
  const MinimapCircle c = PlaceMinimap(rig.frame.snapshot, kClientHeight, rig.settings);
  const PixelRect a = rig.Area();
  // On the line inside the circle: the route's colour, opaque.
  const int cx = static_cast<int>(c.centerX);
  for (const int dy : {5, 30, 55}) {
    const std::uint32_t p = rig.Pixel(cx, static_cast<int>(c.centerY) - dy);
    EXPECT_EQ(Alpha(p), 0xFF) << dy;
    EXPECT_EQ(Red(p), 0xFF) << dy;
  }
  // Nothing outside the circle, though the line goes on past the rim.
  int outside = 0;
  for (int y = std::max(0, a.top); y < a.bottom; ++y) {
    for (int x = std::max(0, a.left); x < a.right; ++x) {
      if (std::hypot(x + 0.5 - c.centerX, y + 0.5 - c.centerY) > c.radius + 1.5 && rig.Pixel(x, y) != 0) ++outside;
    }
  }
  EXPECT_EQ(outside, 0);
}

TEST(FallbackWin, OverlayPensOutlineAndHalfTransparentColour) {
  struct Case {
    const char* name;
    float outlineWidth;
    std::uint32_t colour;
    int centreAlpha;
    bool besideTheRoute;  // a pixel just beyond the route pen's half width is painted
  };
  const Case cases[] = {
      {"outline", 1.5f, PackColour(0xFF, 0, 0, 0xFF), 0xFF, true},
      {"outline width 0: the route pen only", 0.0f, PackColour(0xFF, 0, 0, 0xFF), 0xFF, false},
      {"half-transparent route", 0.0f, PackColour(0xFF, 0, 0, 0x80), 0x80, false},
  };
  for (const Case& c : cases) {
    OverlayRig rig;
    rig.settings.outlineWidth = c.outlineWidth;
    rig.settings.routeColor = c.colour;
    rig.Tick();
    const MinimapCircle circle = PlaceMinimap(rig.frame.snapshot, kClientHeight, rig.settings);
    const int x = static_cast<int>(circle.centerX), y = static_cast<int>(circle.centerY) - 30;
    const std::uint32_t centre = rig.Pixel(x, y);
    EXPECT_NEAR(Alpha(centre), c.centreAlpha, 2) << c.name;
    EXPECT_NEAR(Red(centre), c.centreAlpha, 2) << c.name << ": premultiplied";
    // The route pen is 3 x 720/1080 = 2 px wide, the outline pen 2 + 2 x 1.5 x 720/1080 = 4: a
    // pixel whose centre lies 1.8 px beside the line is the outline's alone.
    const int besideX = static_cast<int>(std::floor(circle.centerX + 1.8f));
    const int alpha = Alpha(rig.Pixel(besideX, y));
    if (c.besideTheRoute) {
      EXPECT_GT(alpha, 0x80) << c.name;
    } else {
      EXPECT_LT(alpha, 0x20) << c.name;
    }
  }
}

TEST(FallbackWin, OverlayFollowsTheWorldMapAndItsWindow) {
  OverlayRig rig;
  rig.frame = WorldMapFrame();
  rig.Tick();
  const HWND overlay = rig.device.OverlayWindow();
  ASSERT_TRUE(IsWindowVisible(overlay));
  const unsigned pushes = rig.device.OverlayPushes();
  EXPECT_EQ(pushes, 1u);
  RECT placed;
  GetWindowRect(overlay, &placed);
  POINT origin = {0, 0};
  ClientToScreen(rig.game.Handle(), &origin);
  // The route's bounds (440..640, 260..360) widened by (2 x 1.5 + 3) x s + 2 pixels.
  const float margin =
      (2 * rig.settings.outlineWidth + rig.settings.worldMapLineWidth) * ScreenScale(kClientHeight) + 2;
  const ScreenPoint bounds[] = {{440, 360}, {640, 260}};
  const PixelRect expected = PolylineDirtyRect(bounds, margin);
  EXPECT_EQ(placed.left - origin.x, expected.left);
  EXPECT_EQ(placed.top - origin.y, expected.top);
  EXPECT_EQ(placed.right - placed.left, expected.right - expected.left);
  EXPECT_EQ(placed.bottom - placed.top, expected.bottom - expected.top);

  // An unchanged picture does not touch the window.
  rig.Tick();
  rig.Tick();
  EXPECT_EQ(rig.device.OverlayPushes(), pushes);

  // The game window moves: the overlay moves with it.
  RECT frame;
  GetWindowRect(rig.game.Handle(), &frame);
  SetWindowPos(rig.game.Handle(), nullptr, frame.left + 37, frame.top + 21, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  GameWindow::Pump();
  rig.Tick();
  EXPECT_EQ(rig.device.OverlayPushes(), pushes + 1);
  GetWindowRect(overlay, &placed);
  origin = {0, 0};
  ClientToScreen(rig.game.Handle(), &origin);
  EXPECT_EQ(placed.left - origin.x, expected.left);
  EXPECT_EQ(placed.top - origin.y, expected.top);

  // The map closes: nothing to draw, the window is hidden.
  rig.something = false;
  rig.Tick();
  EXPECT_FALSE(IsWindowVisible(overlay));
}

TEST(FallbackWin, GameWindowSearchSkipsTheOverlayOverTheWholeClient) {
  OverlayRig rig;
  rig.frame = WorldMapFrame();
  rig.frame.routePolyline = {{-800, -500}, {800, 500}};  // wider than the client: the overlay covers it
  rig.Tick();
  ASSERT_TRUE(IsWindowVisible(rig.device.OverlayWindow()));
  EXPECT_EQ(rig.device.FindGameWindow(), reinterpret_cast<WindowHandle>(rig.game.Handle()));
}

TEST(FallbackWin, StartFallsFromCompositionToTheOverlayWindow) {
  struct Case {
    bool overlaySetting;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {false,
       {"Composition: setup failed (hr=0x80004001)",
        "Overlay window: composition setup failed; drawing the route in an overlay window instead (minimap and world "
        "map)"}},
      {true,
       {"Overlay window: Debug OverlayWindow=1; drawing the route in an overlay window instead (minimap and world "
        "map)"}},
  };
  for (const Case& c : cases) {
    GameWindow game(kClientWidth, kClientHeight);
    WindowsFallbackDevice device([](MapFrame&, const Settings&) { return false; });
    FallbackRenderer renderer;
    Settings settings;
    settings.debug.overlayWindow = c.overlaySetting;
    const std::string before = LogText();
    ASSERT_TRUE(StartCompositionRenderer(renderer, device, settings));
    EXPECT_EQ(renderer.gameWindow, reinterpret_cast<WindowHandle>(game.Handle()));
    EXPECT_EQ(NewMessages(before), c.expected);
    EXPECT_TRUE(renderer.overlayWindowMode);
  }
}

bool RunningUnderWine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// ---- Direct2D off screen --------------------------------------------------------------------------

// The composition drawing into a Direct3D 11 texture through its DXGI surface, read back.
class OffscreenDirect2D {
 public:
  static constexpr UINT kWidth = 320, kHeight = 240;

  bool Make() {
    if (FAILED(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, D3D11_CREATE_DEVICE_BGRA_SUPPORT, nullptr,
                                 0, D3D11_SDK_VERSION, &d3d_, nullptr, &immediate_))) {
      return false;
    }
    D3D11_TEXTURE2D_DESC desc = {};
    desc.Width = kWidth;
    desc.Height = kHeight;
    desc.MipLevels = 1;
    desc.ArraySize = 1;
    desc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
    desc.SampleDesc.Count = 1;
    desc.Usage = D3D11_USAGE_DEFAULT;
    desc.BindFlags = D3D11_BIND_RENDER_TARGET | D3D11_BIND_SHADER_RESOURCE;
    if (FAILED(d3d_->CreateTexture2D(&desc, nullptr, &texture_))) return false;
    desc.Usage = D3D11_USAGE_STAGING;
    desc.BindFlags = 0;
    desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
    if (FAILED(d3d_->CreateTexture2D(&desc, nullptr, &staging_))) return false;
    ComPtr<IDXGIDevice> dxgi;
    ComPtr<IDXGISurface> surface;
    if (FAILED(d3d_.As(&dxgi)) || FAILED(texture_.As(&surface))) return false;
    if (FAILED(D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, __uuidof(ID2D1Factory1), nullptr,
                                 reinterpret_cast<void**>(factory_.GetAddressOf())))) {
      return false;
    }
    if (FAILED(factory_->CreateDevice(dxgi.Get(), &device_)) ||
        FAILED(device_->CreateDeviceContext(D2D1_DEVICE_CONTEXT_OPTIONS_NONE, &context_))) {
      return false;
    }
    const D2D1_BITMAP_PROPERTIES1 properties = D2D1::BitmapProperties1(
        D2D1_BITMAP_OPTIONS_TARGET | D2D1_BITMAP_OPTIONS_CANNOT_DRAW,
        D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED), 96.0f, 96.0f);
    if (FAILED(context_->CreateBitmapFromDxgiSurface(surface.Get(), &properties, &target_))) return false;
    stroke_ = CreateRouteStrokeStyle(factory_.Get());
    return stroke_ != nullptr;
  }

  void Draw(const CompositionPicture& picture) {
    context_->SetTarget(target_.Get());
    context_->BeginDraw();
    canvas_.Bind(factory_.Get(), stroke_.Get(), context_.Get());
    DrawCompositionPicture(canvas_, picture);
    canvas_.Bind(nullptr, nullptr, nullptr);
    ASSERT_TRUE(SUCCEEDED(context_->EndDraw()));
    context_->SetTarget(nullptr);
    immediate_->CopyResource(staging_.Get(), texture_.Get());
    D3D11_MAPPED_SUBRESOURCE mapped;
    ASSERT_TRUE(SUCCEEDED(immediate_->Map(staging_.Get(), 0, D3D11_MAP_READ, 0, &mapped)));
    pixels_.assign(kWidth * kHeight, 0);
    for (UINT y = 0; y < kHeight; ++y) {
      std::memcpy(&pixels_[y * kWidth], static_cast<const char*>(mapped.pData) + y * mapped.RowPitch, kWidth * 4);
    }
    immediate_->Unmap(staging_.Get(), 0);
  }
  std::uint32_t Pixel(int x, int y) const { return pixels_[y * kWidth + x]; }

 private:
  ComPtr<ID3D11Device> d3d_;
  ComPtr<ID3D11DeviceContext> immediate_;
  ComPtr<ID3D11Texture2D> texture_, staging_;
  ComPtr<ID2D1Factory1> factory_;
  ComPtr<ID2D1Device> device_;
  ComPtr<ID2D1DeviceContext> context_;
  ComPtr<ID2D1Bitmap1> target_;
  ComPtr<ID2D1StrokeStyle> stroke_;
  Direct2DCanvas canvas_;
  std::vector<std::uint32_t> pixels_;
};

TEST(FallbackWin, Direct2DDrawsTheRouteClippedToTheCircleAndTheWorldMapUnclipped) {
  OffscreenDirect2D target;
  ASSERT_TRUE(target.Make());
  // A horizontal route through the circle and far beyond it on both sides.
  const ScreenPoint line[] = {{10, 120}, {160, 120}, {310, 120}};
  CompositionPicture picture;
  picture.minimap = true;
  picture.circle = {160, 120, 50, 1};
  picture.polyline = line;
  picture.outline = {PackColour(0, 0, 0xFF, 0xFF), 1.0f, 0.0f};
  picture.route = {PackColour(0xFF, 0, 0, 0x80), 1.0f, 6.0f};
  target.Draw(picture);
  // Inside, away from the joint: half-transparent red, premultiplied (0x80, 0x80, 0, 0).
  const std::uint32_t inside = target.Pixel(130, 120);
  EXPECT_NEAR(Alpha(inside), 0x80, 2);
  EXPECT_NEAR(Red(inside), 0x80, 2);
  EXPECT_EQ(inside & 0xFFFF, 0u);
  EXPECT_EQ(target.Pixel(130, 126), 0u) << "the outline's width is 0";
  // Wine's Direct2D ignores a layer's geometric mask, so the circular clip shows only on Windows.
  if (!RunningUnderWine()) {
    EXPECT_EQ(target.Pixel(20, 120), 0u) << "clipped to the circle";
    EXPECT_EQ(target.Pixel(300, 120), 0u) << "clipped to the circle";
  }

  picture.minimap = false;
  picture.outline.width = 2.0f;
  target.Draw(picture);
  EXPECT_NEAR(Alpha(target.Pixel(20, 120)), 0xFF, 2)
      << "the world map is not clipped; the outline shows under the route";
  const std::uint32_t edge = target.Pixel(130, 124);  // beyond the route's 3 px half width, inside the outline's 5
  EXPECT_NEAR(Alpha(edge), 0xFF, 2);
  EXPECT_NEAR(static_cast<int>(edge & 0xFF), 0xFF, 2) << "blue outline";
  EXPECT_EQ(target.Pixel(130, 130), 0u);
}

}  // namespace
}  // namespace pathlight
