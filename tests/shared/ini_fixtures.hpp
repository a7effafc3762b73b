// INI fixtures shared by the native tests (read through TextIni) and the Windows-side tests (the
// same text written to a file and read through GetPrivateProfileStringW): both must give the
// expected record field by field and the expected summary lines.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "settings/settings.hpp"

namespace pathlight::testing {

struct IniFixture {
  const char* name;
  bool fileExists;
  std::wstring text;
  // The expected record, as changes to the defaults.
  std::function<void(Settings&)> expect;
  // The two "Config:" lines, where the fixture pins them; empty when not checked.
  std::vector<std::string> summary;
  // Where the summary is pinned: the lines logged after it for values not read whole (none when
  // empty).
  std::vector<std::string> misread = {};
};

[[nodiscard]] const std::vector<IniFixture>& IniFixtures();

// One line per key, "[Section] Key = value", for comparisons that name the field that differs.
[[nodiscard]] std::vector<std::string> DescribeSettings(const Settings& settings);

}  // namespace pathlight::testing
