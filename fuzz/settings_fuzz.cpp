// Any text as one INI value through every value parser, or as a whole "Pathlight.ini" through the
// native INI stand-in and the settings load. The first byte picks which; the rest is the text.
//
// Checked: the unsigned reading agrees with the C library's conversion narrowed to 32 bits; a
// colour of another length keeps its fallback; the words read as one of their choices; a load
// asks for every key once, keeps the start-only values on a reload, and logs the two "Config:"
// lines.
#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cwchar>
#include <cwctype>
#include <set>
#include <string>

#include "fuzz_log.hpp"
#include "fuzz_memory.hpp"
#include "fuzz_text.hpp"
#include "settings/ini_text.hpp"
#include "settings/settings_load.hpp"
#include "settings/settings_syntax.hpp"

namespace pathlight::fuzzing {
namespace {

// wcstoul where long has 32 bits, built on the 64-bit conversion: a magnitude beyond 32 bits is
// the largest value, a negative one is negated in 32 bits.
std::uint32_t ReferenceUnsigned32(const std::wstring& text, int base) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == L' ' || (text[i] >= L'\t' && text[i] <= L'\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
  // Only a digit may follow: the 64-bit conversion would skip blanks or a second sign here.
  const bool hex = base == 16 && i < text.size() && std::iswxdigit(text[i]) != 0 && text[i] < 0x80;
  if (i == text.size() || !((text[i] >= L'0' && text[i] <= L'9') || hex)) return 0;
  errno = 0;
  const unsigned long long magnitude = std::wcstoull(text.c_str() + i, nullptr, base);
  if (errno == ERANGE || magnitude > 0xFFFFFFFFull) return 0xFFFFFFFFu;
  const auto value = static_cast<std::uint32_t>(magnitude);
  return negative ? 0u - value : value;
}

void CheckValue(const std::wstring& text) {
  // The C conversion stops at a NUL; the library's readings never see one from the INI call.
  if (text.find(L'\0') != std::wstring::npos) return;
  if (ParseUnsigned32(text) != ReferenceUnsigned32(text, 0)) Broken("ParseUnsigned32 base 0");
  if (ParseUnsigned32(text, 16) != ReferenceUnsigned32(text, 16)) Broken("ParseUnsigned32 base 16");
  if (ParseBool(text) != (ParseUnsigned32(text) != 0)) Broken("ParseBool");
  (void)ParseFloat(text);

  std::wstring_view digits = text;
  if (!digits.empty() && digits.front() == L'#') digits.remove_prefix(1);
  const std::uint32_t fallback = 0x12345678;
  const std::uint32_t colour = ParseColour(text, fallback);
  if (digits.size() != 6 && digits.size() != 8 && colour != fallback) Broken("ParseColour kept no fallback");
  if (digits.size() == 6 && colour >> 24 != 0xFF) Broken("ParseColour: six digits not opaque");

  const std::int32_t interpolate = ParseInterpolate(text);
  const std::int32_t hdr = ParseHdrMode(text);
  const auto renderer = static_cast<std::int32_t>(ParseRenderer(text));
  if (interpolate < -1 || interpolate > 1 || hdr < -1 || hdr > 2 || renderer < 0 || renderer > 2) Broken("word");
}

// Counts the keys of the settings list.
struct KeyCounter {
  int keys = 0;
  template <typename... T> void Bool(T&&...) { ++keys; }
  template <typename... T> void AllBits(T&&...) { ++keys; }
  template <typename... T> void Unsigned(T&&...) { ++keys; }
  template <typename... T> void Float(T&&...) { ++keys; }
  template <typename... T> void Colour(T&&...) { ++keys; }
  template <typename... T> void Binding(T&&...) { ++keys; }
  template <typename... T> void Word(T&&...) { ++keys; }
};

int KeyCount() {
  Settings settings;
  KeyCounter counter;
  ForEachSettingsKey(settings, counter);
  return counter.keys;
}

// One load of the file (a reload when `reload`) over a live record whose start-only values differ
// from the defaults; with `logged`, through the whole load that publishes and logs.
void CheckFile(const std::wstring& text, bool reload, bool logged) {
  static const int keys = KeyCount();
  const std::wstring folder = L"C:\\Game\\bin64";
  TextIni ini(text);
  if (logged) {
    (void)TakeLogText();
    LoadSettingsFrom(ini, folder, reload);
    const std::string log = TakeLogText();
    // The summary lines (a reload names the file too), then one line per value misread, each once.
    std::size_t summaries = 0;
    bool misreadingSeen = false;
    std::set<std::string> misreadings;
    for (std::size_t at = 0, end = 0; at < log.size(); at = end + 1) {
      end = std::min(log.find('\n', at), log.size());
      const std::string line = log.substr(at, end - at);
      const std::size_t config = line.find("] Config: ");  // a value's text may hold the same words
      if (config == std::string::npos) continue;
      if (line[config + 10] != '[') {
        if (misreadingSeen) Broken("a summary line after a misreading");
        ++summaries;
      } else if (misreadingSeen = true; line.find("; read as ") == std::string::npos) {
        Broken("a misreading line without what it was read as");
      } else if (!misreadings.insert(line.substr(config)).second) {
        Broken("a misreading logged twice in one load");
      }
    }
    if (summaries != (reload ? 3u : 2u)) Broken("a load did not log its Config: lines");
    return;
  }
  Settings live;
  live.renderer = RendererChoice::None;
  live.worldDlssCamera = 0;
  live.debug.scan = false;
  live.debug.draw = false;
  const Settings read = ReadSettings(ini, folder + kIniFileName, live, reload);
  if (ini.reads != keys) Broken("a load did not read every key once");
  if (reload && (read.renderer != live.renderer || read.worldDlssCamera != live.worldDlssCamera ||
                 read.debug.scan != live.debug.scan || read.debug.draw != live.debug.draw)) {
    Broken("a reload changed a start-only value");
  }
  for (const KeyBinding& binding : {read.worldToggle, read.minimapToggle, read.reloadKey}) {
    if (binding.key == 0 && binding.modifiers != 0) Broken("an unbound binding with modifiers");
  }
  // Each line whole: a cut line would lose its last field.
  const auto summary = SettingsSummary(read);
  if (summary[0].rfind("Config: world route ", 0) != 0 ||
      summary[0].find("; minimap toggle key vk=0x") == std::string::npos ||
      summary[1].rfind("Config: minimap=", 0) != 0 || summary[1].find(" offroad=") == std::string::npos) {
    Broken("a Config: line cut or malformed");
  }
}

}  // namespace
}  // namespace pathlight::fuzzing

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace pathlight::fuzzing;
  if (size == 0) return 0;
  const std::wstring text = WideText({data + 1, size - 1});
  if (data[0] % 2 == 0) {
    CheckValue(text);
  } else {
    CheckFile(text, (data[0] & 2) != 0, (data[0] & 0x1C) == 0x1C);
  }
  return 0;
}
