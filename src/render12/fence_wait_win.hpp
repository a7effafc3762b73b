// Waiting for the overlay's own fence on the presenting thread, always with a bound.
#pragma once

#include <windows.h>

#include <d3d12.h>

namespace pathlight {

// Waits until `fence` has completed `value`, at most `ms` milliseconds; true when it has.
//
// The event is auto-reset and shared by every wait of the renderer. A wait that timed out leaves
// its SetEventOnCompletion registered, and when that older value completes it sets the event: a
// later wait would wake at once for a value not yet reached. So a wake-up proves nothing; only the
// fence's completed value does, and the wait goes on until it or the bound is reached.
[[nodiscard]] bool WaitForFence(ID3D12Fence* fence, HANDLE event, UINT64 value, DWORD ms);

}  // namespace pathlight
