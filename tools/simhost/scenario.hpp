// Scenario files of the simulated game: timed actions, one a line.
//
//   # comment
//   <time> <action> [arguments...]
//
// <time> is N, milliseconds since the end of the last wait (or since the main loop started, before
// any wait), or +N, N milliseconds after the previous line's time. Actions of one time run in file
// order. A wait (log_watch.hpp) holds the clock until the library's log shows its line.
//
// Actions are registered by name from any file of the host (see RegisterAction), so each part of
// the simulated game brings its own actions without touching the parser.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace simhost {

struct Host;  // the running host (main.cpp)

struct Action {
  unsigned atMs = 0;
  std::string name;
  std::vector<std::string> args;
  int line = 0;
};

struct ActionKind {
  std::size_t minArgs = 0;
  std::size_t maxArgs = 0;
  // Runs on the window thread at the action's time.
  std::function<void(Host&, const Action&)> run;
  // At 0 ms, runs before the library is loaded (the game's state as the library first sees it).
  bool beforeLibrary = false;
  // Holds the scenario's clock until it is over (a wait); later times count from its end.
  bool holdsClock = false;
};

// Registers an action kind; returns true so it can initialise a namespace-scope constant.
bool RegisterAction(const std::string& name, ActionKind kind);

// Parses a scenario; on failure returns false with a message naming the line.
bool LoadScenario(const std::wstring& path, std::vector<Action>& actions, std::string& error);

// True for an action at 0 ms whose kind runs before the library is loaded.
bool RunsBeforeLibrary(const Action& action);

// Runs an action through its registered kind.
void RunAction(Host& host, const Action& action);

// True for a wait, after which the scenario's clock starts again at 0.
bool HoldsClock(const Action& action);

class LogWatch;
// The log the scenario's waits read.
LogWatch& ScenarioLogWatch();

}  // namespace simhost
