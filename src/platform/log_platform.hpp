// The two OS services behind the process-wide log. Windows: the log file beside the library,
// rotated once per process, and the local time of day. Native builds (tools and tests): standard
// output and the local time.
#pragma once

#include <cstdio>

#include "platform/log.hpp"

namespace pathlight::platform {

// Called once, under the log lock, by the first Log call; null when the log cannot be written.
std::FILE* OpenLogStream();
TimeOfDay LocalTimeOfDay();

}  // namespace pathlight::platform
