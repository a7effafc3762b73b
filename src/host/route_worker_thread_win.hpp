// Starts the route worker thread over the game's snapshot reader. Called once, by the start-up
// sequence.
#pragma once

namespace pathlight {

void StartRouteWorkerThread();

}  // namespace pathlight
