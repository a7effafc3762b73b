// A PNG the simulated game saved, decoded for pixel checks.
#pragma once

#include <cairo.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>

namespace e2e {

struct Rgb {
  int r, g, b;
};

// Empty (not Ok) when the file is missing or unreadable.
class Picture {
 public:
  explicit Picture(const std::filesystem::path& path)
      : surface_(cairo_image_surface_create_from_png(path.c_str()), &cairo_surface_destroy) {}
  bool Ok() const { return cairo_surface_status(surface_.get()) == CAIRO_STATUS_SUCCESS; }
  int Width() const { return cairo_image_surface_get_width(surface_.get()); }
  int Height() const { return cairo_image_surface_get_height(surface_.get()); }
  Rgb At(int x, int y) const {
    const unsigned char* row =
        cairo_image_surface_get_data(surface_.get()) + y * cairo_image_surface_get_stride(surface_.get());
    std::uint32_t pixel;
    std::memcpy(&pixel, row + 4 * x, 4);
    return {static_cast<int>(pixel >> 16 & 0xFF), static_cast<int>(pixel >> 8 & 0xFF), static_cast<int>(pixel & 0xFF)};
  }
  // Pixels passing `test` in [x0, x1) × [y0, y1), clipped to the picture.
  template <typename Test> int Count(int x0, int y0, int x1, int y1, Test test) const {
    int n = 0;
    for (int y = std::max(0, y0); y < std::min(Height(), y1); ++y) {
      for (int x = std::max(0, x0); x < std::min(Width(), x1); ++x) n += test(At(x, y)) ? 1 : 0;
    }
    return n;
  }

 private:
  std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> surface_;
};

}  // namespace e2e
