// The system's millisecond tick count and sleeps, for the threads that poll. Tick counts are
// 32 bits and wrap after 49.7 days; callers take differences in unsigned 32-bit arithmetic, so the
// wrap is harmless. Callable from any thread.
#pragma once

#include <cstdint>

namespace pathlight {

[[nodiscard]] std::uint32_t TickCount();
void SleepMs(std::uint32_t milliseconds);

}  // namespace pathlight
