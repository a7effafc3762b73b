#include "scenario.hpp"

#include <algorithm>
#include <cstdio>
#include <map>
#include <sstream>

namespace simhost {

namespace {

std::map<std::string, ActionKind>& Kinds() {
  static std::map<std::string, ActionKind> kinds;
  return kinds;
}

// Actions of one time run in file order.
void SortStretch(std::vector<Action>& actions, std::size_t from) {
  std::stable_sort(actions.begin() + static_cast<std::ptrdiff_t>(from), actions.end(),
                   [](const Action& a, const Action& b) { return a.atMs < b.atMs; });
}

}  // namespace

bool RegisterAction(const std::string& name, ActionKind kind) {
  Kinds()[name] = std::move(kind);
  return true;
}

bool LoadScenario(const std::wstring& path, std::vector<Action>& actions, std::string& error) {
  std::FILE* file = _wfopen(path.c_str(), L"r");
  if (file == nullptr) {
    error = "cannot open the scenario file";
    return false;
  }
  char buffer[4096];
  int lineNumber = 0;
  unsigned previousMs = 0;
  std::size_t stretch = 0;  // where the actions since the last wait begin
  bool ok = true;
  while (ok && std::fgets(buffer, sizeof buffer, file) != nullptr) {
    ++lineNumber;
    std::string line(buffer);
    if (const auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
    std::istringstream words(line);
    std::string time;
    if (!(words >> time)) continue;
    Action action;
    action.line = lineNumber;
    // "+N": after the previous line; "N": since the clock last started.
    const bool relative = time[0] == '+';
    const char* digits = time.c_str() + (relative ? 1 : 0);
    char* end = nullptr;
    const unsigned long ms = std::strtoul(digits, &end, 10);
    if (end == digits || *end != '\0' || !(words >> action.name)) {
      error =
          "line " + std::to_string(lineNumber) + ": expected <milliseconds> or +<milliseconds>, <action> [arguments]";
      ok = false;
      break;
    }
    action.atMs = static_cast<unsigned>(relative ? previousMs + ms : ms);
    previousMs = action.atMs;
    for (std::string word; words >> word;) action.args.push_back(word);
    const auto kind = Kinds().find(action.name);
    if (kind == Kinds().end()) {
      error = "line " + std::to_string(lineNumber) + ": unknown action '" + action.name + "'";
      ok = false;
    } else if (action.args.size() < kind->second.minArgs || action.args.size() > kind->second.maxArgs) {
      error = "line " + std::to_string(lineNumber) + ": wrong number of arguments for '" + action.name + "'";
      ok = false;
    } else {
      // A wait closes a stretch of the story: the clock starts again after it, and actions never
      // move across it.
      const bool holds = kind->second.holdsClock;
      if (holds) SortStretch(actions, stretch);
      actions.push_back(std::move(action));
      if (holds) {
        stretch = actions.size();
        previousMs = 0;
      }
    }
  }
  std::fclose(file);
  SortStretch(actions, stretch);
  return ok;
}

bool RunsBeforeLibrary(const Action& action) {
  const auto kind = Kinds().find(action.name);
  return action.atMs == 0 && kind != Kinds().end() && kind->second.beforeLibrary;
}

bool HoldsClock(const Action& action) {
  const auto kind = Kinds().find(action.name);
  return kind != Kinds().end() && kind->second.holdsClock;
}

void RunAction(Host& host, const Action& action) {
  const auto kind = Kinds().find(action.name);
  if (kind != Kinds().end()) kind->second.run(host, action);
}

}  // namespace simhost
