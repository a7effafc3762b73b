#include <windows.h>

#include "platform/ticks.hpp"

namespace pathlight {

std::uint32_t TickCount() { return static_cast<std::uint32_t>(GetTickCount()); }

void SleepMs(std::uint32_t milliseconds) { Sleep(milliseconds); }

}  // namespace pathlight
