// The keys thread: reloads the settings on request and keeps our window procedure installed on
// the game's main window.
#pragma once

namespace pathlight {

// Started by the init thread after the game scan; runs until the process ends.
void StartKeysThread();

}  // namespace pathlight
