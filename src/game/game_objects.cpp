#include "game/game_objects.hpp"

#include <cmath>

namespace pathlight {

namespace {

bool UsableGround(float x, float z) {
  return std::isfinite(x) && std::isfinite(z) && std::fabs(x) < kMaxObjectCoordinate &&
         std::fabs(z) < kMaxObjectCoordinate;
}

}  // namespace

bool MinimapHasPlayer(GameMemory& memory, const GameLayout& layout, const GameOffsets& offsets, std::uint64_t root) {
  if (!HasVtable(memory, root, layout.MinimapVtable)) return false;
  float xyz[3];
  if (!memory.Read(root + offsets.minimapPlayerPosition, xyz, sizeof xyz)) return false;
  const float x = xyz[0], z = xyz[2];
  return UsableGround(x, z) && !(x == 0.0f && z == 0.0f);
}

bool WorldMapIsOpen(GameMemory& memory, const GameLayout& layout, const GameOffsets& offsets, std::uint64_t object) {
  if (!HasVtable(memory, object, layout.WorldMapVtable)) return false;
  std::uint8_t open = 0;
  return memory.ReadValue(object + offsets.worldMapOpen, open) && open != 0;
}

bool ReadIconPosition(GameMemory& memory, const GameLayout& layout, const GameOffsets& offsets, std::uint64_t icon,
                      IconPosition& position) {
  if (!HasVtable(memory, icon, layout.IconVtable)) return false;
  std::uint32_t category = 0;
  if (!memory.ReadValue(icon + offsets.iconCategory, category) || category != offsets.waypointCategory) return false;
  if (offsets.iconLive != 0) {
    std::uint32_t live = 0;
    if (!memory.ReadValue(icon + offsets.iconLive, live) || live != 1) return false;
  }
  if (offsets.iconKind != 0) {
    std::uint16_t kind = 0;
    if (!memory.ReadValue(icon + offsets.iconKind, kind) || kind != offsets.waypointKind) {
      return false;
    }
  }
  float xyz[3];
  if (!memory.Read(icon + offsets.iconPosition, xyz, sizeof xyz)) return false;
  position = {xyz[0], xyz[1], xyz[2]};
  return UsableGround(xyz[0], xyz[2]);
}

}  // namespace pathlight
