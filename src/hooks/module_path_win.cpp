#include "hooks/module_path.hpp"

#include <windows.h>

#include "platform/folders.hpp"
#include "platform/utf8.hpp"

namespace pathlight {

std::string ModulePathOf(const void* address) {
  HMODULE module = nullptr;
  if (address == nullptr ||
      !GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          static_cast<LPCWSTR>(address), &module)) {
    return "?";
  }
  const std::wstring path = ModuleFileName(module);
  return path.empty() ? std::string("?") : ToUtf8(path);
}

}  // namespace pathlight
