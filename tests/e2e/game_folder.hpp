// A fresh game folder for one end-to-end run: <build>/e2e/<name>/bin64 holding copies of the
// simulated game and Pathlight.dll from the Windows build, run under Wine through winrun.sh.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

namespace fs = std::filesystem;

struct RunOptions {
  std::string executable = "CrimsonDesert.exe";  // the name the host is copied under
  std::vector<fs::path> readOnly;                // folders the run may not write
  int timeoutSeconds = 120;
  std::string beside;            // a script run beside the game (winrun.sh --beside)
  std::vector<fs::path> copies;  // more files of the Windows build copied into bin64 beside the host
  std::string dllOverrides;      // added to Wine's DLL overrides ("version=n,b": the folder's copy first)
  fs::path output;               // the game's standard output and error go to this file instead
};

class GameFolder {
 public:
  // Removes whatever an earlier run left under this name.
  explicit GameFolder(const std::string& name);

  const fs::path& Root() const { return root_; }
  fs::path Bin64() const { return root_ / "bin64"; }

  // Runs the host under Wine with these command-line arguments; returns its exit status
  // (winrun's for a failure to start).
  int Run(const std::vector<std::string>& args, const RunOptions& options = {});

  // Writes the scenario's lines to <root>/scenario.txt and runs the host through it, with the
  // further command-line arguments.
  int RunScenario(const std::vector<std::string>& lines, const std::vector<std::string>& args = {},
                  const RunOptions& options = {});

  // The library's log files as bytes, or nothing when the file does not exist.
  std::optional<std::string> Log() const;
  std::optional<std::string> PreviousLog() const;

 private:
  fs::path root_;
};

// The path as the host under Wine sees it (Z:\...).
std::string WindowsPath(const fs::path& path);

// One action a line (see tools/simhost/scenario.hpp for the format).
void WriteScenario(const fs::path& path, const std::vector<std::string>& lines);

// The messages of a log's lines: each line must end in CR LF and begin with "[hh:mm:ss.mmm] ";
// a line that does not is returned as "<malformed: ...>".
std::vector<std::string> LogMessages(const std::string& log);

// How many of the messages match the pattern (ECMAScript, searched anywhere in the line).
std::size_t Count(const std::vector<std::string>& lines, const std::string& pattern);
// The index of the first message matching, or lines.size().
std::size_t Find(const std::vector<std::string>& lines, const std::string& pattern);
// The messages one to a line, for a failed check to show.
std::string Dump(const std::vector<std::string>& lines);

}  // namespace e2e
