#include "settings/settings_load.hpp"

#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "platform/log.hpp"
#include "platform/utf8.hpp"
#include "settings/run_flags.hpp"
#include "settings/settings_syntax.hpp"

namespace pathlight {

namespace {

// The settings' state: the record in force, the file it came from and the run flags. Before the
// first load a reader finds the defaults. The lock is held only to copy or swap the record's
// pointer.
struct SettingsState {
  std::mutex lock;
  SettingsPtr record;  // empty until the first publication: the defaults
  std::wstring iniPath;
  RunFlags flags;
};

SettingsState g_settings;

const SettingsPtr& DefaultSettings() {
  static const SettingsPtr defaults = std::make_shared<const Settings>();
  return defaults;
}

}  // namespace

RunFlags& Flags() { return g_settings.flags; }

SettingsPtr CurrentSettings() {
  {
    std::lock_guard<std::mutex> lock(g_settings.lock);
    if (g_settings.record) return g_settings.record;
  }
  return DefaultSettings();
}

void PublishSettings(const Settings& settings) {
  SettingsPtr record = std::make_shared<const Settings>(settings);
  std::lock_guard<std::mutex> lock(g_settings.lock);
  // The previous record is released inside the lock, as the route is: whichever side lets go of
  // it last frees it, never while the other copies the pointer.
  g_settings.record.swap(record);
  record.reset();
}

namespace {

std::string Format(const char* format, ...) PATHLIGHT_PRINTF(1, 2);
std::string Format(const char* format, ...) {
  char line[512];
  std::va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  return line;
}

const char* WordName(WordKey word, std::int32_t value) {
  switch (word) {
    case WordKey::Interpolate: return value == 1 ? "On" : value == 0 ? "Off" : "Auto";
    case WordKey::HdrMode: return value == 0 ? "SDR" : value == 1 ? "scRGB" : value == 2 ? "HDR10" : "Auto";
    case WordKey::Renderer:
      return value == static_cast<std::int32_t>(RendererChoice::Composition) ? "Composition"
             : value == static_cast<std::int32_t>(RendererChoice::None)      ? "None"
                                                                             : "Present";
  }
  return "";
}

const char* WordChoices(WordKey word) {
  switch (word) {
    case WordKey::Interpolate: return "On, Off or Auto";
    case WordKey::HdrMode: return "SDR, Off, scRGB, HDR10 or Auto";
    case WordKey::Renderer: return "Present, Composition or None";
  }
  return "";
}

std::string BindingText(const KeyBinding& binding) {
  return binding.Bound() ? Format("vk=0x%02X mods=%u", binding.key, binding.modifiers) : "unbound";
}

// Reads every key into a record that starts at the defaults. An empty text (absent key or empty
// value) leaves the default, except for bindings and words, whose defaults go to the INI read as
// text so that only an absent key takes them. A text that the value syntax does not read whole
// is still read as the syntax reads it (stored files rely on that), and noted with what it became.
class KeyReader {
 public:
  KeyReader(IniSource& ini, const std::wstring& path, std::vector<std::string>* misread)
      : ini_(ini), path_(path), misread_(misread) {}

  void Bool(const wchar_t* section, const wchar_t* key, bool& field) {
    const std::wstring text = Read(section, key);
    if (text.empty()) return;
    field = ParseBool(text);
    if (!UnsignedReadsWhole(text)) NoteSwitch(section, key, text);
  }
  void AllBits(const wchar_t* section, const wchar_t* key, std::int32_t& field) {
    const std::wstring text = Read(section, key);
    if (text.empty()) return;
    field = ParseBool(text) ? -1 : 0;
    if (!UnsignedReadsWhole(text)) NoteSwitch(section, key, text);
  }
  void Unsigned(const wchar_t* section, const wchar_t* key, std::uint32_t& field) {
    const std::wstring text = Read(section, key);
    if (text.empty()) return;
    field = ParseUnsigned32(text);
    if (!UnsignedReadsWhole(text)) {
      Note(section, key, text, UnsignedTooLarge(text) ? "is too large for 32 bits" : "is not a number",
           Format("%u (0x%X)", field, field));
    }
  }
  void Float(const wchar_t* section, const wchar_t* key, float& field) {
    const std::wstring text = Read(section, key);
    if (text.empty()) return;
    field = ParseFloat(text);
    if (!FloatReadsWhole(text)) Note(section, key, text, "is not a number", Format("%g", static_cast<double>(field)));
  }
  void Colour(const wchar_t* section, const wchar_t* key, std::uint32_t& field) {
    const std::wstring text = Read(section, key);
    field = ParseColour(text, field);
    if (!ColourReadsWhole(text)) {
      Note(section, key, text, "is not a colour (RRGGBB or RRGGBBAA)",
           Format("%02X%02X%02X%02X", field & 0xFF, (field >> 8) & 0xFF, (field >> 16) & 0xFF, field >> 24));
    }
  }
  void Binding(const wchar_t* section, const wchar_t* key, KeyBinding& field, const wchar_t* defaultText) {
    const std::wstring text = ini_.ReadValue(path_, section, key, defaultText, kValueChars);
    field = ParseKeyBinding(text);
    if (const auto unknown = UnknownKeyToken(text)) {
      Note(section, key, text, "is not a key binding (\"" + ToUtf8(*unknown) + "\" names no key)", BindingText(field));
    }
  }
  template <class T> void Word(const wchar_t* section, const wchar_t* key, T& field, WordKey word) {
    const wchar_t* fallback = word == WordKey::Renderer ? L"Present" : L"Auto";
    const std::size_t chars = word == WordKey::Interpolate ? kInterpolateChars : kWordChars;
    const std::wstring text = ini_.ReadValue(path_, section, key, fallback, chars);
    std::int32_t value = 0;
    switch (word) {
      case WordKey::Interpolate: value = ParseInterpolate(text); break;
      case WordKey::HdrMode: value = ParseHdrMode(text); break;
      case WordKey::Renderer: value = static_cast<std::int32_t>(ParseRenderer(text)); break;
    }
    field = static_cast<T>(value);
    if (!WordReadsWhole(word, text)) {
      Note(section, key, text, std::string("is not ") + WordChoices(word), WordName(word, value));
    }
  }

