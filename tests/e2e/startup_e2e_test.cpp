// The library in the simulated game under Wine: host check, log file and rotation, start-up.
#include <gtest/gtest.h>

#include <fstream>

#include "game_folder.hpp"

namespace e2e {
namespace {

// The simulated game's image without the user-interface classes: the scan does not recognise it.
const std::vector<std::string> kUnrecognisedImage = {"--image", "no-ui-classes"};

// Runs until the library's start-up has decided: inactive after the scan, or the renderer chosen.
const std::vector<std::string> kUntilStarted = {"0 wait 60000 ^(Init: game layout not recognised|Renderer: )",
                                                "+200 quit"};

bool StartsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

// A run in a folder without Pathlight.ini whose image the scan does not recognise: the version
// line, the settings summary, the graphics hooks' report (they are installed before the scan and
// stay, so their later lines may follow), the scan's lines, and the "Init:" line last, with no
// "Renderer:" line.
void ExpectInactiveRun(const std::vector<std::string>& all) {
  ASSERT_GE(all.size(), 5u);
  EXPECT_TRUE(StartsWith(all[3], "Overlay: loaded ")) << all[3];
  std::vector<std::string> lines;
  for (const std::string& line : all) {
    if (!StartsWith(line, "Overlay: ")) lines.push_back(line);
  }
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[0], "Pathlight 1.2.5 loaded");
  EXPECT_TRUE(StartsWith(lines[1], "Config: ")) << lines[1];
  EXPECT_TRUE(StartsWith(lines[2], "Config: ")) << lines[2];
  for (std::size_t i = 3; i + 1 < lines.size(); ++i) EXPECT_TRUE(StartsWith(lines[i], "GameInit: ")) << lines[i];
  EXPECT_EQ(lines.back(), "Init: game layout not recognised, Pathlight stays inactive");
}

TEST(StartupE2E, FirstAndSecondRunRotateTheLog) {
  GameFolder game("rotation");
  ASSERT_EQ(game.RunScenario(kUntilStarted, kUnrecognisedImage), 0);
  const auto first = game.Log();
  ASSERT_TRUE(first.has_value());
  // The version line first, behind its time stamp; every line ends in CR LF.
  ExpectInactiveRun(LogMessages(*first));
  EXPECT_FALSE(game.PreviousLog().has_value());

  ASSERT_EQ(game.RunScenario(kUntilStarted, kUnrecognisedImage), 0);
  EXPECT_EQ(game.PreviousLog(), first);
  const auto second = game.Log();
  ASSERT_TRUE(second.has_value());
  ExpectInactiveRun(LogMessages(*second));
}

TEST(StartupE2E, HostNameCountsInAnyLetterCase) {
  GameFolder game("lettercase");
  RunOptions options;
  options.executable = "crimsondesert.EXE";
  ASSERT_EQ(game.RunScenario(kUntilStarted, kUnrecognisedImage, options), 0);
  const auto log = game.Log();
  ASSERT_TRUE(log.has_value());
  ExpectInactiveRun(LogMessages(*log));
}

TEST(StartupE2E, RecognisedGameStartsTheWorkersAndLogsTheRenderer) {
  GameFolder game("recognised");
  ASSERT_EQ(game.RunScenario(kUntilStarted), 0);
  const auto log = game.Log();
  ASSERT_TRUE(log.has_value());
  const auto lines = LogMessages(*log);
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[0], "Pathlight 1.2.5 loaded");
  bool renderer = false;
  for (const std::string& line : lines) {
    EXPECT_EQ(line.find("<malformed"), std::string::npos) << line;
    EXPECT_FALSE(StartsWith(line, "Init: ")) << line;
    renderer = renderer || line == "Renderer: Present (in-frame D3D12); scanning on";
  }
  EXPECT_TRUE(renderer);
}

TEST(StartupE2E, AnotherProcessNeitherCreatesNorRotatesTheLog) {
  GameFolder game("otherhost");
  // A log left by an earlier game run must stay where it is, untouched.
  const std::string earlier = "[10:00:00.000] Pathlight 1.2.5 loaded\r\n";
  {
    std::ofstream file(game.Bin64() / "Pathlight.log", std::ios::binary);
    file << earlier;
  }
  RunOptions other;
  other.executable = "OtherGame.exe";
  ASSERT_EQ(game.Run({"--seconds", "1.5"}, other), 0);
  EXPECT_EQ(game.Log(), earlier);
  EXPECT_FALSE(game.PreviousLog().has_value());

  GameFolder fresh("otherhost-fresh");
  other.executable = "CrimsonDesert.exe.exe";
  ASSERT_EQ(fresh.Run({"--seconds", "1"}, other), 0);
  EXPECT_FALSE(fresh.Log().has_value());
}

TEST(StartupE2E, UnwritableFolderLeavesTheHostRunning) {
  GameFolder game("readonly");
  const std::string shot = (game.Root() / "shot.png").string();
  RunOptions readOnly;
  readOnly.readOnly = {game.Bin64()};
  ASSERT_EQ(game.Run({"--seconds", "2", "--screenshot", shot}, readOnly), 0);
  EXPECT_FALSE(game.Log().has_value());
  // It went on presenting frames all the while: the screenshot shows the game's frame.
  EXPECT_TRUE(std::filesystem::exists(shot));
}

}  // namespace
}  // namespace e2e
