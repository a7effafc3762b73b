// The INI read behind LoadSettings: GetPrivateProfileStringW on the file beside the library.
#include <windows.h>

#include "platform/folders.hpp"
#include "settings/settings_load.hpp"

namespace pathlight {

namespace {

class ProfileIni final : public IniSource {
 public:
  std::wstring ReadValue(const std::wstring& path, const wchar_t* section, const wchar_t* key, const wchar_t* fallback,
                         std::size_t bufferChars) override {
    std::wstring buffer(bufferChars, L'\0');
    const DWORD length =
        GetPrivateProfileStringW(section, key, fallback, buffer.data(), static_cast<DWORD>(bufferChars), path.c_str());
    buffer.resize(length < bufferChars ? length : 0);
    return buffer;
  }
};

}  // namespace

IniSource& SystemIniSource() {
  static ProfileIni ini;
  return ini;
}

void LoadSettings(bool reload) { LoadSettingsFrom(SystemIniSource(), GetModuleFolder(), reload); }

}  // namespace pathlight
