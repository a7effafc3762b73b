#include "settings/settings_syntax.hpp"

#include <cwchar>
#include <optional>
#include <string>

#include "platform/text.hpp"

namespace pathlight {

namespace {

// The white space of the C locale's iswspace.
bool IsCSpace(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); }

int DigitValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  const wchar_t lower = AsciiLower(c);
  if (lower >= L'a' && lower <= L'z') return lower - L'a' + 10;
  return 99;
}

bool IsHexPrefix(std::wstring_view text, std::size_t at) {
  // "0x" counts only before a hex digit: "0xg" is the number 0 followed by text.
  return at + 2 < text.size() && text[at] == L'0' && AsciiLower(text[at + 1]) == L'x' && DigitValue(text[at + 2]) < 16;
}

struct KeyName {
  std::wstring_view name;
  std::uint32_t code;
};

constexpr KeyName kKeyNames[] = {
    {L"Home", 0x24},           {L"End", 0x23},
    {L"Insert", 0x2D},         {L"Delete", 0x2E},
    {L"PageUp", 0x21},         {L"PageDown", 0x22},
    {L"Pause", 0x13},          {L"ScrollLock", 0x91},
    {L"Space", 0x20},          {L"Tab", 0x09},
    {L"Backspace", 0x08},      {L"Enter", 0x0D},
    {L"NumpadAdd", 0x6B},      {L"NumpadSubtract", 0x6D},
    {L"NumpadMultiply", 0x6A}, {L"NumpadDivide", 0x6F},
    {L"NumpadDecimal", 0x6E},  {L"LeftBracket", 0xDB},
    {L"RightBracket", 0xDD},   {L"Backslash", 0xDC},
};

constexpr std::uint32_t kVkF1Base = 0x6F;      // F1 is 0x70
constexpr std::uint32_t kVkNumpadBase = 0x60;  // Numpad0

std::wstring_view TrimSpaces(std::wstring_view token) {
  while (!token.empty() && token.front() == L' ') token.remove_prefix(1);
  while (!token.empty() && token.back() == L' ') token.remove_suffix(1);
  return token;
}

// One token of a binding: a modifier bit, a key code, or nothing. Returns whether the token
// names something (a modifier, a key, or "None").
bool ApplyToken(std::wstring_view token, KeyBinding& binding) {
  if (EqualsIgnoringCase(token, L"Ctrl") || EqualsIgnoringCase(token, L"Control")) {
    binding.modifiers |= kModCtrl;
    return true;
  }
  if (EqualsIgnoringCase(token, L"Shift")) {
    binding.modifiers |= kModShift;
    return true;
  }
  if (EqualsIgnoringCase(token, L"Alt")) {
    binding.modifiers |= kModAlt;
    return true;
  }
  if (token.size() >= 2 && AsciiLower(token[0]) == L'f' && token[1] >= L'1' && token[1] <= L'9') {
    // "F1x" is F1; "F25" names no key and the token is dropped.
    std::uint32_t number = 0;
    for (std::size_t i = 1; i < token.size() && token[i] >= L'0' && token[i] <= L'9' && number < 1000; ++i) {
      number = number * 10 + static_cast<std::uint32_t>(token[i] - L'0');
    }
    if (number >= 1 && number <= 24) binding.key = kVkF1Base + number;
    return number >= 1 && number <= 24 && token.size() == (number < 10 ? 2u : 3u);
  }
  if (token.size() == 7 && EqualsIgnoringCase(token.substr(0, 6), L"Numpad") && token[6] >= L'0' && token[6] <= L'9') {
    binding.key = kVkNumpadBase + static_cast<std::uint32_t>(token[6] - L'0');
    return true;
  }
  if (token.size() >= 2 && token[0] == L'0' && AsciiLower(token[1]) == L'x') {
    binding.key = ParseUnsigned32(token, 16);  // a raw virtual-key code, taken unchecked
    return UnsignedReadsWhole(token);
  }
  if (token.size() == 1) {
    const wchar_t c = token[0];
    if ((c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'Z')) {
      binding.key = static_cast<std::uint32_t>(c);
      return true;
    }
    if (c >= L'a' && c <= L'z') {
      binding.key = static_cast<std::uint32_t>(c - L'a' + L'A');
      return true;
    }
    if (c == L'[') {
      binding.key = 0xDB;
      return true;
    }
    if (c == L']') {
      binding.key = 0xDD;
      return true;
    }
    if (c == L'\\') {
      binding.key = 0xDC;
      return true;
    }
  }
  for (const KeyName& name : kKeyNames) {
    if (EqualsIgnoringCase(token, name.name)) {
      binding.key = name.code;
      return true;
    }
  }
  return EqualsIgnoringCase(token, L"None");
}

}  // namespace

