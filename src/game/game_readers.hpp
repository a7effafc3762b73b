// The game-state readers: one GameSnapshot from the objects the finder published and the globals
// the start-up scan found. Every read goes through a GameMemory, so an object the game frees
// between two reads is an absent value, never a fault; fields that cannot be read keep their start
// values.
//
// Callable from any thread at once (the route worker, the presenting thread, the Composition
// renderer's thread). The snapshot belongs to the caller; the few process-wide pieces (the normal
// widget, the mount cache, the last logged states) are atomics in a ReaderState, each value stored
// or exchanged whole, so two callers may briefly disagree but never see a torn value.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "game/game_layout.hpp"
#include "game/game_objects.hpp"
#include "game/game_snapshot.hpp"
#include "platform/game_memory.hpp"
#include "settings/settings.hpp"

namespace pathlight {

// What the readers remember between calls, for the life of the process.
struct ReaderState {
  // The smallest minimap widget seen: its usual, unexpanded form. Size 0 means none yet; only
  // ever shrinks.
  std::atomic<float> normalWidgetSize{0.0f};
  std::atomic<float> normalWidgetX{0.0f};
  std::atomic<float> normalWidgetY{0.0f};
  // The last vehicle id whose type was named, and the mount state it gave.
  std::atomic<std::uint32_t> cachedVehicleId{0};
  std::atomic<std::int32_t> cachedMountState{kMountRiding};
  // What the "Player:" and "Clock:" lines said last (-2: nothing logged yet).
  std::atomic<std::int32_t> loggedMountState{-2};
  std::atomic<std::int32_t> loggedClockState{-2};
};

// Everything one reading looks at, passed in so tests can drive a fake address space.
struct GameReadContext {
  GameMemory& memory;
  const GameLayout& layout;
  const Settings& settings;
  const PublishedGamePointers& pointers;
  ReaderState& state;
  bool worldRouteShown;  // the in-world route toggle: the camera is read only while it is on
};

// Fills the snapshot; never fails.
void ReadGameSnapshot(const GameReadContext& context, GameSnapshot& snapshot);

// The process's own reading: the DLL's memory behind the fault guard, the process-wide layout,
// settings, published pointers and reader state (game_readers_win.cpp).
void ReadGameSnapshot(GameSnapshot& snapshot);

// ---- the steps of a reading ------------------------------------------------------------------
// Called by ReadGameSnapshot in this order; public so the tests can name what they exercise.

void ReadPlayer(const GameReadContext& context, GameSnapshot& snapshot);
// Minimap (rotation, zoom, hidden, widget) and world map; a failed read ends it, keeping what was
// set before.
void ReadMaps(const GameReadContext& context, GameSnapshot& snapshot);
// Inside ReadMaps, on the minimap root `root`; false when a read failed (which ends ReadMaps).
[[nodiscard]] bool ReadMinimapWidget(const GameReadContext& context, std::uint64_t root, GameSnapshot& snapshot);
void ReadCamera(const GameReadContext& context, GameSnapshot& snapshot);
void ReadMountState(const GameReadContext& context, GameSnapshot& snapshot);

inline constexpr std::uint32_t kNoVehicleId = 0xFFFFFFFFu;
// The vehicle id of the player's actor: 0 on foot, kNoVehicleId when a step fails.
[[nodiscard]] std::uint32_t ReadVehicleId(const GameReadContext& context);
// The type name of vehicle `id` (at most 47 printable bytes); empty when it cannot be named.
// `faulted`, when given, tells whether a read failed on the way (freed memory), as opposed to a
// value that failed its checks.
[[nodiscard]] std::string ReadVehicleTypeName(const GameReadContext& context, std::uint32_t id,
                                              bool* faulted = nullptr);
// Hours of the game's day, 0 <= h < 24, or -1 when it cannot be read.
[[nodiscard]] float ReadTimeOfDay(const GameReadContext& context);

// The game keeps its day on a 21-hour scale on which the six night hours from 21:00 to 03:00 take
// half as long. Milliseconds of the 24-hour day to scale milliseconds, and back.
[[nodiscard]] std::uint64_t FoldDayMilliseconds(std::uint64_t dayMs);
[[nodiscard]] std::uint64_t UnfoldDayMilliseconds(std::uint64_t scaleMs);

}  // namespace pathlight
