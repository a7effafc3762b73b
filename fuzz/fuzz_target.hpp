// The targets that read their input field by field (InputReader) share one entry point,
// fuzz_main.cpp: it hands each input to the target's FuzzInput, then drops what the library logged
// for it (shown with PATHLIGHT_FUZZ_LOG set, fuzz_log.hpp).
#pragma once

#include "fuzz_memory.hpp"

namespace pathlight::fuzzing {

// One input; defined by each such target.
void FuzzInput(InputReader& input);

}  // namespace pathlight::fuzzing
