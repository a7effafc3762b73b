// LoadSettings: reads "Pathlight.ini" beside the library and publishes it as the settings record in
// force, at start (init thread) and on the reload key (keys thread; never both at once, the keys
// thread starts after the first load).
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "settings/settings.hpp"

namespace pathlight {

// How values are read from the file: GetPrivateProfileStringW on Windows, an in-memory text in
// tests. Both behave as that call does with a buffer of bufferChars characters: the value (or,
// for an absent key, fallback) cut to bufferChars - 1 characters.
class IniSource {
 public:
  virtual ~IniSource() = default;
  [[nodiscard]] virtual std::wstring ReadValue(const std::wstring& path, const wchar_t* section, const wchar_t* key,
                                               const wchar_t* fallback, std::size_t bufferChars) = 0;
};

// Buffer sizes of the INI read, terminator included: longer values arrive cut.
inline constexpr std::size_t kValueChars = 64;
inline constexpr std::size_t kInterpolateChars = 16;
inline constexpr std::size_t kWordChars = 32;  // [Style] HdrMode and Renderer

inline constexpr const wchar_t* kIniFileName = L"\\Pathlight.ini";

// One binding, with its default text passed to the INI read: only an absent key takes the
// default, a key present with an empty value unbinds.
[[nodiscard]] KeyBinding ReadKeyBinding(IniSource& ini, const std::wstring& path, const wchar_t* section,
                                        const wchar_t* key, const wchar_t* defaultText);

// Every key of the file. On reload the four start-only values ([Style] Renderer, [World]
// DlssCamera, [Debug] Scan and Draw) are taken from live instead. With misread, every value that
// the value syntax does not read whole adds a line there, in key-list order:
//   Config: [Routing] MainRoadWeight="abc" is not a number; read as 0
[[nodiscard]] Settings ReadSettings(IniSource& ini, const std::wstring& path, const Settings& live, bool reload,
                                    std::vector<std::string>* misread = nullptr);

// The two "Config:" lines that a load logs: the user's check of what was read.
[[nodiscard]] std::array<std::string, 2> SettingsSummary(const Settings& settings);

// The whole load against the process-wide state: rebuilds and stores the INI path from the
// library's folder, publishes the record read (PublishSettings), raises the reload requests or
// sets the world toggle, and logs: the two summary lines, then the values not read whole.
void LoadSettingsFrom(IniSource& ini, const std::wstring& moduleFolder, bool reload);

// The path of the last load.
[[nodiscard]] const std::wstring& IniPath();

// Windows build: GetPrivateProfileStringW.
[[nodiscard]] IniSource& SystemIniSource();

// Windows build: LoadSettingsFrom with GetPrivateProfileStringW and the library's folder.
void LoadSettings(bool reload);

}  // namespace pathlight
