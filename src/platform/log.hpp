// The log: one time-stamped line per call in "Pathlight.log" beside the library, the previous
// run's file kept as "Pathlight.previous.log". Callable from any thread, including the game's
// window and render threads; never from inside the log lock.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>

#if defined(__MINGW32__)
#define PATHLIGHT_PRINTF(f, a) __attribute__((format(gnu_printf, f, a)))
#else
#define PATHLIGHT_PRINTF(f, a) __attribute__((format(printf, f, a)))
#endif

namespace pathlight {

// printf-style; the message carries no trailing newline, the log adds the line end. Wide strings
// are passed with "%ls".
void Log(const char* format, ...) PATHLIGHT_PRINTF(1, 2);

struct TimeOfDay {
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

// "[hh:mm:ss.mmm] " with the blank that separates it from the message.
[[nodiscard]] std::string FormatTimeStamp(const TimeOfDay& time);

// The machinery behind Log, with its two OS services passed in so tests can drive it. The stream
// is opened by the first Write (under the lock) and never closed; a null stream means the log is
// unavailable for the life of the writer and every later Write does nothing.
class LogWriter {
 public:
  using Opener = std::function<std::FILE*()>;
  using Clock = std::function<TimeOfDay()>;

  LogWriter(Opener opener, Clock clock);
  LogWriter(const LogWriter&) = delete;
  LogWriter& operator=(const LogWriter&) = delete;

  void Write(const char* format, std::va_list args);
  void WriteFormatted(const char* format, ...) PATHLIGHT_PRINTF(2, 3);

 private:
  Opener opener_;
  Clock clock_;
  std::mutex lock_;
  bool opened_ = false;
  std::FILE* stream_ = nullptr;
};

}  // namespace pathlight
