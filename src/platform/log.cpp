#include "platform/log.hpp"

#include "platform/log_platform.hpp"

namespace pathlight {

std::string FormatTimeStamp(const TimeOfDay& time) {
  char text[32];
  std::snprintf(text, sizeof text, "[%02d:%02d:%02d.%03d] ", time.hour, time.minute, time.second, time.millisecond);
  return text;
}

LogWriter::LogWriter(Opener opener, Clock clock) : opener_(std::move(opener)), clock_(std::move(clock)) {}

void LogWriter::Write(const char* format, std::va_list args) {
  std::lock_guard<std::mutex> guard(lock_);
  if (!opened_) {
    // Opened once, under the lock, so the first callers of several threads cannot race the
    // rotation; a failed open is not retried.
    opened_ = true;
    stream_ = opener_();
  }
  if (stream_ == nullptr) return;
  // The message goes through the stream, not a fixed buffer, so no line is ever cut. The stream
  // is in text mode on Windows, so the "\n" is stored as CR LF.
  std::fputs(FormatTimeStamp(clock_()).c_str(), stream_);
  std::vfprintf(stream_, format, args);
  std::fputc('\n', stream_);
  std::fflush(stream_);
}

void LogWriter::WriteFormatted(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  Write(format, args);
  va_end(args);
}

namespace {

LogWriter& LogFile() {
  static LogWriter writer(&platform::OpenLogStream, &platform::LocalTimeOfDay);
  return writer;
}

}  // namespace

void Log(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  LogFile().Write(format, args);
  va_end(args);
}

}  // namespace pathlight
