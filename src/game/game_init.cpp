#include "game/game_init.hpp"

#include "game/code_patterns.hpp"
#include "game/rtti_index.hpp"
#include "platform/log.hpp"

namespace pathlight {

bool GameInit(const MappedImage& image, const GameScanSettings& settings, GameLayout& layout, TickSource ticks) {
  layout = GameLayout{};
  layout.ImageBase = image.Base();
  layout.ImageSize = image.End() - image.Base();
  const std::uint32_t started = ticks();
  const auto offset = [&](std::uint64_t address) {
    return static_cast<unsigned long long>(address == 0 ? 0 : address - layout.ImageBase);
  };

  // One pass over the image for all the class tables, instead of three per class.
  const RttiIndex classes(image);
  layout.MinimapVtable = classes.FindVtable(decorated::kMinimap);
  layout.WorldMapVtable = classes.FindVtable(decorated::kWorldMap);
  layout.IconVtable = classes.FindVtable(decorated::kIcon);

  const bool inWorld = settings.InWorldRouteCanBeShown();
  if (inWorld) layout.CameraVtable = classes.FindVtable(decorated::kCamera);

  if (inWorld || settings.wagonRoutingEnabled) {
    layout.VehicleComponentVtable = classes.FindVtable(decorated::kVehicleComponent);
    if (layout.VehicleComponentVtable != 0) layout.SessionGlobal = FindSessionGlobal(image);

    if (layout.SessionGlobal != 0 && settings.wagonRoutingEnabled) {
      const std::uint64_t condition = classes.FindVtable(decorated::kRidingVehicleCondition);
      layout.ActorManagerVtable = classes.FindVtable(decorated::kActorManager);
      if (condition != 0 && layout.ActorManagerVtable != 0) FindVehicleTypeGlobals(image, condition, layout);
      // The three name one vehicle type together; one without the others is of no use.
      if (layout.ActorsGlobal == 0 || layout.CharactersGlobal == 0 || layout.VehiclesGlobal == 0) {
        layout.ActorsGlobal = layout.CharactersGlobal = layout.VehiclesGlobal = 0;
      }
      Log("GameInit: vehicle types %s (actors +0x%llX, characters +0x%llX, vehicles +0x%llX)",
          layout.VehiclesGlobal != 0 ? "found" : "not found", offset(layout.ActorsGlobal),
          offset(layout.CharactersGlobal), offset(layout.VehiclesGlobal));
    }

    if (layout.SessionGlobal != 0 && inWorld) FindGameClock(image, layout);
  }

  Log("GameInit: image %zu MB, vtables minimap=+0x%llX worldmap=+0x%llX icon=+0x%llX camera=+0x%llX, %lu ms",
      static_cast<std::size_t>(layout.ImageSize >> 20), offset(layout.MinimapVtable), offset(layout.WorldMapVtable),
      offset(layout.IconVtable), offset(layout.CameraVtable), static_cast<unsigned long>(ticks() - started));
  return layout.MinimapVtable != 0 && layout.WorldMapVtable != 0 && layout.IconVtable != 0;
}

}  // namespace pathlight
