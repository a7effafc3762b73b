#include "host/keys.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fresh_process.hpp"
#include "settings/run_flags.hpp"
#include "settings/settings.hpp"
#include "settings_edit.hpp"

namespace pathlight {
namespace {

using testing::EditSettings;

constexpr std::uint32_t kShift = 0x10, kCtrl = 0x11, kAlt = 0x12, kLeftCtrl = 0xA2;
constexpr std::uint32_t kOpen = 0xDB, kClose = 0xDD, kBackslash = 0xDC;

// A KeyInput of its own per test, with the process-wide settings and flags reset around it.
class KeysTest : public testing::FreshProcessTest {
 protected:
  // Feeds key messages and returns the log lines they wrote, without time stamps.
  template <class F> std::vector<std::string> Logged(F&& run) {
    ::testing::internal::CaptureStdout();
    run();
    const std::string out = ::testing::internal::GetCapturedStdout();
    std::vector<std::string> lines;
    std::size_t start = 0, end;
    while ((end = out.find('\n', start)) != std::string::npos) {
      lines.push_back(out.substr(start + 15, end - start - 15));
      start = end + 1;
    }
    return lines;
  }
  void Press(std::uint64_t key) {
    keys.KeyMessage(key, true);
    keys.KeyMessage(key, false);
  }

