// Any text as a key binding, then the bytes after its first NUL as keyboard input to the game
// window's key handling with that binding in force for all three keys.
//
// Checked: an unbound binding carries no modifiers and a bound one only the three modifier bits;
// the same text read inside a whole INI line gives the same binding (cut to the INI's 63
// characters); a lost focus leaves no key down; nothing beyond 255 is ever down.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "fuzz_log.hpp"
#include "fuzz_memory.hpp"
#include "fuzz_text.hpp"
#include "host/keys.hpp"
#include "settings/ini_text.hpp"
#include "settings/settings_load.hpp"
#include "settings/settings_syntax.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace pathlight;
  using namespace pathlight::fuzzing;
  const std::span<const std::uint8_t> bytes(data, size);
  const auto nul = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
  const std::wstring text = WideText({bytes.begin(), nul});
  const KeyBinding binding = ParseKeyBinding(text);
  if (!binding.Bound() && binding.modifiers != 0) Broken("an unbound binding with modifiers");
  if ((binding.modifiers & ~(kModCtrl | kModShift | kModAlt)) != 0) Broken("a modifier outside the three");

  // The INI line drops the blanks around the value and cuts it; a text without line ends, ";"
  // at its start or quotes must then read as the parse of that cut text.
  if (text.find_first_of(L"\r\n\"'") == std::wstring::npos) {
    TextIni ini(L"[Keys]\nReloadKey=" + text + L"\n");
    std::wstring value = text;
    const auto blank = [](wchar_t c) { return c == L' ' || c == L'\t'; };
    while (!value.empty() && blank(value.front())) value.erase(value.begin());
    while (!value.empty() && blank(value.back())) value.pop_back();
    if (!value.empty()) {
      value.resize(std::min(value.size(), kValueChars - 1));
      if (ReadKeyBinding(ini, L"Pathlight.ini", L"Keys", L"ReloadKey", L"\\") != ParseKeyBinding(value)) {
        Broken("the binding read from an INI line differs");
      }
    }
  }

  Settings settings;
  settings.worldToggle = settings.minimapToggle = settings.reloadKey = binding;
  PublishSettings(settings);
  KeyInput keys;
  const std::span<const std::uint8_t> events =
      nul == bytes.end() ? std::span<const std::uint8_t>{} : std::span<const std::uint8_t>(nul + 1, bytes.end());
  for (std::size_t i = 0; i + 1 < events.size() && i < 512; i += 2) {
    const std::uint8_t kind = events[i];
    const std::uint64_t key =
        kind & 0x80 ? events[i + 1] | static_cast<std::uint64_t>(kind & 0x70) << 4 : events[i + 1];
    switch (kind & 3) {
      case 0: keys.KeyMessage(key, (kind & 4) != 0); break;
      case 1: keys.RawKey(static_cast<std::uint32_t>(key), (kind & 4) != 0); break;
      case 2: keys.HandleKey(key, (kind & 4) != 0); break;
      case 3:
        keys.FocusLost();
        for (std::uint32_t k = 0; k < 256; ++k) {
          if (keys.IsDown(k)) Broken("a key down after the focus was lost");
        }
        break;
    }
    if (keys.IsDown(static_cast<std::uint32_t>(key) + 256)) Broken("a key beyond 255 down");
  }
  (void)TakeLogText();
  return 0;
}
