#include <chrono>
#include <ctime>

#include "platform/log_platform.hpp"

namespace pathlight::platform {

std::FILE* OpenLogStream() { return stdout; }

TimeOfDay LocalTimeOfDay() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&seconds, &local);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  return {local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(ms)};
}

}  // namespace pathlight::platform
