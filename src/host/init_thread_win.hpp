// Starts the init thread that runs the start-up sequence. Called once, by the DLL entry point.
#pragma once

namespace pathlight {

void StartInitThread();

}  // namespace pathlight
