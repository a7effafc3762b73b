#include "hooks/module_path.hpp"

#include <windows.h>

#include "platform/utf8.hpp"

namespace pathlight {

std::string ModulePathOf(const void* address) {
  HMODULE module = nullptr;
  if (address == nullptr ||
      !GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          static_cast<LPCWSTR>(address), &module)) {
    return "?";
  }
  wchar_t path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
  return length == 0 ? std::string("?") : ToUtf8(std::wstring_view(path, length));
}

}  // namespace pathlight
