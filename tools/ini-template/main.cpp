// pathlight-ini-template: prints the release package's Pathlight.ini (every key, its default and
// its meaning) to standard output. Exit status 1 when a key has no meaning written for it.
#include <cstdio>
#include <string>
#include <vector>

#include "settings_template.hpp"

int main() {
  std::vector<std::string> missing;
  const std::string text = pathlight::tool::SettingsTemplate(&missing);
  for (const std::string& key : missing)
    std::fprintf(stderr, "pathlight-ini-template: no meaning for %s\n", key.c_str());
  if (!missing.empty()) return 1;
  std::fwrite(text.data(), 1, text.size(), stdout);
  return 0;
}
