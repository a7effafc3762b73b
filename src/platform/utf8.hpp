// Wide text as UTF-8, for log lines. The log's "%ls" converts through the C library's current
// locale, which in the game's process is "C": it stops at the first character outside ASCII, so a
// path such as D:\Игры\... would come out cut. Paths go to the log through this instead.
#pragma once

#include <string>
#include <string_view>

namespace pathlight {

// UTF-16 on Windows, UTF-32 elsewhere; an unpaired surrogate becomes U+FFFD.
[[nodiscard]] std::string ToUtf8(std::wstring_view text);

}  // namespace pathlight
