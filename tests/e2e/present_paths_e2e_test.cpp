// The in-frame renderer with a second swap chain presenting beside the game's, on a small window of
// its own: the overlay keeps drawing into the game's, set up once, and the second one's presents
// are counted and nothing else (no set-up, no log line).
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

// A diagnostic line closes five seconds of presents; this one counts frames drawn in them.
constexpr char kDrawnSpan[] = "^Diag: presents=[0-9]+ drawn=[1-9]";

TEST(PresentPathsE2E, ASecondSwapChainIsNeverDrawnIntoNorRebuildsTheGames) {
  GameFolder game("present-paths");
  ASSERT_TRUE(MakeWorld(game));
  std::ofstream(game.Bin64() / "Pathlight.ini") << "[Debug]\r\nTestPattern=1\r\n";
  ASSERT_EQ(game.RunScenario({
                "0 wait 60000 ^Overlay: ready on 1280x720,",
                std::string("+0 wait 30000 ") + kDrawnSpan,
                "+0 second-swapchain on",
                "+0 wait 30000 ^Overlay: swapchain [0-9A-Fa-f]+ created on queue ",
                // The second of these spans lies wholly within the second swap chain's presents.
                std::string("+0 wait 30000 ") + kDrawnSpan,
                std::string("+0 wait 30000 ") + kDrawnSpan,
                "+0 second-swapchain off",
                "+0 mark",
                std::string("+0 wait 30000 ") + kDrawnSpan,
                "+0 quit",
            }),
            0);
  const auto log = game.Log();
  ASSERT_TRUE(log);
  const std::vector<std::string> lines = LogMessages(*log);
  const std::string all = Dump(lines);
  EXPECT_EQ(Count(lines, "^Overlay: ready on "), 1u) << all;
  EXPECT_EQ(Count(lines, "^Overlay: present queue "), 1u) << all;
  EXPECT_EQ(Count(lines, "failed"), 0u) << all;

  // From the second swap chain's creation on, the overlay writes diagnostic lines only; in the span
  // wholly within its presents, both swap chains' presents are counted and the game's drawn.
  const std::regex creation("^Overlay: swapchain [0-9A-Fa-f]+ created on queue ");
  std::size_t created = lines.size();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (std::regex_search(lines[i], creation)) created = i;
  }
  ASSERT_EQ(Count(lines, "^Overlay: swapchain [0-9A-Fa-f]+ created on queue "), 2u) << all;
  ASSERT_GT(created, Find(lines, "^Overlay: ready on ")) << all;
  std::vector<std::string> spans;
  for (std::size_t i = created + 1; i < lines.size(); ++i) {
    EXPECT_FALSE(std::regex_search(lines[i], std::regex("^(Overlay|Occlusion): "))) << lines[i];
    if (std::regex_search(lines[i], std::regex(kDrawnSpan))) spans.push_back(lines[i]);
  }
  ASSERT_GE(spans.size(), 3u) << all;
  std::smatch m;
  ASSERT_TRUE(std::regex_search(spans[1], m, std::regex("^Diag: presents=([0-9]+) drawn=([0-9]+) ")));
  EXPECT_GT(std::stol(m[1]), std::stol(m[2]) * 3 / 2) << spans[1];
}

}  // namespace
}  // namespace e2e
