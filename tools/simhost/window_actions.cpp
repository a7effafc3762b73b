// The game window as the player handles it: minimised and restored, moved on the screen; and X
// screenshots of the whole screen, which show the library's overlay window as the X server has it.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "host.hpp"
#include "scenario.hpp"

namespace simhost {

namespace {

constexpr DWORD kXShotWaitMs = 10000;

// minimize / restore
const bool kMinimizeAction =
    RegisterAction("minimize", {0, 0, [](Host& host, const Action&) { ShowWindow(host.window, SW_MINIMIZE); }});
const bool kRestoreAction =
    RegisterAction("restore", {0, 0, [](Host& host, const Action&) { ShowWindow(host.window, SW_RESTORE); }});

// move X Y: the window's outer top-left corner to (X, Y) on the screen.
const bool kMoveAction = RegisterAction("move", {2, 2, [](Host& host, const Action& action) {
                                                   SetWindowPos(host.window, nullptr, std::atoi(action.args[0].c_str()),
                                                                std::atoi(action.args[1].c_str()), 0, 0,
                                                                SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
                                                 }});

struct OverlaySearch {
  RECT rect = {0, 0, 0, 0};
};

BOOL CALLBACK FindOverlay(HWND window, LPARAM context) {
  wchar_t name[64] = {};
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process == GetCurrentProcessId() && IsWindowVisible(window) && GetClassNameW(window, name, 64) &&
      std::wstring(name) == L"PathlightOverlay") {
    GetWindowRect(window, &reinterpret_cast<OverlaySearch*>(context)->rect);
  }
  return TRUE;
}

// xshot FILE: an X screenshot of the whole screen as FILE (xwd's format), through scripts/xshot.sh
// running beside the game, and FILE.where with one line "clientX clientY clientWidth clientHeight
// overlayLeft overlayTop overlayRight overlayBottom" in screen pixels (the overlay's rectangle is
// all 0 when no overlay window shows). The game waits until the picture is there.
const bool kXShotAction = RegisterAction(
    "xshot", {1, 1, [](Host& host, const Action& action) {
                std::string path = action.args[0];
                if (path.size() > 2 && (path[0] == 'Z' || path[0] == 'z') && path[1] == ':') path = path.substr(2);
                for (char& c : path) c = c == '\\' ? '/' : c;
                const std::wstring windowsPath = L"Z:" + std::wstring(path.begin(), path.end());
                DeleteFileW(windowsPath.c_str());

                POINT origin = {0, 0};
                ClientToScreen(host.window, &origin);
                RECT client = {0, 0, 0, 0};
                GetClientRect(host.window, &client);
                OverlaySearch overlay;
                EnumWindows(&FindOverlay, reinterpret_cast<LPARAM>(&overlay));
                if (std::FILE* where = _wfopen((windowsPath + L".where").c_str(), L"wb")) {
                  std::fprintf(where, "%ld %ld %ld %ld %ld %ld %ld %ld\n", origin.x, origin.y, client.right,
                               client.bottom, overlay.rect.left, overlay.rect.top, overlay.rect.right,
                               overlay.rect.bottom);
                  std::fclose(where);
                }
                std::FILE* requests = _wfopen(L"Z:\\tmp\\pathlight-xshot", L"ab");
                if (requests == nullptr) {
                  Say("simhost: line %d: xshot needs scripts/xshot.sh running beside the game", action.line);
                  return;
                }
                std::fprintf(requests, "%s\n", path.c_str());
                std::fclose(requests);
                const DWORD start = GetTickCount();
                while (GetFileAttributesW(windowsPath.c_str()) == INVALID_FILE_ATTRIBUTES) {
                  if (GetTickCount() - start > kXShotWaitMs) {
                    Say("simhost: line %d: no X screenshot after %lu ms", action.line, kXShotWaitMs);
                    return;
                  }
                  Sleep(20);
                }
              }});

}  // namespace

}  // namespace simhost
