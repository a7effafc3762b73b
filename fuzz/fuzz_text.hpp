// Wide text from fuzz bytes, as the INI read hands it to the library: a byte below 0x80 is that
// character; a byte with its top bit set and the byte after it are one character of up to 15 bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace pathlight::fuzzing {

[[nodiscard]] inline std::wstring WideText(std::span<const std::uint8_t> bytes) {
  std::wstring text;
  text.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] < 0x80 || i + 1 == bytes.size()) {
      text.push_back(static_cast<wchar_t>(bytes[i] & 0x7F));
    } else {
      text.push_back(static_cast<wchar_t>((bytes[i] & 0x7F) << 8 | bytes[i + 1]));
      ++i;
    }
  }
  return text;
}

// The inverse for seeds: every character below 0x8000.
[[nodiscard]] inline std::string FuzzBytes(std::wstring_view text) {
  std::string bytes;
  for (const wchar_t c : text) {
    if (c < 0x80) {
      bytes.push_back(static_cast<char>(c));
    } else {
      bytes.push_back(static_cast<char>(0x80 | ((c >> 8) & 0x7F)));
      bytes.push_back(static_cast<char>(c & 0xFF));
    }
  }
  return bytes;
}

}  // namespace pathlight::fuzzing
