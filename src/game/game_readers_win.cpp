// The process's own game-state reading: its memory behind the fault guard, and the process-wide
// layout, settings, published pointers and reader state.
#include "game/game_readers.hpp"
#include "platform/fault_guard_win.hpp"
#include "settings/run_flags.hpp"

namespace pathlight {

namespace {

ReaderState g_readerState;

}  // namespace

void ReadGameSnapshot(GameSnapshot& snapshot) {
  // One settings record for the whole read: the offsets of one file, never of two.
  const SettingsPtr settings = CurrentSettings();
  const GameReadContext context{ProcessMemory(), g_gameLayout, *settings, g_gamePointers, g_readerState,
                                WorldRouteShown.load() != 0};
  ReadGameSnapshot(context, snapshot);
}

}  // namespace pathlight
