// The keys thread and the window procedure it installs in front of the game's own.
//
// The subclass is never removed: the library is never unloaded while the game runs. The game's
// procedure is stored before ours becomes active, so messages that arrive during the switch are
// already forwarded to it.
#include <windows.h>

#include <atomic>

#include "host/keys.hpp"
#include "host/keys_win.hpp"
#include "platform/game_window_win.hpp"
#include "platform/log.hpp"
#include "platform/threads.hpp"
#include "settings/run_flags.hpp"
#include "settings/settings_load.hpp"

namespace pathlight {

namespace {

constexpr DWORD kKeysPollMs = 100;
// Room for a keyboard RAWINPUT on 64-bit Windows (the mouse member makes the union 48 bytes).
constexpr UINT kRawInputBytes = 48;

// The keys' state: the key input of the subclassed game window (its thread alone calls it), the
// window subclassed, and the game's own procedure behind ours. Constant-initialised: the window
// procedure may run before anything else of the library has.
struct KeysState {
  KeyInput input;
  std::atomic<HWND> attached{nullptr};
  std::atomic<WNDPROC> previous{nullptr};
};

constinit KeysState g_keys;

LRESULT CALLBACK GameWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  try {
    KeyInput& keys = g_keys.input;
    switch (message) {
      case WM_KILLFOCUS: keys.FocusLost(); break;
      case WM_ACTIVATEAPP:
        if (wParam == FALSE) keys.FocusLost();
        break;
      case WM_INPUT: {
        alignas(RAWINPUT) BYTE buffer[kRawInputBytes];
        UINT size = sizeof buffer;
        const UINT got =
            GetRawInputData(reinterpret_cast<HRAWINPUT>(lParam), RID_INPUT, buffer, &size, sizeof(RAWINPUTHEADER));
        const auto* input = reinterpret_cast<const RAWINPUT*>(buffer);
        if (got != static_cast<UINT>(-1) && got >= sizeof(RAWINPUTHEADER) && input->header.dwType == RIM_TYPEKEYBOARD) {
          keys.RawKey(input->data.keyboard.VKey, (input->data.keyboard.Flags & RI_KEY_BREAK) != 0);
        }
        break;
      }
      case WM_KEYDOWN:
      case WM_SYSKEYDOWN: keys.KeyMessage(wParam, true); break;
      case WM_KEYUP:
      case WM_SYSKEYUP: keys.KeyMessage(wParam, false); break;
      default: break;
    }
  } catch (...) {
    // The game's message must reach the game whatever happened here.
  }
  const WNDPROC previous = g_keys.previous.load();
  return previous != nullptr ? CallWindowProcW(previous, window, message, wParam, lParam)
                             : DefWindowProcW(window, message, wParam, lParam);
}

void Attach(HWND window) {
  g_keys.previous.store(reinterpret_cast<WNDPROC>(GetWindowLongPtrW(window, GWLP_WNDPROC)));
  const LONG_PTR old = SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&GameWindowProc));
  if (old != 0) {
    g_keys.previous.store(reinterpret_cast<WNDPROC>(old));
    Log("Keys: listening on the game window %p", static_cast<void*>(window));
  } else {
    Log("Keys: could not attach to the game window (error %lu)", GetLastError());
  }
  // Recorded either way: a window that refused once is not tried again.
  g_keys.attached.store(window);
}

void KeysPass() {
  // The file is read here, never on the game's window thread.
  if (Flags().ReloadRequested.exchange(0) != 0) LoadSettings(true);
  if (AllBindingsUnbound()) return;
  const HWND attached = g_keys.attached.load();
  if (attached != nullptr && IsWindow(attached)) return;
  // The game may replace its window (a mode change); the new one is found on this pass.
  if (const HWND window = FindGameWindow(GameWindowRule::kOwnerless); window != nullptr) Attach(window);
}

void KeysThread() {
  for (;;) {
    Sleep(kKeysPollMs);
    try {
      KeysPass();
    } catch (...) {
      // Nothing leaves the thread; the next pass tries again.
    }
  }
}

}  // namespace

void StartKeysThread() { StartThread("keys", &KeysThread); }

}  // namespace pathlight
