// An IniSource over INI text in memory: the native tests' stand-in for the Windows INI call, and
// the native tools' reader of a user's Pathlight.ini. It answers as GetPrivateProfileStringW does
// (checked against the real call under Wine by the shared fixture table): sections and keys match
// ignoring case, the first match wins, blanks around keys and values are dropped, a value quoted
// at both ends loses its quotes, lines starting with ";" are comments, and every answer is cut
// to the buffer.
#pragma once

#include <string>

#include "settings/settings_load.hpp"

namespace pathlight {

class TextIni final : public IniSource {
 public:
  // exists false: no file at all (every read answers its fallback).
  explicit TextIni(std::wstring text, bool exists = true) : text_(std::move(text)), exists_(exists) {}

  std::wstring ReadValue(const std::wstring& path, const wchar_t* section, const wchar_t* key, const wchar_t* fallback,
                         std::size_t bufferChars) override;

  int reads = 0;
  std::wstring lastPath;

 private:
  std::wstring text_;
  bool exists_;
};

}  // namespace pathlight
