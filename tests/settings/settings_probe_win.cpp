// settings-probe.dll: the shared INI fixtures through the library's own LoadSettings inside the
// simulated game. For each fixture it writes "Pathlight.ini" beside itself (or removes it),
// loads the settings as start-up does, and compares the live record field by field and the
// "Config:" lines as they stand in "Pathlight.log" (the two summary lines and the misreadings
// after them) with what the fixture expects. It logs one
// "Fixture ...:" line per fixture and a last "Fixtures: N checked, M differ" line.
#include <windows.h>

#include <string>
#include <vector>

#include "ini_fixtures.hpp"
#include "platform/folders.hpp"
#include "platform/log.hpp"
#include "probe_dll_win.hpp"
#include "settings/settings_load.hpp"
#include "win_files.hpp"

namespace {

using pathlight::testing::DescribeSettings;
using pathlight::testing::WriteAscii;

// The messages of the log's last lines, without time stamps and line ends.
std::vector<std::string> LastLogLines(std::size_t count) {
  const std::string text =
      pathlight::testing::ReadWholeFile(pathlight::GetModuleFolder() + L"\\Pathlight.log").value_or("");
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(text.substr(start + 15, end - start - 15));
  }
  if (lines.size() > count) lines.erase(lines.begin(), lines.end() - static_cast<std::ptrdiff_t>(count));
  return lines;
}

DWORD WINAPI ProbeThread(LPVOID) {
  const std::wstring ini = pathlight::GetModuleFolder() + L"\\Pathlight.ini";
  int checked = 0, differ = 0;
  for (const auto& fixture : pathlight::testing::IniFixtures()) {
    DeleteFileW(ini.c_str());
    if (fixture.fileExists && !WriteAscii(ini, fixture.text)) {
      pathlight::Log("Fixture %s: differs: Pathlight.ini not written", fixture.name);
      ++differ;
      continue;
    }
    pathlight::LoadSettings(false);
    pathlight::Settings expected;
    fixture.expect(expected);
    const auto want = DescribeSettings(expected);
    const auto got = DescribeSettings(*pathlight::CurrentSettings());
    std::string problem;
    for (std::size_t i = 0; i < want.size() && problem.empty(); ++i) {
      if (got[i] != want[i]) problem = "read " + got[i] + ", expected " + want[i];
    }
    if (!fixture.summary.empty()) {
      // The summary, then one line per value not read whole.
      std::vector<std::string> lines = fixture.summary;
      lines.insert(lines.end(), fixture.misread.begin(), fixture.misread.end());
      if (problem.empty() && LastLogLines(lines.size()) != lines) problem = "summary or misreading lines differ";
    }
    ++checked;
    if (!problem.empty()) ++differ;
    pathlight::Log("Fixture %s: %s%s", fixture.name, problem.empty() ? "ok" : "differs: ", problem.c_str());
  }
  DeleteFileW(ini.c_str());
  pathlight::Log("Fixtures: %d checked, %d differ", checked, differ);
  return 0;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
  return pathlight::testing::StartProbe(module, reason, &ProbeThread);
}
