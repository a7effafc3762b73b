// libFuzzer's entry for the targets of fuzz_target.hpp.
#include <cstddef>
#include <cstdint>

#include "fuzz_log.hpp"
#include "fuzz_target.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  pathlight::fuzzing::InputReader input({data, size});
  pathlight::fuzzing::FuzzInput(input);
  (void)pathlight::fuzzing::TakeLogText();
  return 0;
}
