// Starts the route worker thread, reading the game through the given snapshot reader. Called
// once, by the start-up sequence.
#pragma once

#include "game/game_snapshot.hpp"

namespace pathlight {

void StartRouteWorkerThread(void (*readSnapshot)(GameSnapshot& snapshot));

}  // namespace pathlight
