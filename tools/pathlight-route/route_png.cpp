// The route picture: the roads around the route, coloured by type, drawn thinnest first so the
// main roads stay on top; the route over them in the library's route colour with a dark outline;
// start and goal marked; a legend and a scale bar in the corners. North (+z) is up.
#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>

#include "route_outputs.hpp"

namespace pathlight::tool {

namespace {

struct Colour {
  double r, g, b;
};

struct RoadStyle {
  const char* name;
  Colour colour;
  double width;  // pixels
};

// Indexed by RoadType.
constexpr RoadStyle kRoadStyles[kRoadTypeCount] = {
    {"main road", {0.16, 0.33, 0.65}, 3.2},  {"wide road", {0.90, 0.56, 0.05}, 2.8},
    {"wagon road", {0.55, 0.40, 0.18}, 2.0}, {"horse road", {0.20, 0.60, 0.22}, 1.6},
    {"sidewalk", {0.55, 0.55, 0.55}, 1.0},   {"connector", {0.62, 0.52, 0.80}, 1.0},
    {"link", {0.09, 0.72, 0.80}, 1.4},
};
// The library's default route colour and outline.
constexpr Colour kRouteColour{0xD1 / 255.0, 0x4D / 255.0, 0x45 / 255.0};
constexpr Colour kOutlineColour{0x29 / 255.0, 0x19 / 255.0, 0x14 / 255.0};
constexpr Colour kBackground{0.96, 0.95, 0.92};
constexpr int kLongSide = 1000;   // pixels
constexpr double kMargin = 0.12;  // of the route's extent, each side

void SetColour(cairo_t* cr, Colour c, double alpha = 1.0) { cairo_set_source_rgba(cr, c.r, c.g, c.b, alpha); }

// 1, 2 or 5 times a power of ten, the largest not above limit.
double RoundScaleLength(double limit) {
  const double power = std::pow(10.0, std::floor(std::log10(limit)));
  for (const double step : {5.0, 2.0, 1.0}) {
    if (step * power <= limit) return step * power;
  }
  return power;
}

void Marker(cairo_t* cr, double x, double y, Colour fill, const char* letter) {
  cairo_new_path(cr);  // the text before leaves a current point that the arc would join
  cairo_arc(cr, x, y, 9, 0, 2 * M_PI);
  SetColour(cr, fill);
  cairo_fill_preserve(cr);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_set_line_width(cr, 2);
  cairo_stroke(cr);
  cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
  cairo_set_font_size(cr, 11);
  cairo_text_extents_t extents;
  cairo_text_extents(cr, letter, &extents);
  cairo_move_to(cr, x - extents.width / 2 - extents.x_bearing, y - extents.height / 2 - extents.y_bearing);
  cairo_show_text(cr, letter);
}

}  // namespace

bool WriteRoutePng(const std::string& path, const RoadGraph& roads, const RouteSearchResult& route, bool wagon,
                   const RoutePngView& view) {
  // The view: the route's extent (or the whole network's, and the walk's) with a margin, at least
  // 400 m across.
  double minX = 1e300, maxX = -1e300, minZ = 1e300, maxZ = -1e300;
  const auto include = [&](double x, double z) {
    minX = std::min(minX, x);
    maxX = std::max(maxX, x);
    minZ = std::min(minZ, z);
    maxZ = std::max(maxZ, z);
  };
  for (const GroundPoint& p : route.points) include(p.x, p.z);
  for (const GroundPoint& p : view.walk) include(p.x, p.z);
  if (view.wholeWorld) {
    for (const RoadNode& n : roads.nodes) include(n.x, n.z);
  }
  double extent = std::max({maxX - minX, maxZ - minZ, 400.0});
  const double centreX = (minX + maxX) / 2, centreZ = (minZ + maxZ) / 2;
  const double spanX = std::max(maxX - minX, 400.0) + 2 * kMargin * extent,
               spanZ = std::max(maxZ - minZ, 400.0) + 2 * kMargin * extent;
  extent = std::max(spanX, spanZ);
  const double scale = kLongSide / extent;  // pixels per metre
  const int width = std::max(480, static_cast<int>(std::lround(spanX * scale)));
  const int height = std::max(360, static_cast<int>(std::lround(spanZ * scale)));
  const double left = centreX - width / 2.0 / scale, top = centreZ + height / 2.0 / scale;
  const auto px = [&](double x) { return (x - left) * scale; };
  const auto py = [&](double z) { return (top - z) * scale; };

  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  cairo_t* cr = cairo_create(surface);
  // A path through the points, to stroke.
  const auto polylinePath = [&](const std::vector<GroundPoint>& points) {
    for (std::size_t i = 0; i < points.size(); ++i) {
      if (i == 0) {
        cairo_move_to(cr, px(points[i].x), py(points[i].z));
      } else {
        cairo_line_to(cr, px(points[i].x), py(points[i].z));
      }
    }
  };
  SetColour(cr, kBackground);
  cairo_paint(cr);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);

