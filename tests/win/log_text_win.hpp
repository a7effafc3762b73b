// The process's Pathlight.log as the Windows-side tests read it back: its text beside the module,
// and the messages of its lines.
#pragma once

#include <string>
#include <vector>

#include "platform/folders.hpp"
#include "win_files.hpp"

namespace pathlight::testing {

// The log's text as it stands, empty when there is none.
inline std::string LogText() { return ReadWholeFile(GetModuleFolder() + L"\\Pathlight.log").value_or(""); }

// The messages of the CR LF lines of a stretch of the log, time stamps left out.
inline std::vector<std::string> LogMessages(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  for (std::size_t end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2) {
    if (end - at > 15) lines.push_back(text.substr(at + 15, end - at - 15));
  }
  return lines;
}

}  // namespace pathlight::testing