  KeyInput keys;
};

using Lines = std::vector<std::string>;

TEST_F(KeysTest, HeldKeyFlipsOnceAndAPressAfterReleaseFlipsBack) {
  const Lines lines = Logged([&] {
    keys.KeyMessage(kOpen, true);
    keys.KeyMessage(kOpen, true);  // automatic repeats
    keys.KeyMessage(kOpen, true);
    keys.KeyMessage(kOpen, false);
    keys.KeyMessage(kOpen, true);
  });
  EXPECT_EQ(lines, (Lines{"Keys: reading the game window's key messages", "Minimap route off (toggle key)",
                          "Minimap route on (toggle key)"}));
  EXPECT_EQ(Flags().MinimapRouteShown, 1);
  EXPECT_EQ(Flags().WorldRouteShown, 1);
}

TEST_F(KeysTest, ModifierMaskMustMatchExactly) {
  EditSettings([](Settings& s) { s.worldToggle = {kClose, kModCtrl}; });
  Press(kClose);  // ] alone
  keys.KeyMessage(kCtrl, true);
  keys.KeyMessage(kShift, true);
  Press(kClose);  // Ctrl+Shift+]
  EXPECT_EQ(Flags().WorldRouteShown, 1);
  keys.KeyMessage(kShift, false);
  Press(kClose);  // Ctrl+]
  EXPECT_EQ(Flags().WorldRouteShown, 0);
  keys.KeyMessage(kCtrl, false);

  // Only the generic codes count: a side-specific Ctrl alone is not Ctrl.
  keys.KeyMessage(kLeftCtrl, true);
  Press(kClose);
  EXPECT_EQ(Flags().WorldRouteShown, 0);
  keys.KeyMessage(kLeftCtrl, false);

  // An unmodified binding does not fire while a modifier is held.
  keys.KeyMessage(kAlt, true);
  Press(kOpen);
  EXPECT_EQ(Flags().MinimapRouteShown, 1);
  keys.KeyMessage(kAlt, false);
  Press(kOpen);
  EXPECT_EQ(Flags().MinimapRouteShown, 0);
}

TEST_F(KeysTest, OneKeyForBothTogglesFlipsBothMinimapFirstAndReloadAsWell) {
  EditSettings([](Settings& s) { s.minimapToggle = s.worldToggle = s.reloadKey = {0x70, 0}; });
  const Lines lines = Logged([&] { Press(0x70); });
  EXPECT_EQ(lines, (Lines{"Keys: reading the game window's key messages", "Minimap route off (toggle key)",
                          "World route off (toggle key)"}));
  EXPECT_EQ(Flags().ReloadRequested, 1);
}

TEST_F(KeysTest, ReloadPressedTwiceBeforeTheKeysThreadLooksReloadsOnce) {
  Press(kBackslash);
  Press(kBackslash);
  EXPECT_EQ(Flags().ReloadRequested.exchange(0), 1);
  EXPECT_EQ(Flags().ReloadRequested.exchange(0), 0);
  // No toggle fired on the way.
  EXPECT_EQ(Flags().MinimapRouteShown, 1);
  EXPECT_EQ(Flags().WorldRouteShown, 1);
}

TEST_F(KeysTest, FocusLossForgetsKeysReleasedElsewhere) {
  keys.KeyMessage(kCtrl, true);
  keys.FocusLost();  // Ctrl is released in another program; its key-up never arrives here
  Press(kClose);
  EXPECT_EQ(Flags().WorldRouteShown, 0);
  // A key held across the focus change counts as a fresh press afterwards.
  const Lines lines = Logged([&] {
    keys.KeyMessage(kOpen, true);
    keys.FocusLost();
    keys.KeyMessage(kOpen, true);
  });
  EXPECT_EQ(lines, (Lines{"Minimap route off (toggle key)", "Minimap route on (toggle key)"}));
}

TEST_F(KeysTest, RawInputTakesOverOnceAndNoKeyFiresTwice) {
  Lines lines = Logged([&] {
    keys.KeyMessage(kCtrl, true);
    keys.RawKey(kVkNoKey, false);  // keys without a code neither count nor switch the source
    EXPECT_EQ(keys.Source(), KeySource::KeyMessages);
    // The game registered for raw input: each key now arrives twice, raw input first.
    keys.RawKey(kOpen, false);
    keys.KeyMessage(kOpen, true);
    keys.RawKey(kOpen, true);
    keys.KeyMessage(kOpen, false);
    keys.RawKey(kOpen, false);
    keys.KeyMessage(kOpen, true);
  });
  EXPECT_EQ(lines, (Lines{"Keys: reading the game window's key messages", "Keys: reading the game's raw keyboard input",
                          "Minimap route off (toggle key)", "Minimap route on (toggle key)"}));
  // The table was cleared at the switch: the Ctrl learnt from key messages is gone.
  EXPECT_FALSE(keys.IsDown(kCtrl));
  EXPECT_EQ(keys.Source(), KeySource::RawInput);
  keys.KeyMessage(kCtrl, true);
  EXPECT_FALSE(keys.IsDown(kCtrl));
}

TEST_F(KeysTest, RawInputFirstNeverLogsKeyMessages) {
  const Lines lines = Logged([&] {
    keys.RawKey(kClose, false);
    keys.KeyMessage(kClose, true);
  });
  EXPECT_EQ(lines, (Lines{"Keys: reading the game's raw keyboard input", "World route off (toggle key)"}));
}

TEST_F(KeysTest, CodesOutsideOneTo255AreIgnored) {
  EditSettings([](Settings& s) { s.minimapToggle = {0, 0}; });
  Press(0);
  Press(256);
  Press(0x1000000DDull);  // a wParam whose low byte is a bound key
  EXPECT_EQ(Flags().WorldRouteShown, 1);
  EXPECT_FALSE(keys.IsDown(0));
  // Unbound bindings never fire, not even on a key code of 0 that slipped through.
  keys.HandleKey(0, true);
  EXPECT_EQ(Flags().MinimapRouteShown, 1);
}

TEST_F(KeysTest, AttachingNeedsAtLeastOneBinding) {
  EXPECT_FALSE(AllBindingsUnbound());
  EditSettings([](Settings& s) { s.minimapToggle = s.worldToggle = {0, 0}; });
  EXPECT_FALSE(AllBindingsUnbound());
  EditSettings([](Settings& s) { s.reloadKey = {0, 0}; });
  EXPECT_TRUE(AllBindingsUnbound());
}

}  // namespace
}  // namespace pathlight
