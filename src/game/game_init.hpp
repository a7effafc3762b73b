// GameInit: the start-up scan of the game's executable image, which fills the game layout with the
// class tables (game/rtti_index.hpp) and the globals the code leads to (game/code_patterns.hpp),
// as far as the settings in force at start need them.
//
// Single-threaded: GameInit runs once, on the init thread, before the worker threads exist.
#pragma once

#include <cstdint>
#include <string_view>

#include "game/game_layout.hpp"
#include "game/mapped_image.hpp"

namespace pathlight {

// The settings that decide which searches run, as they stand at start.
struct GameScanSettings {
  bool worldEnabled = true;             // [World] Enabled
  std::uint32_t worldToggleKey = 0xDD;  // [World] ToggleKey's virtual-key code; 0 = unbound
  bool wagonRoutingEnabled = true;      // [WagonRouting] Enabled

  [[nodiscard]] bool InWorldRouteCanBeShown() const { return worldEnabled || worldToggleKey != 0; }
};

using TickSource = std::uint32_t (*)();

// Fills `layout` from the image, logs the "GameInit:" lines, and returns true when the three
// user-interface class tables were found.
[[nodiscard]] bool GameInit(const MappedImage& image, const GameScanSettings& settings, GameLayout& layout,
                            TickSource ticks);

// Decorated names of the classes the scan looks for.
namespace decorated {
inline constexpr std::string_view kMinimap = ".?AVUIGamePlayControlRootMiniMap@uiCommonScript@pa@@";
inline constexpr std::string_view kWorldMap = ".?AVUIGamePlayControlRootWorldMap@uiCommonScript@pa@@";
inline constexpr std::string_view kIcon = ".?AVUIGamePlayControlCommon_MiniMapIcon@uiCommonScript@pa@@";
inline constexpr std::string_view kCamera = ".?AVCameraManager@pa@@";
inline constexpr std::string_view kVehicleComponent = ".?AVClientVehicleActorComponent@pa@@";
inline constexpr std::string_view kActorManager = ".?AVClientActorManager@pa@@";
inline constexpr std::string_view kRidingVehicleCondition = ".?AVConditionData_CheckRidingVehicleType@pa@@";
}  // namespace decorated

}  // namespace pathlight
