// The simulated game's state, shared by its parts on the window thread.
#pragma once

#include <windows.h>

#include <dxgiformat.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

struct IDXGISwapChain1;

namespace simhost {

class Swapchain;
struct GameState;

// A wall across the way the camera looks (world_view.cpp's `wall` action).
struct Wall {
  bool on = false;
  float x = 0, z = 0, width = 0, height = 0;
  float acrossX = 1, acrossZ = 0;  // unit vector along the wall
};

// The game's 3D world as the scenario sets it (world_view.cpp's actions).
struct WorldScene {
  bool shown = true;  // `world on|off`
  Wall wall;
};

// The second swap chain of the second-swapchain action (output_actions.cpp).
struct SecondOutput {
  HWND window = nullptr;
  IDXGISwapChain1* swapchain = nullptr;  // lives as long as the game
  bool presenting = false;
};

struct Host {
  HINSTANCE instance = nullptr;
  HWND window = nullptr;
  std::unique_ptr<Swapchain> swapchain;
  // The objects the game publishes (game_state.hpp), made before the library loads; never freed.
  GameState* game = nullptr;
  WorldScene world;
  DWORD startTick = 0;
  // The swap chain is left to a scenario action (which way it is made is part of the scenario).
  bool deferSwapchain = false;
  // The back buffers' format of the swap chains the game makes (--swapchain-format, or the
  // swapchain-format action).
  DXGI_FORMAT swapchainFormat = DXGI_FORMAT_R8G8B8A8_UNORM;
  // Work the game does every frame before it presents.
  std::vector<std::function<void(Host&)>> everyFrame;
  // The window of another program that takes the focus (input_actions.cpp's `unfocus`).
  HWND otherWindow = nullptr;
  SecondOutput second;
  // The image's variant made a guard page and a no-access page (planted_image.cpp), which are
  // looked at again at exit.
  bool imagePagesProtected = false;
  bool quit = false;
  int exitCode = 0;

  unsigned ElapsedMs() const { return GetTickCount() - startTick; }
  // Every frame the game renders runs its per-frame work first, the shots' frames too: a frame
  // without it would present with a depth tag and camera of a frame or a saved PNG ago.
  void FrameWork() {
    for (const auto& work : everyFrame) work(*this);
  }
};

// Prints a line to the host's standard error (visible in test output; never in the library's log).
void Say(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));

// The executable's path, its folder (bin64), and the path of a file in that folder.
[[nodiscard]] std::wstring ExecutablePath();
[[nodiscard]] std::wstring ExecutableFolder();
[[nodiscard]] std::wstring BesideGame(const wchar_t* name);

// Creates the main window with the given client size; null on failure. Its messages reach `host`.
HWND CreateMainWindow(Host& host, int clientWidth, int clientHeight);

// Takes the messages waiting for the game's thread; WM_QUIT ends the game.
void PumpMessages(Host& host);

// One pass of the game's loop where the main loop is held up (a wait, a timed run): its messages,
// its state at this time, its per-frame work, and a frame presented. False without a swap chain.
bool PumpAndPresent(Host& host);

// Saves the window's client area as a PNG file, as it is on screen.
bool SaveClientScreenshot(HWND window, const std::wstring& path);

// Saves the picture the game presents next, as presented (with whatever a present hook drew into
// it), as PNG; the screen's copy of the client area when the game has no swap chain.
bool SavePresentedScreenshot(Host& host, const std::wstring& path);

// Saves rows of RGBA pixels (rowPitch bytes apart) as a PNG file, opaque.
bool SaveRgbaPng(const std::wstring& path, unsigned width, unsigned height, unsigned rowPitch,
                 const unsigned char* rgba);

// Reports a key or raw-input message that reached the game's own window procedure.
void ReportInputMessage(UINT message, WPARAM wParam);

}  // namespace simhost
