// The finder thread and the Windows services under the process's Finder.
#pragma once

#include "game/finder.hpp"

namespace pathlight {

// VirtualQuery: scannable = committed, MEM_PRIVATE and exactly PAGE_READWRITE.
[[nodiscard]] RegionQuery& WritableRegions();

// Started by the init thread after the image scan found the layout; runs until the process ends.
// The first tick runs at once.
void StartFinderThread();

}  // namespace pathlight
