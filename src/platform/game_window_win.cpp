#include "platform/game_window_win.hpp"

namespace pathlight {

namespace {

struct WindowSearch {
  HWND skip;
  GameWindowChoice choice;
};

BOOL CALLBACK ConsiderWindow(HWND window, LPARAM context) {
  auto& search = *reinterpret_cast<WindowSearch*>(context);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  RECT client;
  if (window != search.skip && process == GetCurrentProcessId() && IsWindowVisible(window) &&
      GetClientRect(window, &client)) {
    search.choice.Consider(
        {window, client.right - client.left, client.bottom - client.top, GetWindow(window, GW_OWNER) != nullptr});
  }
  return TRUE;
}

}  // namespace

HWND FindGameWindow(GameWindowRule rule, HWND skip) {
  WindowSearch search{skip, GameWindowChoice(rule)};
  EnumWindows(&ConsiderWindow, reinterpret_cast<LPARAM>(&search));
  return static_cast<HWND>(search.choice.Chosen());
}

}  // namespace pathlight
