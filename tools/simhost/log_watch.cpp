#include "log_watch.hpp"

#include <vector>

#include "host.hpp"
#include "scenario.hpp"

namespace simhost {

namespace {

// The message of a log line: "[12:00:01.250] Route: ..." without its time stamp and line end.
std::string Message(std::string line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
  if (!line.empty() && line[0] == '[') {
    const std::size_t close = line.find("] ");
    if (close != std::string::npos) line.erase(0, close + 2);
  }
  return line;
}

std::string Joined(const std::vector<std::string>& words, std::size_t from) {
  std::string text;
  for (std::size_t i = from; i < words.size(); ++i) text += (i > from ? " " : "") + words[i];
  return text;
}

LogWatch& Watcher() {
  static LogWatch watch;
  return watch;
}

// A wait of `MS PATTERN...`: it holds the scenario's clock until the watcher's `start` is over.
ActionKind WaitKind(void (LogWatch::*start)(const std::string& pattern, unsigned timeoutMs, int line)) {
  return {2, 64,
          [start](Host&, const Action& action) {
            (Watcher().*start)(Joined(action.args, 1),
                               static_cast<unsigned>(std::strtoul(action.args[0].c_str(), nullptr, 10)), action.line);
          },
          false, true};
}

const bool kWaitAction = RegisterAction("wait", WaitKind(&LogWatch::StartWait));
const bool kWaitInputAction = RegisterAction("wait-input", WaitKind(&LogWatch::StartInputWait));

const bool kMarkAction = RegisterAction("mark", {0, 0, [](Host&, const Action&) { Watcher().Mark(); }});

const bool kWatchLogAction = RegisterAction("watch-log", {1, 1, [](Host&, const Action& action) {
                                                            const std::string& name = action.args[0];
                                                            Watcher().Watch(std::wstring(name.begin(), name.end()));
                                                          }});

}  // namespace

LogWatch& ScenarioLogWatch() { return Watcher(); }

LogWatch::LogWatch() : path_(BesideGame(L"Pathlight.log")) {
  // The game's own start, not this object's: the library may have written its whole log before
  // the first wait.
  FILETIME exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &started_, &exited, &kernel, &user)) started_ = {};
}

void LogWatch::Watch(const std::wstring& path) {
  path_ = path;
  cursor_ = 0;
}

std::string LogWatch::ReadFrom(std::size_t offset) const {
  HANDLE file = CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  std::string text;
  FILETIME written = {};
  LARGE_INTEGER size = {};
  if (GetFileTime(file, nullptr, nullptr, &written) && CompareFileTime(&written, &started_) >= 0 &&
      GetFileSizeEx(file, &size) && static_cast<unsigned long long>(size.QuadPart) > offset) {
    text.resize(static_cast<std::size_t>(size.QuadPart) - offset);
    LARGE_INTEGER at = {};
    at.QuadPart = static_cast<LONGLONG>(offset);
    DWORD got = 0;
    if (!SetFilePointerEx(file, at, nullptr, FILE_BEGIN) ||
        !ReadFile(file, text.data(), static_cast<DWORD>(text.size()), &got, nullptr)) {
      got = 0;
    }
    text.resize(got);
  }
  CloseHandle(file);
  return text;
}

void LogWatch::Mark() {
  const std::string rest = ReadFrom(cursor_);
  // Only whole lines: a line still being written counts as after the mark.
  const std::size_t end = rest.rfind('\n');
  if (end != std::string::npos) cursor_ += end + 1;
}

void LogWatch::StartInputWait(const std::string& pattern, unsigned timeoutMs, int line) {
  StartWait(pattern, timeoutMs, line);
  forInput_ = true;
}

void LogWatch::StartWait(const std::string& pattern, unsigned timeoutMs, int line) {
  forInput_ = false;
  pattern_ = pattern;
  line_ = line;
  timeoutMs_ = timeoutMs;
  deadline_ = GetTickCount() + timeoutMs;
  try {
    regex_ = std::regex(pattern, std::regex::ECMAScript);
    waiting_ = true;
  } catch (const std::regex_error&) {
    Say("simhost: line %d: wait: not a regular expression: %s", line, pattern.c_str());
    waiting_ = true;
    deadline_ = GetTickCount();  // fails at once, as a wait that never sees its line
  }
}

bool LogWatch::Poll(bool& timedOut) {
  timedOut = false;
  if (!waiting_) return true;
  if (forInput_) {
    while (inputCursor_ < inputs_.size()) {
      if (std::regex_search(inputs_[inputCursor_++], regex_)) {
        waiting_ = false;
        return true;
      }
    }
    timedOut = static_cast<int>(GetTickCount() - deadline_) >= 0;
    return false;
  }
  std::string rest = ReadFrom(cursor_);
  // The file was replaced by a shorter one (the library rotated it): start over at its beginning.
  if (rest.empty() && cursor_ > 0 && ReadFrom(0).size() < cursor_) {
    cursor_ = 0;
    rest = ReadFrom(0);
  }
  std::size_t start = 0;
  for (std::size_t end; (end = rest.find('\n', start)) != std::string::npos; start = end + 1) {
    if (std::regex_search(Message(rest.substr(start, end - start)), regex_)) {
      cursor_ += end + 1;
      waiting_ = false;
      return true;
    }
  }
  if (static_cast<int>(GetTickCount() - deadline_) >= 0) {
    timedOut = true;
    return false;
  }
  return false;
}

void LogWatch::ReportTimeOut() const {
  if (forInput_) {
    Say("simhost: wait timed out after %u ms at line %d: the game's window received no message matching /%s/",
        timeoutMs_, line_, pattern_.c_str());
    return;
  }
  Say("simhost: wait timed out after %u ms at line %d: no line matching /%s/ in the log after the cursor", timeoutMs_,
      line_, pattern_.c_str());
  const std::string all = ReadFrom(0);
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = all.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(Message(all.substr(start, end - start)));
  }
  constexpr std::size_t kShown = 12;
  Say("simhost: the log's last %zu of %zu lines (%zu bytes before the cursor):", std::min(kShown, lines.size()),
      lines.size(), cursor_);
  for (std::size_t i = lines.size() > kShown ? lines.size() - kShown : 0; i < lines.size(); ++i)
    Say("    %s", lines[i].c_str());
}

}  // namespace simhost
