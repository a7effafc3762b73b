// The simulated game's state in its heap, laid out as the game lays out its objects (the fields at
// the library's default [Offsets] and the fixed offsets of the game version it serves), with the
// class tables of the simulated image as first words: minimap and world-map roots, map icons and
// their decoys, the direct waypoint paths, the camera, the session's player chain with its
// vehicle, the actor hash and the character and vehicle tables, the time of day and the clock
// globals. Scenario actions change it (game_state.cpp lists them).
#pragma once

namespace simhost {

// The game's objects and what it keeps about them (game_state.cpp); the Host holds the one set.
struct GameState;

// What the game draws from, read back from the objects it publishes (the window's pixels for the
// widget, world metres for positions, degrees for the rotation).
struct GameView {
  bool valid = false;
  float playerX = 0, playerZ = 0;
  bool minimapShown = true;
  float minimapRotation = 0, minimapZoom = 1;
  float widgetSize = 0, widgetX = 0, widgetY = 0;
  bool worldMapOpen = false;
  float worldMapCenterX = 0, worldMapCenterZ = 0, worldMapZoom = 0;
};

// The camera as the game publishes it to the library (position, the rotation's columns, the
// projection scales), read back from its object so the game draws its world through the very
// camera the library reads.
struct GameCamera {
  bool valid = false;
  float position[3] = {}, right[3] = {}, up[3] = {}, forward[3] = {};
  float projX = 0, projY = 0;
};

// Before the library loads: allocates and fills the objects and sets the image's globals; the
// minimap widget is laid out for a window of this client height. Never freed: the library reads
// the objects until the process ends.
GameState* PrepareGameState(int clientHeight);

// The functions below take the state PrepareGameState made, or null (they then do nothing, or
// answer that nothing is known).

// Every pass of the main loop, on the window thread: moves a walking player, runs the clock.
void TickGameState(GameState* state, unsigned nowMs);

// The window's client height changed: the minimap widget scales with it, as the game's does.
void FollowClientHeight(GameState* state, int height);

// Window thread.
GameView ReadGameView(const GameState* state);
GameCamera ReadGameCamera(const GameState* state);
// The time of day the game's clock was set to, in hours, or -1 while it holds none.
float GameClockHours(const GameState* state);
// The ground's height at (x, z): the player stands on it, the world is drawn on it.
float GroundHeight(float x, float z);

}  // namespace simhost
