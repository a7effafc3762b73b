#include "fallback/direct2d_canvas_win.hpp"

#include <cfloat>
#include <vector>

#include "fallback/fallback_renderer.hpp"

namespace pathlight {

using Microsoft::WRL::ComPtr;

namespace {

D2D1_POINT_2F ToD2D(ScreenPoint p) { return {p.x, p.y}; }

D2D1_COLOR_F ToColour(std::uint32_t colour, float alpha) {
  const ColourF c = ColourComponents(colour, alpha);
  return {c.r, c.g, c.b, c.a};
}

}  // namespace

ComPtr<ID2D1StrokeStyle> CreateRouteStrokeStyle(ID2D1Factory1* factory) {
  D2D1_STROKE_STYLE_PROPERTIES properties = {};
  properties.startCap = D2D1_CAP_STYLE_ROUND;
  properties.endCap = D2D1_CAP_STYLE_ROUND;
  properties.dashCap = D2D1_CAP_STYLE_ROUND;
  properties.lineJoin = D2D1_LINE_JOIN_ROUND;
  properties.miterLimit = 10.0f;
  properties.dashStyle = D2D1_DASH_STYLE_SOLID;
  properties.dashOffset = 0.0f;
  ComPtr<ID2D1StrokeStyle> stroke;
  if (FAILED(factory->CreateStrokeStyle(properties, nullptr, 0, &stroke))) stroke.Reset();
  return stroke;
}

ComPtr<ID2D1PathGeometry> BuildPathGeometry(ID2D1Factory1* factory, std::span<const ScreenPoint> points) {
  if (points.size() < 2 || factory == nullptr) return nullptr;
  ComPtr<ID2D1PathGeometry> geometry;
  if (FAILED(factory->CreatePathGeometry(&geometry))) return nullptr;
  ComPtr<ID2D1GeometrySink> sink;
  if (FAILED(geometry->Open(&sink))) return nullptr;
  sink->BeginFigure(ToD2D(points[0]), D2D1_FIGURE_BEGIN_HOLLOW);
  // ScreenPoint and D2D1_POINT_2F are both two packed floats.
  static_assert(sizeof(ScreenPoint) == sizeof(D2D1_POINT_2F));
  sink->AddLines(reinterpret_cast<const D2D1_POINT_2F*>(points.data() + 1), static_cast<UINT32>(points.size() - 1));
  sink->EndFigure(D2D1_FIGURE_END_OPEN);
  if (FAILED(sink->Close())) return nullptr;
  return geometry;
}

void DrawRouteGeometry(ID2D1DeviceContext* context, ID2D1Geometry* geometry, ID2D1StrokeStyle* stroke,
                       const RouteStroke& outline, const RouteStroke& route) {
  if (geometry == nullptr) return;
  ComPtr<ID2D1SolidColorBrush> outlineBrush, routeBrush;
  if (FAILED(context->CreateSolidColorBrush(ToColour(outline.colour, outline.alpha), &outlineBrush)))
    outlineBrush.Reset();
  if (FAILED(context->CreateSolidColorBrush(ToColour(route.colour, route.alpha), &routeBrush))) routeBrush.Reset();
  if (outlineBrush && outline.width > 0)
    context->DrawGeometry(geometry, outlineBrush.Get(), 2 * outline.width + route.width, stroke);
  if (routeBrush) context->DrawGeometry(geometry, routeBrush.Get(), route.width, stroke);
}

void Direct2DCanvas::Bind(ID2D1Factory1* factory, ID2D1StrokeStyle* stroke, ID2D1DeviceContext* context) {
  factory_ = factory;
  stroke_ = stroke;
  context_ = context;
  mask_.Reset();
  roadBrush_.Reset();
}

void Direct2DCanvas::SetTranslation(float dx, float dy) {
  context_->SetTransform(D2D1::Matrix3x2F::Translation(dx, dy));
}

void Direct2DCanvas::Clear() { context_->Clear(D2D1::ColorF(0, 0, 0, 0)); }

bool Direct2DCanvas::PushCircleLayer(float cx, float cy, float r) {
  mask_.Reset();
  if (FAILED(factory_->CreateEllipseGeometry(D2D1::Ellipse(D2D1::Point2F(cx, cy), r, r), &mask_))) return false;
  D2D1_LAYER_PARAMETERS1 parameters = {};
  parameters.contentBounds = D2D1::RectF(-FLT_MAX, -FLT_MAX, FLT_MAX, FLT_MAX);
  parameters.geometricMask = mask_.Get();
  parameters.maskAntialiasMode = D2D1_ANTIALIAS_MODE_PER_PRIMITIVE;
  parameters.maskTransform = D2D1::IdentityMatrix();
  parameters.opacity = 1.0f;
  parameters.opacityBrush = nullptr;
  parameters.layerOptions = D2D1_LAYER_OPTIONS1_NONE;
  context_->PushLayer(parameters, nullptr);
  return true;
}

void Direct2DCanvas::PopLayer() {
  context_->PopLayer();
  mask_.Reset();
}

void Direct2DCanvas::DrawRoadLine(ScreenPoint a, ScreenPoint b, float width) {
  if (!roadBrush_ && FAILED(context_->CreateSolidColorBrush(D2D1::ColorF(0.0f, 1.0f, 1.0f, 0.85f), &roadBrush_)))
    return;
  context_->DrawLine(ToD2D(a), ToD2D(b), roadBrush_.Get(), width);
}

void Direct2DCanvas::DrawRoute(std::span<const ScreenPoint> points, const RouteStroke& outline,
                               const RouteStroke& route) {
  const ComPtr<ID2D1PathGeometry> geometry = BuildPathGeometry(factory_, points);
  DrawRouteGeometry(context_, geometry.Get(), stroke_, outline, route);
}

}  // namespace pathlight
