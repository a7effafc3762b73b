#include "game/game_state.hpp"

namespace pathlight {

namespace {

constinit GameState g_game;

}  // namespace

GameState& Game() { return g_game; }

}  // namespace pathlight
