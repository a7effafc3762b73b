// The simulated game's state in its heap, laid out as the game lays out its objects (the fields at
// the library's default [Offsets] and the fixed offsets of the game version it serves), with the
// class tables of the simulated image as first words: minimap and world-map roots, map icons and
// their decoys, the direct waypoint paths, the camera, the session's player chain with its
// vehicle, the actor hash and the character and vehicle tables, the time of day and the clock
// globals. Scenario actions change it (game_state.cpp lists them).
#pragma once

namespace simhost {

// Before the library loads: allocates and fills the objects and sets the image's globals.
void PrepareGameState();

// Every pass of the main loop, on the window thread: moves a walking player, runs the clock.
void TickGameState(unsigned nowMs);

}  // namespace simhost