  // Roads: one path per type, the minor types first.
  const double right = left + width / scale, bottom = top - height / scale;
  // Sidewalks under tracks under roads.
  for (const int t : {4, 5, 6, 3, 2, 1, 0}) {
    bool any = false;
    for (const RoadSegment& s : roads.segments) {
      if (static_cast<int>(s.type) != t) continue;
      const RoadNode& a = roads.nodes[static_cast<std::size_t>(s.first)];
      const RoadNode& b = roads.nodes[static_cast<std::size_t>(s.second)];
      if (std::max(a.x, b.x) < left || std::min(a.x, b.x) > right || std::max(a.z, b.z) < bottom ||
          std::min(a.z, b.z) > top)
        continue;
      cairo_move_to(cr, px(a.x), py(a.z));
      cairo_line_to(cr, px(b.x), py(b.z));
      any = true;
    }
    if (!any) continue;
    SetColour(cr, kRoadStyles[t].colour);
    cairo_set_line_width(cr, kRoadStyles[t].width);
    cairo_stroke(cr);
  }

  // The route: outline, then the line.
  polylinePath(route.points);
  SetColour(cr, kOutlineColour, 0.85);
  cairo_set_line_width(cr, 8);
  cairo_stroke_preserve(cr);
  SetColour(cr, kRouteColour);
  cairo_set_line_width(cr, 5);
  cairo_stroke(cr);
  // The walk: a dashed dark line over the route, a dot at each position.
  constexpr Colour kWalkColour{0.10, 0.10, 0.45};
  if (view.walk.size() >= 2) {
    polylinePath(view.walk);
    const double dashes[] = {6.0, 4.0};
    cairo_set_dash(cr, dashes, 2, 0);
    SetColour(cr, kWalkColour);
    cairo_set_line_width(cr, 2.5);
    cairo_stroke(cr);
    cairo_set_dash(cr, nullptr, 0, 0);
  }
  for (const GroundPoint& p : view.walk) {
    cairo_new_path(cr);
    cairo_arc(cr, px(p.x), py(p.z), 3.5, 0, 2 * M_PI);
    SetColour(cr, kWalkColour);
    cairo_fill(cr);
  }
  if (!route.points.empty()) {
    Marker(cr, px(route.points.front().x), py(route.points.front().z), {0.10, 0.55, 0.20}, "S");
    Marker(cr, px(route.points.back().x), py(route.points.back().z), {0.75, 0.10, 0.10}, "G");
  }

  // Legend, top left.
  cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, 13);
  const int walkRows = view.walk.empty() ? 0 : 1;
  const double rowHeight = 19, boxWidth = 190, boxHeight = rowHeight * (kRoadTypeCount + 2 + walkRows) + 12;
  cairo_rectangle(cr, 10, 10, boxWidth, boxHeight);
  cairo_set_source_rgba(cr, 1, 1, 1, 0.88);
  cairo_fill_preserve(cr);
  cairo_set_source_rgb(cr, 0.5, 0.5, 0.5);
  cairo_set_line_width(cr, 1);
  cairo_stroke(cr);
  const auto legendRow = [&](int row, Colour colour, double lineWidth, const std::string& text) {
    const double y = 10 + 6 + rowHeight * (row + 0.5);
    cairo_move_to(cr, 22, y);
    cairo_line_to(cr, 52, y);
    SetColour(cr, colour);
    cairo_set_line_width(cr, lineWidth);
    cairo_stroke(cr);
    cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
    cairo_move_to(cr, 62, y + 4.5);
    cairo_show_text(cr, text.c_str());
  };
  legendRow(0, kRouteColour, 5, wagon ? "route (wagon weights)" : "route");
  if (walkRows > 0) legendRow(1, kWalkColour, 2.5, "the player's walk");
  for (int t = 0; t < kRoadTypeCount; ++t)
    legendRow(t + 1 + walkRows, kRoadStyles[t].colour, kRoadStyles[t].width, kRoadStyles[t].name);
  char costText[64];
  if (route.found) {
    std::snprintf(costText, sizeof costText, "cost %.0f", static_cast<double>(route.cost));
  } else {
    std::snprintf(costText, sizeof costText, "no road route: straight line");
  }
  cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
  cairo_move_to(cr, 22, 10 + 6 + rowHeight * (kRoadTypeCount + walkRows + 1.5) + 4.5);
  cairo_show_text(cr, costText);

  // Scale bar, bottom left: a round length of at most a quarter of the width.
  const double metres = RoundScaleLength(width / 4.0 / scale), barPixels = metres * scale;
  const double barX = 20, barY = height - 24;
  cairo_rectangle(cr, barX - 8, barY - 22, barPixels + 16, 34);
  cairo_set_source_rgba(cr, 1, 1, 1, 0.88);
  cairo_fill(cr);
  cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
  cairo_set_line_width(cr, 3);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
  cairo_move_to(cr, barX, barY - 5);
  cairo_line_to(cr, barX, barY);
  cairo_line_to(cr, barX + barPixels, barY);
  cairo_line_to(cr, barX + barPixels, barY - 5);
  cairo_stroke(cr);
  char scaleText[32];
  if (metres >= 1000) {
    std::snprintf(scaleText, sizeof scaleText, "%g km", metres / 1000);
  } else {
    std::snprintf(scaleText, sizeof scaleText, "%g m", metres);
  }
  cairo_move_to(cr, barX, barY - 9);
  cairo_show_text(cr, scaleText);

  cairo_destroy(cr);
  const cairo_status_t status = cairo_surface_write_to_png(surface, path.c_str());
  cairo_surface_destroy(surface);
  if (status != CAIRO_STATUS_SUCCESS) {
    std::cerr << "pathlight-route: cannot write " << path << ": " << cairo_status_to_string(status) << '\n';
    return false;
  }
  return true;
}

}  // namespace pathlight::tool
