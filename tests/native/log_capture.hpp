// The log lines a piece of code writes, without their time stamps. The native log goes to standard
// output, one "[hh:mm:ss.mmm] " stamped line per call.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace pathlight::testing {

using Lines = std::vector<std::string>;

// Each captured line's message after its "[hh:mm:ss.mmm] " time stamp ("BAD: " + the line if the
// stamp is missing).
inline Lines LogMessages(const std::string& out) {
  Lines messages;
  for (std::size_t at = 0, end; at < out.size(); at = end + 1) {
    end = std::min(out.find('\n', at), out.size());
    const std::string line = out.substr(at, end - at);
    const bool stamped = line.size() > 15 && line[0] == '[' && line[3] == ':' && line[6] == ':' && line[9] == '.' &&
                         line.compare(13, 2, "] ") == 0;
    messages.push_back(stamped ? line.substr(15) : "BAD: " + line);
  }
  return messages;
}

// The messages `run` logs, or only those beginning with `only` when one is given.
inline Lines CaptureLog(const std::function<void()>& run, const std::string& only = "") {
  ::testing::internal::CaptureStdout();
  run();
  Lines lines;
  for (std::string& message : LogMessages(::testing::internal::GetCapturedStdout())) {
    if (message.rfind(only, 0) == 0) lines.push_back(std::move(message));
  }
  return lines;
}

}  // namespace pathlight::testing
