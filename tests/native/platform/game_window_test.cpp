#include "platform/game_window.hpp"

#include <gtest/gtest.h>

namespace pathlight {
namespace {

int a, b, c;

TEST(GameWindowChoice, OwnerlessLargestAreaAtLeast640By360) {
  constexpr GameWindowRule rule = GameWindowRule::kOwnerless;
  const WindowCandidate ties[] = {{&a, 1280, 720, false}, {&b, 720, 1280, false}, {&c, 800, 600, false}};
  EXPECT_EQ(ChooseGameWindow(ties, rule), &a);
  const WindowCandidate later[] = {{&a, 800, 600, false}, {&b, 10, 10, false}, {&c, 1920, 1080, false}};
  EXPECT_EQ(ChooseGameWindow(later, rule), &c);
  // The floor is 640 by 360, inclusive, and applies to the largest window.
  const WindowCandidate floor[] = {{&a, 640, 360, false}};
  EXPECT_EQ(ChooseGameWindow(floor, rule), &a);
  const WindowCandidate below[] = {{&a, 640 * 360 - 1, 1, false}, {&b, 0, 0, false}};
  EXPECT_EQ(ChooseGameWindow(below, rule), nullptr);
  EXPECT_EQ(ChooseGameWindow({}, rule), nullptr);
  // Areas beyond 32 bits compare correctly.
  const WindowCandidate huge[] = {{&a, 65536, 65536, false}, {&b, 65535, 65537, false}};
  EXPECT_EQ(ChooseGameWindow(huge, rule), &a);
  // A window with an owner (a dialog, the overlay) is never the game window, however large.
  const WindowCandidate owned[] = {{&a, 3840, 2160, true}, {&b, 1280, 720, false}};
  EXPECT_EQ(ChooseGameWindow(owned, rule), &b);
}

TEST(GameWindowChoice, WideLargestAreaWiderThan640) {
  constexpr GameWindowRule rule = GameWindowRule::kWide;
  // Owners do not matter; a width of 640 is not enough, 641 is, whatever the height.
  const WindowCandidate wide[] = {{&a, 640, 2000, false}, {&b, 641, 1, true}};
  EXPECT_EQ(ChooseGameWindow(wide, rule), &b);
  const WindowCandidate ties[] = {{&a, 1280, 720, false}, {&b, 1280, 720, false}, {&c, 2560, 1440, false}};
  EXPECT_EQ(ChooseGameWindow(ties, rule), &c);
  const WindowCandidate flat[] = {{&a, 1920, 0, false}};
  EXPECT_EQ(ChooseGameWindow(flat, rule), nullptr);
  EXPECT_EQ(ChooseGameWindow({}, rule), nullptr);
}

}  // namespace
}  // namespace pathlight
