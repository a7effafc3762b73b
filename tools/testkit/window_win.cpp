#include "testkit/window_win.hpp"

namespace testkit {

HWND CreatePlainWindow(const wchar_t* className, DWORD style, int x, int y, int width, int height) {
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &DefWindowProcW;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = className;
  RegisterClassExW(&wc);  // fails harmlessly when the class is registered already
  return CreateWindowExW(0, className, L"game", style, x, y, width, height, nullptr, nullptr, GetModuleHandleW(nullptr),
                         nullptr);
}

}  // namespace testkit
