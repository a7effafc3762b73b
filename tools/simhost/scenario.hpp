// Scenario files of the simulated game: timed actions, one a line.
//
//   # comment
//   <milliseconds> <action> [arguments...]
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
};

// Registers an action kind; returns true so it can initialise a namespace-scope constant.
bool RegisterAction(const std::string& name, ActionKind kind);

// Parses a scenario; on failure returns false with a message naming the line.
bool LoadScenario(const std::wstring& path, std::vector<Action>& actions, std::string& error);

// True for an action at 0 ms whose kind runs before the library is loaded.
bool RunsBeforeLibrary(const Action& action);

// Runs an action through its registered kind.
void RunAction(Host& host, const Action& action);

}  // namespace simhost
