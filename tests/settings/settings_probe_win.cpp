// settings-probe.dll: the shared INI fixtures through the library's own LoadSettings inside the
// simulated game. For each fixture it writes "Pathlight.ini" beside itself (or removes it),
// loads the settings as start-up does, and compares the live record field by field and the
// "Config:" lines as they stand in "Pathlight.log" (the two summary lines and the misreadings
// after them) with what the fixture expects. It logs one
// "Fixture ...:" line per fixture and a last "Fixtures: N checked, M differ" line.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ini_fixtures.hpp"
#include "platform/folders.hpp"
#include "platform/log.hpp"
#include "settings/settings_load.hpp"

namespace {

using pathlight::testing::DescribeSettings;

bool WriteAscii(const std::wstring& path, const std::wstring& text) {
  std::FILE* file = _wfopen(path.c_str(), L"wb");
  if (file == nullptr) return false;
  for (wchar_t c : text) std::fputc(static_cast<char>(c), file);
  std::fclose(file);
  return true;
}

// The messages of the log's last lines, without time stamps and line ends.
std::vector<std::string> LastLogLines(std::size_t count) {
  std::FILE* file = _wfopen((pathlight::GetModuleFolder() + L"\\Pathlight.log").c_str(), L"rb");
  std::vector<std::string> lines;
  if (file == nullptr) return lines;
  std::string text;
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, got);
  std::fclose(file);
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
  if (reason == DLL_PROCESS_ATTACH) {
    pathlight::SetLibraryModule(module);
    DisableThreadLibraryCalls(module);
    CreateThread(nullptr, 0, &ProbeThread, nullptr, 0, nullptr);
  }
  return TRUE;
}
