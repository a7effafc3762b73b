// overlay-compose FRAME.png XSHOT.xwd OUT.png
//
// Lays the overlay window's pixels over the game's frame. XSHOT.xwd is an X screenshot of the whole
// screen with XSHOT.xwd.where beside it (simhost's xshot action: the client area's place and size,
// the overlay's rectangle, in screen pixels). Xvfb has no compositor, so the X server shows a
// layered window's pixels premultiplied and unblended, black where it is transparent: inside the
// overlay's rectangle a pixel that is not black is the overlay's, and elsewhere the frame shows.
// With no overlay shown the output is the frame. Exit status 0, or 1 with a message.
#include <cairo.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

// The parts of an X window dump this reads: a ZPixmap of 24 or 32 bits a pixel (Xvfb's depth-24
// screen dumps as packed 3-byte pixels in lines padded to 4 bytes a pixel).
struct XwdImage {
  int width = 0, height = 0;
  std::vector<std::uint32_t> pixels;  // 0x00RRGGBB
};

std::uint32_t Big32(const unsigned char* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

bool ReadXwd(const std::string& path, XwdImage& image, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.size() < 100) return error = "too short for an xwd header", false;
  auto field = [&](int i) { return Big32(&bytes[static_cast<std::size_t>(i) * 4]); };
  const std::uint32_t headerSize = field(0), format = field(2), width = field(4), height = field(5),
                      byteOrder = field(7);
  const std::uint32_t bitsPerPixel = field(11), bytesPerLine = field(12), redMask = field(14), colours = field(19);
  if (field(1) != 7 || format != 2) return error = "not a version 7 ZPixmap dump", false;
  if ((bitsPerPixel != 24 && bitsPerPixel != 32) || width == 0 || height == 0 || width > 16384 || height > 16384) {
    return error = "unsupported size or depth", false;
  }
  const std::uint32_t pixelBytes = bitsPerPixel / 8;
  const std::size_t start = std::size_t{headerSize} + std::size_t{colours} * 12;
  if (start + std::size_t{bytesPerLine} * height > bytes.size() || bytesPerLine < width * pixelBytes)
    return error = "truncated", false;
  image.width = static_cast<int>(width);
  image.height = static_cast<int>(height);
  image.pixels.resize(std::size_t{width} * height);
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      const unsigned char* p = &bytes[start + std::size_t{y} * bytesPerLine + std::size_t{x} * pixelBytes];
      std::uint32_t v = 0;
      for (std::uint32_t i = 0; i < pixelBytes; ++i) {
        v |= std::uint32_t{p[byteOrder == 0 ? i : pixelBytes - 1 - i]} << (8 * i);  // LSB first unless told otherwise
      }
      if (redMask != 0xFF0000) v = ((v & 0xFF) << 16) | (v & 0xFF00) | ((v >> 16) & 0xFF);  // BGR visuals
      image.pixels[std::size_t{y} * width + x] = v & 0xFFFFFF;
    }
  }
  return true;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "overlay-compose: %s\n", message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return Fail("usage: overlay-compose FRAME.png XSHOT.xwd OUT.png");
  cairo_surface_t* frame = cairo_image_surface_create_from_png(argv[1]);
  if (cairo_surface_status(frame) != CAIRO_STATUS_SUCCESS) return Fail(std::string("cannot read ") + argv[1]);
  XwdImage shot;
  std::string error;
  if (!ReadXwd(argv[2], shot, error)) return Fail(std::string(argv[2]) + ": " + error);
  long clientX = 0, clientY = 0, clientW = 0, clientH = 0, left = 0, top = 0, right = 0, bottom = 0;
  std::FILE* where = std::fopen((std::string(argv[2]) + ".where").c_str(), "r");
  if (where == nullptr || std::fscanf(where, "%ld %ld %ld %ld %ld %ld %ld %ld", &clientX, &clientY, &clientW, &clientH,
                                      &left, &top, &right, &bottom) != 8) {
    return Fail(std::string("cannot read ") + argv[2] + ".where");
  }
  std::fclose(where);

  cairo_surface_t* out = cairo_image_surface_create(CAIRO_FORMAT_RGB24, cairo_image_surface_get_width(frame),
                                                    cairo_image_surface_get_height(frame));
  cairo_t* cr = cairo_create(out);
  cairo_set_source_surface(cr, frame, 0, 0);
  cairo_paint(cr);
  cairo_destroy(cr);
  cairo_surface_flush(out);
  unsigned char* data = cairo_image_surface_get_data(out);
  const int stride = cairo_image_surface_get_stride(out);
  const int width = cairo_image_surface_get_width(out), height = cairo_image_surface_get_height(out);
  long overlaid = 0;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const long sx = clientX + x, sy = clientY + y;
      if (sx < left || sx >= right || sy < top || sy >= bottom || sx < 0 || sy < 0 || sx >= shot.width ||
          sy >= shot.height)
        continue;
      const std::uint32_t v = shot.pixels[static_cast<std::size_t>(sy) * shot.width + sx];
      if (v == 0) continue;
      reinterpret_cast<std::uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * stride)[x] = v;
      ++overlaid;
    }
  }
  cairo_surface_mark_dirty(out);
  const cairo_status_t written = cairo_surface_write_to_png(out, argv[3]);
  cairo_surface_destroy(out);
  cairo_surface_destroy(frame);
  if (written != CAIRO_STATUS_SUCCESS) return Fail(std::string("cannot write ") + argv[3]);
  std::printf("overlay-compose: %ld overlay pixels over the frame\n", overlaid);
  return 0;
}
