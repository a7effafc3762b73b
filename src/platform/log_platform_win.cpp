#include <windows.h>

#include <share.h>

#include <string>

#include "platform/folders.hpp"
#include "platform/log_platform.hpp"

namespace pathlight::platform {

std::FILE* OpenLogStream() {
  const std::wstring folder = GetModuleFolder();
  const std::wstring path = folder + L"\\Pathlight.log";
  const std::wstring previous = folder + L"\\Pathlight.previous.log";
  // Keeps the last run's log; fails harmlessly when there is none.
  MoveFileExW(path.c_str(), previous.c_str(), MOVEFILE_REPLACE_EXISTING);
  // Text mode ("\n" becomes CR LF), shared so the file can be read while the game runs.
  return _wfsopen(path.c_str(), L"w", _SH_DENYNO);
}

TimeOfDay LocalTimeOfDay() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return {now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

}  // namespace pathlight::platform
