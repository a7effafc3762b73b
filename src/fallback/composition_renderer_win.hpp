// The Composition renderer as the init thread's body: it finds the game window, sets up composition
// or the overlay window, and then draws for the rest of the process.
#pragma once

namespace pathlight {

// Returns only when no game window appeared or nothing could be set up.
void RunCompositionRenderer();

}  // namespace pathlight
