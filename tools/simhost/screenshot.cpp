// Screenshots of the client area as the screen shows it (the game's frame plus any window laid
// over it), and pictures of the game's own frame, saved as PNG through GDI+.
#include <windows.h>
// GDI+'s headers need min and max and the GDI types in scope.
#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

#include <vector>

#include "host.hpp"

namespace simhost {

namespace {

// The PNG encoder's class id, a fixed value of GDI+.
const CLSID kPngEncoder = {0x557cf406, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};

// Runs save (which makes and saves a bitmap) with GDI+ started.
template <typename Save> bool WithGdiplus(Save save) {
  Gdiplus::GdiplusStartupInput input;
  ULONG_PTR token = 0;
  if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) return false;
  const bool saved = save();
  Gdiplus::GdiplusShutdown(token);
  return saved;
}

}  // namespace

bool SaveRgbaPng(const std::wstring& path, unsigned width, unsigned height, unsigned rowPitch,
                 const unsigned char* rgba) {
  if (width == 0 || height == 0 || width > 16384 || height > 16384) return false;
  // GDI+ holds 32-bit pixels as B, G, R, A in memory.
  std::vector<unsigned char> bgra(static_cast<std::size_t>(width) * height * 4);
  for (unsigned y = 0; y < height; ++y) {
    const unsigned char* from = rgba + static_cast<std::size_t>(y) * rowPitch;
    unsigned char* to = bgra.data() + static_cast<std::size_t>(y) * width * 4;
    for (unsigned x = 0; x < width; ++x, from += 4, to += 4) {
      to[0] = from[2];
      to[1] = from[1];
      to[2] = from[0];
      to[3] = 255;
    }
  }
  return WithGdiplus([&] {
    Gdiplus::Bitmap image(static_cast<INT>(width), static_cast<INT>(height), static_cast<INT>(width * 4),
                          PixelFormat32bppARGB, bgra.data());
    return image.Save(path.c_str(), &kPngEncoder, nullptr) == Gdiplus::Ok;
  });
}

bool SaveClientScreenshot(HWND window, const std::wstring& path) {
  RECT client;
  if (!GetClientRect(window, &client)) return false;
  POINT origin = {0, 0};
  ClientToScreen(window, &origin);
  const int width = client.right - client.left;
  const int height = client.bottom - client.top;
  if (width <= 0 || height <= 0) return false;

  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  const bool copied = BitBlt(memory, 0, 0, width, height, screen, origin.x, origin.y, SRCCOPY | CAPTUREBLT) != 0;
  SelectObject(memory, old);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);

  const bool saved = copied && WithGdiplus([&] {
                       Gdiplus::Bitmap image(bitmap, nullptr);
                       return image.Save(path.c_str(), &kPngEncoder, nullptr) == Gdiplus::Ok;
                     });
  DeleteObject(bitmap);
  return saved;
}

}  // namespace simhost
