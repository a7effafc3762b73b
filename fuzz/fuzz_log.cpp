// The log platform of the fuzz build: the log stream is a stdio stream over a string in memory.
#include "fuzz_log.hpp"

#include <sys/types.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "platform/log_platform.hpp"

namespace pathlight {
namespace {

constexpr std::size_t kMaxLogged = 1 << 20;

std::string& Logged() {
  static std::string text;
  return text;
}

ssize_t Append(void*, const char* data, std::size_t size) {
  std::string& text = Logged();
  if (text.size() < kMaxLogged) text.append(data, std::min(size, kMaxLogged - text.size()));
  return static_cast<ssize_t>(size);
}

std::FILE*& Stream() {
  static std::FILE* stream = nullptr;
  return stream;
}

}  // namespace

namespace platform {

std::FILE* OpenLogStream() {
  cookie_io_functions_t functions{};
  functions.write = Append;
  Stream() = fopencookie(nullptr, "w", functions);
  return Stream();
}

TimeOfDay LocalTimeOfDay() { return {12, 0, 0, 0}; }

}  // namespace platform

namespace fuzzing {

std::string TakeLogText() {
  if (Stream() != nullptr) std::fflush(Stream());
  std::string text;
  text.swap(Logged());
  // Replaying one input with PATHLIGHT_FUZZ_LOG set shows what it made the library log.
  static const bool show = std::getenv("PATHLIGHT_FUZZ_LOG") != nullptr;
  if (show) std::fputs(text.c_str(), stderr);
  return text;
}

}  // namespace fuzzing
}  // namespace pathlight
