#include "host/settings_load.hpp"

#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "host/log.hpp"
#include "host/run_flags.hpp"
#include "host/settings_syntax.hpp"
#include "platform/utf8.hpp"

namespace pathlight {

namespace {

// The record in force. The lock is held only to copy or swap the pointer; a function-local
// static so that a reader running before the first load still finds the defaults.
struct PublishedSettings {
  std::mutex lock;
  SettingsPtr record = std::make_shared<const Settings>();
};

PublishedSettings& Published() {
  static PublishedSettings published;
  return published;
}

}  // namespace

SettingsPtr CurrentSettings() {
  PublishedSettings& published = Published();
  std::lock_guard<std::mutex> lock(published.lock);
  return published.record;
}

void PublishSettings(const Settings& settings) {
  SettingsPtr record = std::make_shared<const Settings>(settings);
  PublishedSettings& published = Published();
  std::lock_guard<std::mutex> lock(published.lock);
  // The previous record is released inside the lock, as the route is: whichever side lets go of
  // it last frees it, never while the other copies the pointer.
  published.record.swap(record);
  record.reset();
}

namespace {

std::wstring g_iniPath;

// Reads every key into a record that starts at the defaults. An empty text (absent key or empty
// value) leaves the default, except for bindings and words, whose defaults go to the INI read as
// text so that only an absent key takes them.
class KeyReader {
 public:
  KeyReader(IniSource& ini, const std::wstring& path) : ini_(ini), path_(path) {}

  void Bool(const wchar_t* section, const wchar_t* key, bool& field) {
    const std::wstring text = Read(section, key);
    if (!text.empty()) field = ParseBool(text);
  }
  void AllBits(const wchar_t* section, const wchar_t* key, std::int32_t& field) {
    const std::wstring text = Read(section, key);
    if (!text.empty()) field = ParseBool(text) ? -1 : 0;
  }
  void Unsigned(const wchar_t* section, const wchar_t* key, std::uint32_t& field) {
    const std::wstring text = Read(section, key);
    if (!text.empty()) field = ParseUnsigned32(text);
  }
  void Float(const wchar_t* section, const wchar_t* key, float& field) {
    const std::wstring text = Read(section, key);
    if (!text.empty()) field = ParseFloat(text);
  }
  void Colour(const wchar_t* section, const wchar_t* key, std::uint32_t& field) {
    field = ParseColour(Read(section, key), field);
  }
  void Binding(const wchar_t* section, const wchar_t* key, KeyBinding& field, const wchar_t* defaultText) {
    field = ReadKeyBinding(ini_, path_, section, key, defaultText);
  }
  template <class T>
  void Word(const wchar_t* section, const wchar_t* key, T& field, WordKey word) {
    switch (word) {
      case WordKey::Interpolate:
        field = static_cast<T>(ParseInterpolate(ini_.ReadValue(path_, section, key, L"Auto", kInterpolateChars)));
        break;
      case WordKey::HdrMode:
        field = static_cast<T>(ParseHdrMode(ini_.ReadValue(path_, section, key, L"Auto", kWordChars)));
        break;
      case WordKey::Renderer:
        field = static_cast<T>(ParseRenderer(ini_.ReadValue(path_, section, key, L"Present", kWordChars)));
        break;
    }
  }

 private:
  std::wstring Read(const wchar_t* section, const wchar_t* key) {
    return ini_.ReadValue(path_, section, key, L"", kValueChars);
  }

  IniSource& ini_;
  const std::wstring& path_;
};

std::string Format(const char* format, ...) PATHLIGHT_PRINTF(1, 2);
std::string Format(const char* format, ...) {
  char line[512];
  std::va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  return line;
}

}  // namespace

KeyBinding ReadKeyBinding(IniSource& ini, const std::wstring& path, const wchar_t* section, const wchar_t* key,
                          const wchar_t* defaultText) {
  return ParseKeyBinding(ini.ReadValue(path, section, key, defaultText, kValueChars));
}

Settings ReadSettings(IniSource& ini, const std::wstring& path, const Settings& live, bool reload) {
  // Every field has a key, so a record read from the defaults up equals the live record with
  // every key read over it.
  Settings working;
  KeyReader reader(ini, path);
  ForEachSettingsKey(working, reader);
  if (reload) {
    // These set up graphics hooks, the renderer's thread and the object finder at start; changing
    // them later would leave the running parts behind.
    working.renderer = live.renderer;
    working.worldDlssCamera = live.worldDlssCamera;
    working.debug.scan = live.debug.scan;
    working.debug.draw = live.debug.draw;
  }
  return working;
}

std::array<std::string, 2> SettingsSummary(const Settings& s) {
  return {
      Format("Config: world route %s%s, toggle key vk=0x%02X mods=%u, %.0f m ahead; minimap toggle key vk=0x%02X mods=%u",
             s.worldEnabled ? "on" : "off", s.mountedOnly ? " (mounted only)" : "", s.worldToggle.key,
             s.worldToggle.modifiers, s.worldDistance, s.minimapToggle.key, s.minimapToggle.modifiers),
      Format("Config: minimap=%d centre=(%.1f,%.1f) r=%.1f %.3f px/m; worldmap=%d divisor=%.2f; reroute=%.0f m "
             "offroad=%.2f",
             s.minimapEnabled ? 1 : 0, s.minimapCenterX, s.minimapCenterY, s.minimapRadius, s.minimapPixelsPerMeter,
             s.worldMapEnabled ? 1 : 0, s.worldMapZoomDivisor, s.rerouteDistance, s.offRoadWeight),
  };
}

void LoadSettingsFrom(IniSource& ini, const std::wstring& moduleFolder, bool reload) {
  g_iniPath = moduleFolder + kIniFileName;
  // The working record is complete before it is published: no reader sees half of the file.
  const Settings working = ReadSettings(ini, g_iniPath, *CurrentSettings(), reload);
  PublishSettings(working);
  if (reload) {
    RerouteRequested.exchange(1);
    RebuildRequested.exchange(1);
    // As UTF-8: "%ls" would cut the path at its first character outside ASCII.
    Log("Config: reloaded %s", ToUtf8(g_iniPath).c_str());
  } else {
    WorldRouteShown.exchange(working.worldEnabled ? 1 : 0);
  }
  for (const std::string& line : SettingsSummary(working)) Log("%s", line.c_str());
}

const std::wstring& IniPath() { return g_iniPath; }

}  // namespace pathlight