 private:
  std::wstring Read(const wchar_t* section, const wchar_t* key) {
    return ini_.ReadValue(path_, section, key, L"", kValueChars);
  }
  void NoteSwitch(const wchar_t* section, const wchar_t* key, const std::wstring& text) {
    const std::uint32_t value = ParseUnsigned32(text);
    Note(section, key, text, UnsignedTooLarge(text) ? "is too large for 32 bits" : "is not a number",
         Format("%u (%s)", value, value != 0 ? "on" : "off"));
  }
  void Note(const wchar_t* section, const wchar_t* key, const std::wstring& text, const std::string& problem,
            const std::string& readAs) {
    if (misread_ == nullptr) return;
    misread_->push_back(Printable("Config: [" + ToUtf8(section) + "] " + ToUtf8(key) + "=\"" + ToUtf8(text) + "\" " +
                                  problem + "; read as " + readAs));
  }
  // A value's text is the file's: a control character in it (a line break, a NUL) would split or
  // cut the log line, so it is written as \xNN.
  static std::string Printable(const std::string& line) {
    std::string out;
    for (const char c : line) {
      const auto byte = static_cast<unsigned char>(c);
      if (byte >= 0x20 && byte != 0x7F) {
        out += c;
      } else {
        out += Format("\\x%02X", byte);
      }
    }
    return out;
  }

  IniSource& ini_;
  const std::wstring& path_;
  std::vector<std::string>* misread_;
};

}  // namespace

KeyBinding ReadKeyBinding(IniSource& ini, const std::wstring& path, const wchar_t* section, const wchar_t* key,
                          const wchar_t* defaultText) {
  return ParseKeyBinding(ini.ReadValue(path, section, key, defaultText, kValueChars));
}

Settings ReadSettings(IniSource& ini, const std::wstring& path, const Settings& live, bool reload,
                      std::vector<std::string>* misread) {
  // Every field has a key, so a record read from the defaults up equals the live record with
  // every key read over it.
  Settings working;
  KeyReader reader(ini, path, misread);
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
      Format(
          "Config: world route %s%s, toggle key vk=0x%02X mods=%u, %.0f m ahead; minimap toggle key vk=0x%02X mods=%u",
          s.worldEnabled ? "on" : "off", s.mountedOnly ? " (mounted only)" : "", s.worldToggle.key,
          s.worldToggle.modifiers, s.worldDistance, s.minimapToggle.key, s.minimapToggle.modifiers),
      Format("Config: minimap=%d centre=(%.1f,%.1f) r=%.1f %.3f px/m; worldmap=%d divisor=%.2f; reroute=%.0f m "
             "offroad=%.2f",
             s.minimapEnabled ? 1 : 0, s.minimapCenterX, s.minimapCenterY, s.minimapRadius, s.minimapPixelsPerMeter,
             s.worldMapEnabled ? 1 : 0, s.worldMapZoomDivisor, s.rerouteDistance, s.offRoadWeight),
  };
}

void LoadSettingsFrom(IniSource& ini, const std::wstring& moduleFolder, bool reload) {
  std::wstring& iniPath = g_settings.iniPath;
  iniPath = moduleFolder + kIniFileName;
  // The working record is complete before it is published: no reader sees half of the file.
  std::vector<std::string> misread;
  const Settings working = ReadSettings(ini, iniPath, *CurrentSettings(), reload, &misread);
  PublishSettings(working);
  if (reload) {
    g_settings.flags.RerouteRequested.exchange(1);
    g_settings.flags.RebuildRequested.exchange(1);
    // As UTF-8: "%ls" would cut the path at its first character outside ASCII.
    Log("Config: reloaded %s", ToUtf8(iniPath).c_str());
  } else {
    g_settings.flags.WorldRouteShown.exchange(working.worldEnabled ? 1 : 0);
  }
  for (const std::string& line : SettingsSummary(working)) Log("%s", line.c_str());
  // After the summary, which stays two lines: one line per value not read whole.
  for (const std::string& line : misread) Log("%s", line.c_str());
}

const std::wstring& IniPath() { return g_settings.iniPath; }

}  // namespace pathlight
