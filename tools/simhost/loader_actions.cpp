// load-library PATH: loads one more DLL into the running game, as the game's loader DLL loads
// plug-ins. Tests use it to bring in a library that drives one part of Pathlight on its own.
#include <windows.h>

#include <string>

#include "host.hpp"
#include "scenario.hpp"

namespace simhost {

namespace {

const bool kLoadLibraryAction =
    RegisterAction("load-library", {1, 1, [](Host&, const Action& action) {
                                      const std::string& path = action.args[0];
                                      const int length = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
                                      std::wstring wide(length > 0 ? length - 1 : 0, L'\0');
                                      if (length > 1)
                                        MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide.data(), length);
                                      if (LoadLibraryW(wide.c_str()) == nullptr)
                                        Say("simhost: %s not loaded (error %lu)", path.c_str(), GetLastError());
                                    }});

}  // namespace

}  // namespace simhost
