// The choice of the game's main window among this process's visible top-level windows. The
// Windows search (game_window_win.hpp) feeds each window in enumeration order; the rules live here.
#pragma once

#include <cstdint>
#include <span>

namespace pathlight {

// One visible top-level window of this process whose client rectangle could be read.
struct WindowCandidate {
  void* window;
  std::int64_t clientWidth;
  std::int64_t clientHeight;
  bool owned;  // it has an owner window
};

enum class GameWindowRule {
  // The hot keys: the largest client area among windows without an owner, none below 640 by 360.
  kOwnerless,
  // The overlay and the wait for the game's first frame: the largest client area among windows
  // wider than 640 (narrower ones are launchers, splash screens or tool windows).
  kWide,
};

inline constexpr std::int64_t kMinGameWindowArea = 640 * 360;
inline constexpr std::int64_t kGameWindowMinClientWidth = 640;

// Areas are 64-bit products; a later window replaces the kept one only with a strictly larger
// area, so among equal areas the first enumerated stays.
class GameWindowChoice {
 public:
  explicit GameWindowChoice(GameWindowRule rule) : rule_(rule) {}
  void Consider(const WindowCandidate& candidate);
  // The window kept, or null when none qualifies.
  [[nodiscard]] void* Chosen() const;

 private:
  GameWindowRule rule_;
  void* chosen_ = nullptr;
  std::int64_t largest_ = 0;
};

[[nodiscard]] void* ChooseGameWindow(std::span<const WindowCandidate> candidates, GameWindowRule rule);

}  // namespace pathlight
