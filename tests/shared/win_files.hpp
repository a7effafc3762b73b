// Whole-file reads and writes for the Windows-side tests and the probe DLLs.
#pragma once

#include <windows.h>

#include <cstdio>
#include <optional>
#include <string>

namespace pathlight::testing {

// The file's bytes, read while others may still write, rename or delete it (the log stays open in
// the process); nothing when it cannot be opened.
inline std::optional<std::string> ReadWholeFile(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  std::string bytes;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
  CloseHandle(file);
  return bytes;
}

// Writes the text one byte a character (the INI texts of the tests are ASCII).
inline bool WriteAscii(const std::wstring& path, const std::wstring& text) {
  std::FILE* file = _wfopen(path.c_str(), L"wb");
  if (file == nullptr) return false;
  for (wchar_t c : text) std::fputc(static_cast<char>(c), file);
  std::fclose(file);
  return true;
}

}  // namespace pathlight::testing
