// Waiting for the library's word: scenario actions that hold the scenario's clock until the
// library's log shows a line, so a story follows what the library did instead of guessing how
// fast its threads react.
//
//   <time> wait <timeoutMs> <regex...>   until a line written after the cursor matches
//   <time> mark                          the cursor to the log's current end
//   <time> watch-log FILE                watch FILE instead of Pathlight.log beside the game
//
// The log is read by name on every look: the library rotates it at start (the last run's file
// becomes Pathlight.previous.log), and a file last written before this game's process started is
// the last run's and counts as empty.
#pragma once

#include <windows.h>

#include <regex>
#include <string>

namespace simhost {

// Exit status of a game whose wait ran out of time.
inline constexpr int kWaitTimedOutStatus = 3;

class LogWatch {
 public:
  LogWatch();

  void Watch(const std::wstring& path);
  void Mark();
  void StartWait(const std::string& pattern, unsigned timeoutMs, int line);

  bool Waiting() const { return waiting_; }
  // While waiting: true once a matching line is there (the wait is over), false to go on waiting.
  // Sets timedOut when the time limit has passed.
  bool Poll(bool& timedOut);
  // What was waited for and the last lines of the log, for the game's standard error.
  void ReportTimeOut() const;

 private:
  std::string ReadFrom(std::size_t offset) const;

  std::wstring path_;
  FILETIME started_ = {};
  std::size_t cursor_ = 0;
  bool waiting_ = false;
  std::string pattern_;
  std::regex regex_;
  DWORD deadline_ = 0;
  unsigned timeoutMs_ = 0;
  int line_ = 0;
};

}  // namespace simhost
