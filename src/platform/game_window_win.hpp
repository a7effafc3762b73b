// The game's main window, searched among this process's visible top-level windows by one of the
// rules of game_window.hpp.
#pragma once

#include <windows.h>

#include "platform/game_window.hpp"

namespace pathlight {

// The game window by `rule`, leaving out `skip` (the overlay's own window, which is as large); null
// when there is none.
[[nodiscard]] HWND FindGameWindow(GameWindowRule rule, HWND skip = nullptr);

}  // namespace pathlight
