// The simulated game's own services to its parts: its messages to standard error, its folder,
// its main window, the pump and frame step outside the main loop, and the presented screenshot.
#include "host.hpp"

#include <cstdarg>
#include <cstdio>

#include "game_state.hpp"
#include "swapchain.hpp"

namespace simhost {

namespace {

constexpr wchar_t kWindowClass[] = L"SimulatedCrimsonDesert";

// The Host of a window made by CreateMainWindow, kept in its user data from its first message.
LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  Host* host = reinterpret_cast<Host*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_SIZE:
      if (host != nullptr && window == host->window) {
        if (host->swapchain) host->swapchain->Resize(LOWORD(lParam), HIWORD(lParam));
        FollowClientHeight(host->game, HIWORD(lParam));
      }
      return 0;
    case WM_CLOSE:
      if (host != nullptr) host->quit = true;
      return 0;
    case WM_ERASEBKGND: return 1;
    default: ReportInputMessage(message, wParam); return DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace

void Say(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

std::wstring ExecutablePath() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

std::wstring ExecutableFolder() {
  const std::wstring path = ExecutablePath();
  return path.substr(0, path.find_last_of(L"\\/"));
}

std::wstring BesideGame(const wchar_t* name) { return ExecutableFolder() + L"\\" + name; }

HWND CreateMainWindow(Host& host, int clientWidth, int clientHeight) {
  static bool registered = false;
  if (!registered) {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &WindowProc;
    windowClass.hInstance = host.instance;
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.lpszClassName = kWindowClass;
    registered = RegisterClassExW(&windowClass) != 0;
  }
  const DWORD style = WS_OVERLAPPEDWINDOW;
  RECT rect = {0, 0, clientWidth, clientHeight};
  AdjustWindowRectEx(&rect, style, FALSE, 0);
  HWND window = CreateWindowExW(0, kWindowClass, L"Crimson Desert (simulated)", style, 0, 0, rect.right - rect.left,
                                rect.bottom - rect.top, nullptr, nullptr, host.instance, &host);
  if (window != nullptr) {
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
  }
  return window;
}

void PumpMessages(Host& host) {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) host.quit = true;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

bool PumpAndPresent(Host& host) {
  PumpMessages(host);
  TickGameState(host.game, host.ElapsedMs());
  host.FrameWork();
  if (!host.swapchain) return false;
  host.swapchain->RenderAndPresent(host, host.ElapsedMs());
  return true;
}

bool SavePresentedScreenshot(Host& host, const std::wstring& path) {
  if (!host.swapchain) return SaveClientScreenshot(host.window, path);
  host.FrameWork();
  Picture picture;
  return host.swapchain->RenderAndPresent(host, host.ElapsedMs(), {}, &picture) && picture.SavePng(path);
}

}  // namespace simhost
