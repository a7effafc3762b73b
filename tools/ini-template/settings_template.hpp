// The Pathlight.ini that the release package ships: every key of the key list under its section,
// each with one line of meaning and its default value, written so that the library reads it back
// as the defaults with no misreading.
#pragma once

#include <string>
#include <vector>

namespace pathlight::tool {

// The file's text, CR LF line ends. Keys without a meaning in the table are listed in missing
// (the template is then incomplete and the tool fails).
[[nodiscard]] std::string SettingsTemplate(std::vector<std::string>* missing = nullptr);

}  // namespace pathlight::tool
