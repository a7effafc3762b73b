#include "game/game_init_win.hpp"

#include <windows.h>

namespace pathlight {

bool GameInitOnMainModule(const GameScanSettings& settings) {
  const auto* base = reinterpret_cast<const std::byte*>(GetModuleHandleW(nullptr));
  // The headers fill at least the image's first page, which is always mapped.
  const std::uint32_t size = ImageSizeFromHeaders({base, 4096});
  const MappedImage image(reinterpret_cast<std::uint64_t>(base), {base, size});
  return GameInit(image, settings, g_gameLayout, [] { return static_cast<std::uint32_t>(GetTickCount()); });
}

}  // namespace pathlight
