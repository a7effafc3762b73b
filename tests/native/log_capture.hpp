// The log lines a piece of code writes, without their time stamps. The native log goes to standard
// output, one "[hh:mm:ss.mmm] " stamped line per call.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace pathlight::testing {

using Lines = std::vector<std::string>;

inline constexpr std::size_t kLogStampLength = 15;

// Every line `run` logs, or only those beginning with `only` when one is given.
inline Lines CaptureLog(const std::function<void()>& run, const std::string& only = "") {
  ::testing::internal::CaptureStdout();
  run();
  const std::string out = ::testing::internal::GetCapturedStdout();
  Lines lines;
  std::size_t start = 0, end;
  while ((end = out.find('\n', start)) != std::string::npos) {
    const std::string line = out.substr(start + kLogStampLength, end - start - kLogStampLength);
    if (line.rfind(only, 0) == 0) lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

}  // namespace pathlight::testing
