#include "host/keys.hpp"

#include "platform/log.hpp"
#include "settings/run_flags.hpp"
#include "settings/settings.hpp"

namespace pathlight {

namespace {

// Generic modifier codes: both input sources report them for either side's key.
constexpr std::uint32_t kVkShift = 0x10;
constexpr std::uint32_t kVkControl = 0x11;
constexpr std::uint32_t kVkMenu = 0x12;

bool Fires(const KeyBinding& binding, std::uint64_t key, std::uint32_t modifiers) {
  return binding.key != 0 && binding.key == key && binding.modifiers == modifiers;
}

void Toggle(Flag& flag, const char* which) { Log("%s route %s (toggle key)", which, FlipFlag(flag) ? "on" : "off"); }

}  // namespace

void KeyInput::FocusLost() { keyDown_.fill(0); }

void KeyInput::RawKey(std::uint32_t key, bool breakFlag) {
  if (key == kVkNoKey) return;
  if (source_ != KeySource::RawInput) {
    // Key states learnt from messages would disagree with the raw stream; start clean.
    source_ = KeySource::RawInput;
    keyDown_.fill(0);
    Log("Keys: reading the game's raw keyboard input");
  }
  HandleKey(key, !breakFlag);
}

void KeyInput::KeyMessage(std::uint64_t key, bool down) {
  // Once the game has shown raw input, its key messages would fire every binding a second time.
  if (source_ == KeySource::RawInput) return;
  if (source_ == KeySource::None) {
    source_ = KeySource::KeyMessages;
    Log("Keys: reading the game window's key messages");
  }
  HandleKey(key, down);
}

void KeyInput::HandleKey(std::uint64_t key, bool down) {
  if (key < 1 || key > 255) return;
  const bool wasDown = keyDown_[key] != 0;
  keyDown_[key] = down ? 1 : 0;
  // Releases and the automatic repeats of a held key fire nothing.
  if (!down || wasDown) return;

  std::uint32_t modifiers = 0;
  if (keyDown_[kVkControl]) modifiers |= kModCtrl;
  if (keyDown_[kVkShift]) modifiers |= kModShift;
  if (keyDown_[kVkMenu]) modifiers |= kModAlt;

  // One record per press: a reload on the keys thread never splits the three bindings.
  const SettingsPtr settings = CurrentSettings();
  // Equal minimap and world bindings flip both routes with one press.
  if (Fires(settings->minimapToggle, key, modifiers)) Toggle(Flags().MinimapRouteShown, "Minimap");
  if (Fires(settings->worldToggle, key, modifiers)) Toggle(Flags().WorldRouteShown, "World");
  // The keys thread reads the file within about 100 ms; presses before then reload once.
  if (Fires(settings->reloadKey, key, modifiers)) Flags().ReloadRequested.exchange(1);
}

bool AllBindingsUnbound() {
  const SettingsPtr settings = CurrentSettings();
  return !settings->minimapToggle.Bound() && !settings->worldToggle.Bound() && !settings->reloadKey.Bound();
}

}  // namespace pathlight
