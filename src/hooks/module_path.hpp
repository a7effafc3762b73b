// The path of the module that holds an address, for log lines ("?" when no module holds it).
// Takes no reference on the module. Callable from any thread.
#pragma once

#include <string>

namespace pathlight {

[[nodiscard]] std::string ModulePathOf(const void* address);

}  // namespace pathlight
