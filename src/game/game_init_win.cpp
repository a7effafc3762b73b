#include "game/game_init_win.hpp"
#include "game/game_state.hpp"

#include <windows.h>

#include "platform/fault_guard_win.hpp"

namespace pathlight {

bool GameInitOnMainModule(const GameScanSettings& settings) {
  const auto* base = reinterpret_cast<const std::byte*>(GetModuleHandleW(nullptr));
  // The headers fill at least the image's first page, which is always mapped.
  const std::uint32_t size = ImageSizeFromHeaders({base, 4096});
  const auto address = reinterpret_cast<std::uint64_t>(base);
  // The scan reads the image without the fault guard, so pages a plain read would fault on (or
  // whose guard it would consume) are left out of it.
  std::vector<AddressRange> unreadable;
  for (const auto& [first, end] : UnreadableParts(address, size)) unreadable.push_back({first, end});
  const MappedImage image(address, {base, size}, std::move(unreadable));
  return GameInit(image, settings, Game().layout, [] { return static_cast<std::uint32_t>(GetTickCount()); });
}

}  // namespace pathlight
