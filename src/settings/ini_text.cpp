#include "settings/ini_text.hpp"

#include <cwctype>
#include <optional>
#include <string_view>

#include "platform/text.hpp"

namespace pathlight {

namespace {

std::wstring_view Trim(std::wstring_view text) {
  while (!text.empty() && (text.front() == L' ' || text.front() == L'\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == L' ' || text.back() == L'\t')) text.remove_suffix(1);
  return text;
}

std::optional<std::wstring> Find(std::wstring_view text, std::wstring_view section, std::wstring_view key) {
  bool inSection = false;
  bool sectionSeen = false;
  while (!text.empty()) {
    // CR, LF and CR LF all end a line.
    const std::size_t end = text.find_first_of(L"\r\n");
    std::wstring_view line = Trim(text.substr(0, end));
    text.remove_prefix(end == std::wstring_view::npos ? text.size() : end + 1);
    if (line.empty() || line.front() == L';') continue;
    if (line.front() == L'[') {
      const std::size_t close = line.rfind(L']');
      if (close == std::wstring_view::npos) continue;
      // Only the first section of a name is searched.
      if (inSection) return std::nullopt;
      inSection = !sectionSeen && EqualsIgnoringCase(Trim(line.substr(1, close - 1)), section);
      sectionSeen = sectionSeen || inSection;
      continue;
    }
    if (!inSection) continue;
    // A key name without "=" is no key: the read answers its fallback.
    const std::size_t equals = line.find(L'=');
    if (equals == std::wstring_view::npos || !EqualsIgnoringCase(Trim(line.substr(0, equals)), key)) continue;
    std::wstring_view value = Trim(line.substr(equals + 1));
    if (value.size() >= 2 && (value.front() == L'"' || value.front() == L'\'') && value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    return std::wstring(value);
  }
  return std::nullopt;
}

}  // namespace

std::wstring TextIni::ReadValue(const std::wstring& path, const wchar_t* section, const wchar_t* key,
                                const wchar_t* fallback, std::size_t bufferChars) {
  ++reads;
  lastPath = path;
  std::optional<std::wstring> value;
  if (exists_) value = Find(text_, section, key);
  std::wstring answer = value ? *value : std::wstring(fallback);
  if (bufferChars == 0) return {};
  if (answer.size() > bufferChars - 1) answer.resize(bufferChars - 1);
  return answer;
}

}  // namespace pathlight
