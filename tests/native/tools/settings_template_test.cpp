// The release package's Pathlight.ini: every key once, each with a meaning, under one header per
// section, and read back by the library as exactly the defaults with nothing misread.
#include "settings_template.hpp"

#include <gtest/gtest.h>

#include <set>

#include "ini_fixtures.hpp"
#include "settings/ini_text.hpp"
#include "settings/settings_load.hpp"

namespace pathlight {
namespace {

TEST(SettingsTemplate, ReadsBackAsTheDefaultsWithEveryKeyOnce) {
  std::vector<std::string> missing;
  const std::string text = tool::SettingsTemplate(&missing);
  EXPECT_EQ(missing, std::vector<std::string>{});

  std::size_t keys = 0;
  std::set<std::string> sections;
  for (std::size_t at = 0, end; at < text.size(); at = end + 2) {
    end = text.find("\r\n", at);
    ASSERT_NE(end, std::string::npos) << "every line ends in CR LF";
    const std::string line = text.substr(at, end - at);
    if (line.starts_with("[")) {
      EXPECT_TRUE(sections.insert(line).second) << "a second " << line;
    }
    if (!line.starts_with(";") && line.find('=') != std::string::npos) ++keys;
    if (line.starts_with(";")) {
      EXPECT_GT(line.size(), 2u);
    }
  }
  EXPECT_EQ(keys, 84u);

  TextIni ini(std::wstring(text.begin(), text.end()));
  std::vector<std::string> misread;
  const Settings read = ReadSettings(ini, L"x", Settings{}, false, &misread);
  EXPECT_EQ(misread, std::vector<std::string>{});
  EXPECT_EQ(testing::DescribeSettings(read), testing::DescribeSettings(Settings{}));
}

}  // namespace
}  // namespace pathlight
