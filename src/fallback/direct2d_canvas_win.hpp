// The route drawn with Direct2D into whatever device context is bound: the composition surface's
// own context, the DXGI-surface bitmap's, or a test's off-screen bitmap.
#pragma once

#include <windows.h>
#include <d2d1_1.h>
#include <wrl/client.h>

#include "fallback/fallback_device.hpp"

namespace pathlight {

// Round start, end and dash caps, round joins, miter limit 10, solid.
[[nodiscard]] Microsoft::WRL::ComPtr<ID2D1StrokeStyle> CreateRouteStrokeStyle(ID2D1Factory1* factory);

// An open, hollow path through the points; none for fewer than two points or on any failure.
[[nodiscard]] Microsoft::WRL::ComPtr<ID2D1PathGeometry> BuildPathGeometry(ID2D1Factory1* factory,
                                                                          std::span<const ScreenPoint> points);

// The outline (2 x outline width + route width wide, when the outline width is above 0), then the
// route, with brushes made for this call.
void DrawRouteGeometry(ID2D1DeviceContext* context, ID2D1Geometry* geometry, ID2D1StrokeStyle* stroke,
                       const RouteStroke& outline, const RouteStroke& route);

class Direct2DCanvas final : public RouteCanvas {
 public:
  // Draws into `context` until the next Bind; a null context unbinds.
  void Bind(ID2D1Factory1* factory, ID2D1StrokeStyle* stroke, ID2D1DeviceContext* context);

  void SetTranslation(float dx, float dy) override;
  void Clear() override;
  bool PushCircleLayer(float cx, float cy, float r) override;
  void PopLayer() override;
  void DrawRoadLine(ScreenPoint a, ScreenPoint b, float width) override;
  void DrawRoute(std::span<const ScreenPoint> points, const RouteStroke& outline, const RouteStroke& route) override;

 private:
  ID2D1Factory1* factory_ = nullptr;
  ID2D1StrokeStyle* stroke_ = nullptr;
  ID2D1DeviceContext* context_ = nullptr;
  Microsoft::WRL::ComPtr<ID2D1EllipseGeometry> mask_;
  Microsoft::WRL::ComPtr<ID2D1SolidColorBrush> roadBrush_;
};

}  // namespace pathlight
