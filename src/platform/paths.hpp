// Path texts of the host process and of the library, without any OS call: the Windows shell
// fetches the module paths and passes them here, so every rule is testable natively.
#pragma once

#include <string>
#include <string_view>

namespace pathlight {

// The Windows path buffer size the folder functions use; longer paths arrive cut by the OS.
inline constexpr std::size_t kPathChars = 260;

// Text before the last "\" or "/" (whichever comes last); a path without separator comes back
// whole. No trailing separator is left, so callers append names that begin with "\".
[[nodiscard]] std::wstring CutAtLastSeparator(std::wstring_view path);

// The library's folder from the library's own full path.
[[nodiscard]] std::wstring ModuleFolderFromPath(std::wstring_view modulePath);

// The game's installation folder from the executable's full path: the folder above the one that
// holds the executable (<game>\bin64\CrimsonDesert.exe gives <game>).
[[nodiscard]] std::wstring GameFolderFromPath(std::wstring_view executablePath);

// Whether the executable at this path is the host game: the text after the last "\" equals
// "CrimsonDesert.exe" in any letter case. Only "\" separates here, as in the host's own paths.
[[nodiscard]] bool IsHostExecutable(std::wstring_view executablePath);

}  // namespace pathlight
