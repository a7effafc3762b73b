#include "platform/game_window_win.hpp"

namespace pathlight {

namespace {

struct WindowSearch {
  HWND skip = nullptr;
  HWND best = nullptr;
  LONGLONG bestArea = 0;
};

BOOL CALLBACK ConsiderWindow(HWND window, LPARAM context) {
  auto& search = *reinterpret_cast<WindowSearch*>(context);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  RECT client;
  if (window == search.skip || process != GetCurrentProcessId() || !IsWindowVisible(window) ||
      !GetClientRect(window, &client)) {
    return TRUE;
  }
  const LONG width = client.right - client.left, height = client.bottom - client.top;
  const LONGLONG area = static_cast<LONGLONG>(width) * height;
  if (width > kGameWindowMinClientWidth && area > search.bestArea) {
    search.best = window;
    search.bestArea = area;
  }
  return TRUE;
}

}  // namespace

HWND FindGameWindow(HWND skip) {
  WindowSearch search;
  search.skip = skip;
  EnumWindows(&ConsiderWindow, reinterpret_cast<LPARAM>(&search));
  return search.best;
}

}  // namespace pathlight
