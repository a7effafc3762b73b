// Screenshots of the client area as the screen shows it (the game's frame plus any window laid
// over it), saved as PNG through GDI+.
#include <windows.h>
// GDI+'s headers need min and max and the GDI types in scope.
#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

#include "host.hpp"

namespace simhost {

namespace {

// The PNG encoder's class id, a fixed value of GDI+.
const CLSID kPngEncoder = {0x557cf406, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};

}  // namespace

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

  bool saved = false;
  if (copied) {
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok) {
      {
        Gdiplus::Bitmap image(bitmap, nullptr);
        saved = image.Save(path.c_str(), &kPngEncoder, nullptr) == Gdiplus::Ok;
      }
      Gdiplus::GdiplusShutdown(token);
    }
  }
  DeleteObject(bitmap);
  return saved;
}

}  // namespace simhost
