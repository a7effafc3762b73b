// Names compared as the user or the system may spell them, in either case. Only the ASCII letters
// fold: the names compared (settings' keys and values, file names the library knows) are ASCII,
// and the fold then does not hang on the C library's locale.
#pragma once

#include <cstddef>
#include <string_view>

namespace pathlight {

[[nodiscard]] constexpr wchar_t AsciiLower(wchar_t c) {
  return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

[[nodiscard]] constexpr bool EqualsIgnoringCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

[[nodiscard]] constexpr bool StartsWithIgnoringCase(std::wstring_view text, std::wstring_view prefix) {
  return text.size() >= prefix.size() && EqualsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace pathlight
