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
    char* end = nullptr;
    const unsigned long ms = std::strtoul(time.c_str(), &end, 10);
    if (end == time.c_str() || *end != '\0' || !(words >> action.name)) {
      error = "line " + std::to_string(lineNumber) + ": expected <milliseconds> <action> [arguments]";
      ok = false;
      break;
    }
    action.atMs = static_cast<unsigned>(ms);
    for (std::string word; words >> word;) action.args.push_back(word);
    const auto kind = Kinds().find(action.name);
    if (kind == Kinds().end()) {
      error = "line " + std::to_string(lineNumber) + ": unknown action '" + action.name + "'";
      ok = false;
    } else if (action.args.size() < kind->second.minArgs || action.args.size() > kind->second.maxArgs) {
      error = "line " + std::to_string(lineNumber) + ": wrong number of arguments for '" + action.name + "'";
      ok = false;
    } else {
      actions.push_back(std::move(action));
    }
  }
  std::fclose(file);
  // Actions of one time run in file order.
  std::stable_sort(actions.begin(), actions.end(), [](const Action& a, const Action& b) { return a.atMs < b.atMs; });
  return ok;
}

bool RunsBeforeLibrary(const Action& action) {
  const auto kind = Kinds().find(action.name);
  return action.atMs == 0 && kind != Kinds().end() && kind->second.beforeLibrary;
}

void RunAction(Host& host, const Action& action) {
  const auto kind = Kinds().find(action.name);
  if (kind != Kinds().end()) kind->second.run(host, action);
}

}  // namespace simhost
