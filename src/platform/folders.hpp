// Where the library's and the game's files lie. Wide strings without trailing separator.
#pragma once

#include <string>

namespace pathlight {

// Recorded once by the DLL entry point; until then (and in executables) the folder functions
// describe the executable itself.
void SetLibraryModule(void* module);

// Full path of the host executable, as the OS gives it (cut at 260 characters).
[[nodiscard]] std::wstring HostExecutablePath();

// Full path of a loaded module (an HMODULE), as the OS gives it (cut at 260 characters); the
// executable's for null, empty when it cannot be had. Natively only the executable has one.
[[nodiscard]] std::wstring ModuleFileName(void* module);

// The library's folder: where "\Pathlight.ini" and "\Pathlight.log" live.
[[nodiscard]] std::wstring GetModuleFolder();

// The game's installation folder: the folder above the one that holds the executable.
[[nodiscard]] std::wstring GetGameFolder();

}  // namespace pathlight