namespace {

struct UnsignedScan {
  std::uint32_t value = 0;
  std::size_t end = 0;  // where the reading stopped
  bool digits = false;
  bool overflow = false;
};

UnsignedScan ScanUnsigned32(std::wstring_view text, int base) {
  UnsignedScan scan;
  std::size_t i = 0;
  while (i < text.size() && IsCSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
  if ((base == 0 || base == 16) && IsHexPrefix(text, i)) {
    base = 16;
    i += 2;
  } else if (base == 0) {
    base = (i < text.size() && text[i] == L'0') ? 8 : 10;
  }
  std::uint64_t value = 0;
  for (; i < text.size(); ++i) {
    const int digit = DigitValue(text[i]);
    if (digit >= base) break;
    scan.digits = true;
    value = value * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
    if (value > 0xFFFFFFFFull) {
      scan.overflow = true;
      value = 0xFFFFFFFFull;  // keeps the arithmetic in range while the digits run on
    }
  }
  scan.end = i;
  if (scan.overflow) {
    scan.value = 0xFFFFFFFFu;
  } else {
    const auto result = static_cast<std::uint32_t>(value);
    scan.value = negative ? static_cast<std::uint32_t>(0u - result) : result;
  }
  return scan;
}

// Only blanks from `at` on.
bool RestIsBlank(std::wstring_view text, std::size_t at) {
  for (; at < text.size(); ++at) {
    if (!IsCSpace(text[at])) return false;
  }
  return true;
}

}  // namespace

std::uint32_t ParseUnsigned32(std::wstring_view text, int base) { return ScanUnsigned32(text, base).value; }

bool ParseBool(std::wstring_view text) { return ParseUnsigned32(text) != 0; }

float ParseFloat(std::wstring_view text) {
  const std::wstring terminated(text);
  return std::wcstof(terminated.c_str(), nullptr);
}

std::uint32_t ParseColour(std::wstring_view text, std::uint32_t fallback) {
  if (!text.empty() && text.front() == L'#') text.remove_prefix(1);
  if (text.size() != 6 && text.size() != 8) return fallback;
  const std::uint32_t value = ParseUnsigned32(text, 16);
  if (text.size() == 6) return PackColour((value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF, 0xFF);
  return PackColour(value >> 24, (value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF);
}

std::int32_t ParseInterpolate(std::wstring_view text) {
  if (EqualsIgnoringCase(text, L"On") || text == L"1") return 1;
  if (EqualsIgnoringCase(text, L"Off") || text == L"0") return 0;
  return -1;
}

std::int32_t ParseHdrMode(std::wstring_view text) {
  if (EqualsIgnoringCase(text, L"SDR") || EqualsIgnoringCase(text, L"Off")) return 0;
  if (EqualsIgnoringCase(text, L"scRGB")) return 1;
  if (EqualsIgnoringCase(text, L"HDR10")) return 2;
  return -1;
}

RendererChoice ParseRenderer(std::wstring_view text) {
  if (EqualsIgnoringCase(text, L"Composition")) return RendererChoice::Composition;
  if (EqualsIgnoringCase(text, L"None")) return RendererChoice::None;
  return RendererChoice::Present;
}

KeyBinding ParseKeyBinding(std::wstring_view text) {
  KeyBinding binding;
  while (true) {
    const std::size_t plus = text.find(L'+');
    ApplyToken(TrimSpaces(text.substr(0, plus)), binding);
    if (plus == std::wstring_view::npos) break;
    text.remove_prefix(plus + 1);
  }
  if (binding.key == 0) binding.modifiers = 0;
  return binding;
}

bool UnsignedReadsWhole(std::wstring_view text) {
  const UnsignedScan scan = ScanUnsigned32(text, 0);
  return text.empty() || (scan.digits && !scan.overflow && RestIsBlank(text, scan.end));
}

bool UnsignedTooLarge(std::wstring_view text) { return ScanUnsigned32(text, 0).overflow; }

bool FloatReadsWhole(std::wstring_view text) {
  if (text.empty()) return true;
  const std::wstring terminated(text);
  wchar_t* end = nullptr;
  (void)std::wcstof(terminated.c_str(), &end);
  const auto read = static_cast<std::size_t>(end - terminated.c_str());
  return read > 0 && RestIsBlank(text, read);
}

bool ColourReadsWhole(std::wstring_view text) {
  if (text.empty()) return true;
  if (text.front() == L'#') text.remove_prefix(1);
  if (text.size() != 6 && text.size() != 8) return false;
  for (const wchar_t c : text) {
    if (DigitValue(c) >= 16) return false;
  }
  return true;
}

bool WordReadsWhole(WordKey word, std::wstring_view text) {
  if (text.empty()) return true;
  switch (word) {
    case WordKey::Interpolate: return ParseInterpolate(text) != -1 || EqualsIgnoringCase(text, L"Auto");
    case WordKey::HdrMode: return ParseHdrMode(text) != -1 || EqualsIgnoringCase(text, L"Auto");
    case WordKey::Renderer:
      return ParseRenderer(text) != RendererChoice::Present || EqualsIgnoringCase(text, L"Present");
  }
  return false;
}

std::optional<std::wstring_view> UnknownKeyToken(std::wstring_view text) {
  if (TrimSpaces(text).empty()) return std::nullopt;
  while (true) {
    const std::size_t plus = text.find(L'+');
    const std::wstring_view token = TrimSpaces(text.substr(0, plus));
    KeyBinding ignored;
    // An empty token ("Ctrl+", "F5++") names nothing either.
    if (token.empty() || !ApplyToken(token, ignored)) return token;
    if (plus == std::wstring_view::npos) return std::nullopt;
    text.remove_prefix(plus + 1);
  }
}

}  // namespace pathlight
