// The game's main window: of this process's visible top-level windows, the one with the largest
// client area among those wider than a small tool window can be.
#pragma once

#include <windows.h>

namespace pathlight {

// Narrower client areas are launchers, splash screens or tool windows, not the game.
inline constexpr LONG kGameWindowMinClientWidth = 640;

// The game window, leaving out `skip` (the overlay's own window, which is as large); null when
// there is none.
[[nodiscard]] HWND FindGameWindow(HWND skip = nullptr);

}  // namespace pathlight
