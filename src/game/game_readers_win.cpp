// The process's own game-state reading: its memory behind the fault guard, the settings in force
// and the game's state record.
#include "game/game_readers.hpp"
#include "game/game_state.hpp"
#include "platform/fault_guard_win.hpp"
#include "settings/run_flags.hpp"

namespace pathlight {

void ReadGameSnapshot(GameSnapshot& snapshot) {
  // One settings record for the whole read: the offsets of one file, never of two.
  const SettingsPtr settings = CurrentSettings();
  GameState& game = Game();
  const GameReadContext context{GuardedMemory(), game.layout, *settings,
                                game.pointers,   game.reader, Flags().WorldRouteShown.load() != 0};
  ReadGameSnapshot(context, snapshot);
}

}  // namespace pathlight
