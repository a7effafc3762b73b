// A plain top-level window for the Windows-side tests and benchmarks to stand in for the game's:
// its class (DefWindowProcW) registered on first use.
#pragma once

#include <windows.h>

namespace testkit {

// A window of class `className` with `style`, at (x, y), whose outer size is width by height.
[[nodiscard]] HWND CreatePlainWindow(const wchar_t* className, DWORD style, int x, int y, int width, int height);

}  // namespace testkit
