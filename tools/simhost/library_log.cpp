// The core's log as the game has it. The game reads its roads with the project's road reader,
// whose few messages go through pathlight::Log; the game links the reader without the core's log
// (CMakeLists.txt: simhost_roads), and this is the one definition: the lines go to the game's
// standard error, and the log file beside the executable stays the library's alone.
#include "platform/log.hpp"

#include <cstdarg>
#include <cstdio>

#include "host.hpp"

namespace pathlight {

void Log(const char* format, ...) {
  char text[512];
  std::va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  simhost::Say("simhost: %s", text);
}

}  // namespace pathlight
