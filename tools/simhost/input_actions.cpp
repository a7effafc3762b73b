// Keyboard input for the simulated game, as a player would give it: key events through the
// system's input queue (SendInput), so the window gets the key messages, and raw input too once
// the game has registered for it; focus moving to another window and back; and the game
// replacing its main window, as it does on some display-mode changes.
//
// The game's own window procedure reports every key and raw-input message it receives on
// standard error ("simhost: WM_KEYDOWN 0xDD"), so tests can see that a subclass forwarded them.
#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "host.hpp"
#include "log_watch.hpp"
#include "scenario.hpp"
#include "swapchain.hpp"

namespace simhost {

namespace {

// A number (0xDD, 221) or one letter or digit, which is its own virtual-key code.
WORD ParseVirtualKey(const std::string& text) {
  if (text.size() == 1 && std::isalnum(static_cast<unsigned char>(text[0]))) {
    return static_cast<WORD>(std::toupper(static_cast<unsigned char>(text[0])));
  }
  return static_cast<WORD>(std::strtoul(text.c_str(), nullptr, 0));
}

INPUT KeyEvent(WORD key, bool up) {
  INPUT input = {};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = key;
  input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC));
  input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
  return input;
}

void Send(std::vector<INPUT>& events) {
  const UINT sent = SendInput(static_cast<UINT>(events.size()), events.data(), sizeof(INPUT));
  if (sent != events.size())
    Say("simhost: SendInput sent %u of %zu events (error %lu)", sent, events.size(), GetLastError());
}

// key VK down|up|press [COUNT]: all events of one action go in one SendInput call, so they reach
// the window in one go.
const bool kKeyAction =
    RegisterAction("key", {2, 3, [](Host&, const Action& action) {
                             const WORD key = ParseVirtualKey(action.args[0]);
                             const std::string& how = action.args[1];
                             const int count = action.args.size() > 2 ? std::atoi(action.args[2].c_str()) : 1;
                             std::vector<INPUT> events;
                             for (int i = 0; i < count; ++i) {
                               if (how == "down" || how == "press") events.push_back(KeyEvent(key, false));
                               if (how == "up" || how == "press") events.push_back(KeyEvent(key, true));
                             }
                             if (events.empty()) {
                               Say("simhost: line %d: key: expected down, up or press", action.line);
                               return;
                             }
                             Send(events);
                           }});

// postkey VK down|up|press [COUNT]: the key messages posted straight to the window, all in its
// queue before the game's next message loop drains it (no raw input, no system key state).
const bool kPostKeyAction =
    RegisterAction("postkey", {2, 3, [](Host& host, const Action& action) {
                                 const WORD key = ParseVirtualKey(action.args[0]);
                                 const std::string& how = action.args[1];
                                 const int count = action.args.size() > 2 ? std::atoi(action.args[2].c_str()) : 1;
                                 const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC)) << 16;
                                 for (int i = 0; i < count; ++i) {
                                   if (how == "down" || how == "press")
                                     PostMessageW(host.window, WM_KEYDOWN, key, scan | 1);
                                   if (how == "up" || how == "press")
                                     PostMessageW(host.window, WM_KEYUP, key, scan | 1 | (3ll << 30));
                                 }
                               }});

// xkey ARGS...: real X11 key events, typed by scripts/xkeys.sh running beside the game
// (winrun.sh --beside scripts/xkeys.sh); ARGS are xdotool's ("key bracketleft", "keydown ctrl").
// They arrive a few milliseconds later, through the X server and Wine's X11 driver.
const bool kXKeyAction = RegisterAction(
    "xkey", {1, 8, [](Host&, const Action& action) {
               std::FILE* requests = _wfopen(L"Z:\\tmp\\pathlight-xkeys", L"ab");
               if (requests == nullptr) {
                 Say("simhost: line %d: xkey needs scripts/xkeys.sh running beside the game", action.line);
                 return;
               }
               std::string line;
               for (const std::string& arg : action.args) line += (line.empty() ? "" : " ") + arg;
               std::fprintf(requests, "%s\n", line.c_str());
               std::fclose(requests);
             }});

// rawinput: the game registers its main window for raw keyboard input, as games do that read
// the keyboard below the message layer.
const bool kRawInputAction =
    RegisterAction("rawinput", {0, 0, [](Host& host, const Action&) {
                                  RAWINPUTDEVICE device = {};
                                  device.usUsagePage = 0x01;  // generic desktop
                                  device.usUsage = 0x06;      // keyboard
                                  device.hwndTarget = host.window;
                                  if (!RegisterRawInputDevices(&device, 1, sizeof device))
                                    Say("simhost: raw input not registered (error %lu)", GetLastError());
                                }});

// unfocus: another, small window takes the focus, as when the player switches to another program.
const bool kUnfocusAction =
    RegisterAction("unfocus", {0, 0, [](Host& host, const Action&) {
                                 if (host.otherWindow == nullptr) {
                                   host.otherWindow = CreateWindowExW(0, L"STATIC", L"another program",
                                                                      WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, 320,
                                                                      200, nullptr, nullptr, host.instance, nullptr);
                                 }
                                 SetForegroundWindow(host.otherWindow);
                                 SetFocus(host.otherWindow);
                               }});

// focus: the game's window is active again.
const bool kFocusAction = RegisterAction("focus", {0, 0, [](Host& host, const Action&) {
                                                     SetForegroundWindow(host.window);
                                                     SetFocus(host.window);
                                                   }});

// replace-window: the main window is destroyed and a new one of the same size takes its place,
// with a new swap chain.
const bool kReplaceWindowAction = RegisterAction(
    "replace-window", {0, 0, [](Host& host, const Action&) {
                         RECT client = {0, 0, 1280, 720};
                         GetClientRect(host.window, &client);
                         host.swapchain.reset();
                         const HWND old = host.window;
                         host.window = nullptr;
                         DestroyWindow(old);
                         host.window = CreateMainWindow(host, client.right, client.bottom);
                         if (host.window == nullptr) {
                           Say("simhost: the new main window could not be created");
                           host.exitCode = 1;
                           host.quit = true;
                           return;
                         }
                         host.swapchain = std::make_unique<Swapchain>();
                         if (!host.swapchain->Create(host.window, SwapchainRoute::System, host.swapchainFormat))
                           host.swapchain.reset();
                         Say("simhost: main window replaced");
                       }});

}  // namespace

void ReportInputMessage(UINT message, WPARAM wParam) {
  char text[48];
  switch (message) {
    case WM_KEYDOWN: std::snprintf(text, sizeof text, "WM_KEYDOWN 0x%02X", static_cast<unsigned>(wParam)); break;
    case WM_KEYUP: std::snprintf(text, sizeof text, "WM_KEYUP 0x%02X", static_cast<unsigned>(wParam)); break;
    case WM_SYSKEYDOWN: std::snprintf(text, sizeof text, "WM_SYSKEYDOWN 0x%02X", static_cast<unsigned>(wParam)); break;
    case WM_SYSKEYUP: std::snprintf(text, sizeof text, "WM_SYSKEYUP 0x%02X", static_cast<unsigned>(wParam)); break;
    case WM_INPUT: std::snprintf(text, sizeof text, "WM_INPUT"); break;
    default: return;
  }
  Say("simhost: %s", text);
  ScenarioLogWatch().NoteInput(text);
}

}  // namespace simhost
