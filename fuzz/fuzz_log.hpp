// The library's log as the fuzz targets see it: every line goes into memory instead of standard
// output, so a target can check what an input made the library log, and a long run stays quiet.
#pragma once

#include <string>

namespace pathlight::fuzzing {

// The text logged since the last call (time stamps and line ends included), then forgotten. What
// one input logs beyond a megabyte is dropped. With PATHLIGHT_FUZZ_LOG set in the environment the
// text also goes to standard error.
[[nodiscard]] std::string TakeLogText();

}  // namespace pathlight::fuzzing
