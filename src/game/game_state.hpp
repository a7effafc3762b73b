// The game's state, one record: where its classes and globals lie (written once by GameInit on
// the init thread before any worker thread starts, read without a lock afterwards), the pointers
// the finder publishes, and what the readers remember between two readings. The finder's own
// schedule belongs to the finder thread, which owns its Finder.
#pragma once

#include "game/game_layout.hpp"
#include "game/game_objects.hpp"
#include "game/game_readers.hpp"

namespace pathlight {

struct GameState {
  GameLayout layout;
  PublishedGamePointers pointers;
  ReaderState reader;
};

[[nodiscard]] GameState& Game();

}  // namespace pathlight
