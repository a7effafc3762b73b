// The globals the image's code leads to: the session global (a vote over the code sites that load
// it), the three vehicle-type globals (through the riding-vehicle condition's functions) and the
// game clock's two counters (beside a division by 1000).
#pragma once

#include <cstddef>
#include <cstdint>

#include "game/game_layout.hpp"
#include "game/mapped_image.hpp"

namespace pathlight {

inline constexpr std::size_t kSiteTableEntries = 4096;

// Counts the code sites that load a global and then the field at +0x30 of the object it points
// to; the global with a clear majority of them is the session global. Logs its line; returns the
// global's address or 0.
std::uint64_t FindSessionGlobal(const MappedImage& image);

// Reads the code of the riding-vehicle condition class (its class table `table`) for the three
// vehicle-type globals; writes them into `layout` (each may stay 0).
void FindVehicleTypeGlobals(const MappedImage& image, std::uint64_t table, GameLayout& layout);

// The global that the function at `code` loads into rbx first, or 0.
[[nodiscard]] std::uint64_t FindLoadedGlobal(const MappedImage& image, std::uint64_t code);

// The two clock counters; writes them into `layout` (both or neither) and logs its line.
void FindGameClock(const MappedImage& image, GameLayout& layout);

}  // namespace pathlight
