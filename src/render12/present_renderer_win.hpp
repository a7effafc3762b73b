// The in-frame renderer: draws the overlay into the game's back buffer from inside its present,
// on the game's own present queue. Installed as the present detours' renderer at start-up.
#pragma once

#include <dxgi1_4.h>

namespace pathlight {

// One overlay frame for this swap chain, before the game's present goes on (presenting thread).
void RenderFrame(IDXGISwapChain* swapchain);
// Gives up every device object; safe when nothing exists. Caller holds the render mutex.
void ReleaseDeviceObjects();
// The device's objects (pipelines, the font texture) are built on a thread of their own while the
// game's presents go on undrawn. Waits until a build in progress has ended, so that the next frame
// finds them made; for tests and benchmarks.
void AwaitDeviceObjects();

// Makes RenderFrame the renderer of the present and resize detours.
void InstallInFrameRenderer();

}  // namespace pathlight
