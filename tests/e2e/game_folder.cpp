#include "game_folder.hpp"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>

namespace e2e {

namespace {

std::optional<std::string> ReadBytes(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace

GameFolder::GameFolder(const std::string& name) : root_(fs::path(PATHLIGHT_E2E_DIR) / name) {
  fs::remove_all(root_);
  fs::create_directories(Bin64());
}

int GameFolder::Run(const std::vector<std::string>& args, const RunOptions& options) {
  const fs::path windowsBin = fs::path(PATHLIGHT_WINDOWS_BUILD) / "game" / "bin64";
  fs::copy_file(windowsBin / "CrimsonDesert.exe", Bin64() / options.executable, fs::copy_options::overwrite_existing);
  fs::copy_file(windowsBin / "Pathlight.dll", Bin64() / "Pathlight.dll", fs::copy_options::overwrite_existing);
  for (const fs::path& file : options.copies) {
    fs::copy_file(fs::path(PATHLIGHT_WINDOWS_BUILD) / file, Bin64() / file.filename(),
                  fs::copy_options::overwrite_existing);
  }

  std::string readOnly;
  for (const fs::path& path : options.readOnly) readOnly += (readOnly.empty() ? "" : " ") + path.string();
  const std::string overrides =
      options.dllOverrides.empty() ? "" : "WINEDLLOVERRIDES=" + Quote("mscoree,mshtml=;" + options.dllOverrides) + " ";
  std::string command = overrides + "PATHLIGHT_WINE_RO_BIND=" + Quote(readOnly) + " " +
                        Quote(PATHLIGHT_SOURCE_DIR "/scripts/winrun.sh") + " --timeout " +
                        std::to_string(options.timeoutSeconds) + " " +
                        (options.beside.empty() ? "" : "--beside " + Quote(options.beside) + " ") +
                        Quote((Bin64() / options.executable).string());
  for (const std::string& arg : args) command += " " + Quote(arg);
  if (!options.output.empty()) command += " >" + Quote(options.output.string()) + " 2>&1";
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int GameFolder::RunScenario(const std::vector<std::string>& lines, const std::vector<std::string>& args,
                            const RunOptions& options) {
  WriteScenario(root_ / "scenario.txt", lines);
  std::vector<std::string> all = {"--scenario", WindowsPath(root_ / "scenario.txt")};
  all.insert(all.end(), args.begin(), args.end());
  return Run(all, options);
}

std::string WindowsPath(const fs::path& path) {
  std::string text = "Z:" + path.string();
  for (char& c : text) c = c == '/' ? '\\' : c;
  return text;
}

void WriteScenario(const fs::path& path, const std::vector<std::string>& lines) {
  std::ofstream out(path);
  for (const std::string& line : lines) out << line << "\n";
}

std::optional<std::string> GameFolder::Log() const { return ReadBytes(Bin64() / "Pathlight.log"); }

std::optional<std::string> GameFolder::PreviousLog() const { return ReadBytes(Bin64() / "Pathlight.previous.log"); }

std::vector<std::string> LogMessages(const std::string& log) {
  static const std::regex stamp(R"(^\[\d\d:\d\d:\d\d\.\d\d\d\] )");
  std::vector<std::string> messages;
  std::size_t start = 0;
  while (start < log.size()) {
    std::size_t end = log.find('\n', start);
    if (end == std::string::npos) end = log.size();
    std::string line = log.substr(start, end - start);
    start = end + 1;
    const bool crlf = !line.empty() && line.back() == '\r';
    if (crlf) line.pop_back();
    if (!crlf || !std::regex_search(line, stamp)) {
      messages.push_back("<malformed: " + line + ">");
    } else {
      messages.push_back(line.substr(15));
    }
  }
  return messages;
}

std::size_t Count(const std::vector<std::string>& lines, const std::string& pattern) {
  const std::regex re(pattern);
  return std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return std::regex_search(l, re); });
}

std::size_t Find(const std::vector<std::string>& lines, const std::string& pattern) {
  const std::regex re(pattern);
  return std::find_if(lines.begin(), lines.end(), [&](const std::string& l) { return std::regex_search(l, re); }) -
         lines.begin();
}

std::string Dump(const std::vector<std::string>& lines) {
  std::string all;
  for (const std::string& line : lines) all += line + "\n";
  return all;
}

}  // namespace e2e
