// The in-frame renderer's rebuilds in the simulated game: one swap chain keeps the objects it set
// up; a second swap chain presented every frame beside the game's makes them be set up again at
// every switch, and once it stops the game's swap chain keeps them again.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "game_folder.hpp"
#include "synthetic_world.hpp"

namespace e2e {
namespace {

bool Matches(const std::string& line, const char* pattern) { return std::regex_search(line, std::regex(pattern)); }

constexpr char kReady[] = "^Overlay: ready on ";
constexpr char kReadySecond[] = "^Overlay: ready on 320x240,";
constexpr char kReadyGame[] = "^Overlay: ready on 1280x720,";
// A diagnostic line closes five seconds of presents; this one counts frames drawn in them.
constexpr char kDrawnSpan[] = "^Diag: presents=[0-9]+ drawn=[1-9]";

TEST(PresentPathsE2E, AlternatingSwapChainsRebuildAtEverySwitchAndOneSwapChainNever) {
  GameFolder game("present-paths");
  ASSERT_TRUE(MakeWorld(game));
  std::ofstream(game.Bin64() / "Pathlight.ini") << "[Debug]\r\nTestPattern=1\r\n";
  ASSERT_EQ(game.RunScenario({
                "0 wait 60000 ^Overlay: ready on 1280x720,",
                std::string("+0 wait 30000 ") + kDrawnSpan,
                "+0 second-swapchain on",
                "+0 wait 30000 ^Overlay: ready on 320x240,",
                "+0 wait 30000 ^Overlay: ready on 1280x720,",
                "+0 wait 30000 ^Overlay: ready on 320x240,",
                "+0 wait 30000 ^Overlay: ready on 1280x720,",
                "+0 wait 30000 ^Overlay: ready on 320x240,",
                "+0 wait 30000 ^Overlay: ready on 1280x720,",
                "+0 second-swapchain off",
                "+0 mark",
                // The second of these spans began after the last present of the second swap chain.
                std::string("+0 wait 30000 ") + kDrawnSpan,
                std::string("+0 wait 30000 ") + kDrawnSpan,
                "+0 quit",
            }),
            0);
  const auto log = game.Log();
  ASSERT_TRUE(log);
  const std::vector<std::string> lines = LogMessages(*log);
  const std::string all = Dump(lines);

  // The ready lines in order, and where the second swap chain's first and last are.
  std::vector<std::size_t> ready;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (Matches(lines[i], kReady)) ready.push_back(i);
    EXPECT_FALSE(Matches(lines[i], "^Overlay: .* failed")) << lines[i];
  }
  std::vector<std::size_t> second;
  for (std::size_t at : ready) {
    if (Matches(lines[at], kReadySecond)) second.push_back(at);
  }
  ASSERT_GE(second.size(), 3u) << all;

  // One swap chain: one set-up, then a whole diagnostic span drawn without another.
  ASSERT_GE(ready.size(), 2u);
  EXPECT_TRUE(Matches(lines[ready[0]], kReadyGame));
  EXPECT_EQ(ready[1], second.front());
  int spans = 0;
  for (std::size_t i = ready[0]; i < second.front(); ++i) spans += Matches(lines[i], kDrawnSpan);
  EXPECT_GE(spans, 1) << all;

  // Alternating: every ready line is for the other swap chain than the one before it.
  std::size_t switches = 0;
  for (std::size_t k = 1; k < ready.size(); ++k) {
    if (ready[k] > second.back()) break;
    EXPECT_NE(Matches(lines[ready[k]], kReadySecond), Matches(lines[ready[k - 1]], kReadySecond)) << all;
    ++switches;
  }
  EXPECT_GE(switches, 5u);

  // The game's swap chain alone again: one set-up, then two spans drawn without another.
  std::size_t after = 0;
  spans = 0;
  for (std::size_t i = second.back() + 1; i < lines.size(); ++i) {
    after += Matches(lines[i], kReady);
    spans += Matches(lines[i], kDrawnSpan);
  }
  EXPECT_EQ(after, 1u) << all;
  EXPECT_GE(spans, 2);
}

}  // namespace
}  // namespace e2e
