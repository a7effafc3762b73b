// GameInit on the process's main module, the game's executable as it lies mapped.
#pragma once

#include "game/game_init.hpp"

namespace pathlight {

// Fills the game state's layout; true when the user-interface class tables were found.
// Init thread only, once, before the worker threads start.
[[nodiscard]] bool GameInitOnMainModule(const GameScanSettings& settings);

}  // namespace pathlight
