// Starts the road loader thread (LoadRoads). Called once, by the start-up sequence.
#pragma once

namespace pathlight {

void StartRoadLoader();

}  // namespace pathlight
