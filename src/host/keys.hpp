// The hot keys: what the game window's procedure does with keyboard input. The Windows glue
// (keys_win.cpp) finds the window and feeds in what the messages carry; everything that decides
// lives here.
//
// Threads: a KeyInput belongs to the game window's thread, which alone calls it. The bindings are
// read from the live settings record, which the keys thread may replace meanwhile (a reader may
// see a mix of old and new bindings for one key press, never a torn field).
#pragma once

#include <array>
#include <cstdint>

namespace pathlight {

enum class KeySource : std::uint8_t { None = 0, KeyMessages = 1, RawInput = 2 };

// The code the system reports in raw input for keys without a virtual-key code of their own.
inline constexpr std::uint32_t kVkNoKey = 0xFF;

class KeyInput {
 public:
  // WM_KILLFOCUS, or WM_ACTIVATEAPP for the game losing activation: keys released elsewhere must
  // not stay down here.
  void FocusLost();
  // WM_INPUT from the keyboard. The first one makes raw input the only source for good.
  void RawKey(std::uint32_t key, bool breakFlag);
  // WM_KEYDOWN / WM_SYSKEYDOWN (down) and WM_KEYUP / WM_SYSKEYUP; wParam passed whole.
  void KeyMessage(std::uint64_t key, bool down);

  // One accepted key event: fires the bindings on a press of a key that was up, with exactly the
  // modifiers held: minimap toggle, world toggle, then reload.
  void HandleKey(std::uint64_t key, bool down);

  [[nodiscard]] KeySource Source() const { return source_; }
  [[nodiscard]] bool IsDown(std::uint32_t key) const { return key < 256 && keyDown_[key] != 0; }

 private:
  std::array<std::uint8_t, 256> keyDown_{};
  KeySource source_ = KeySource::None;
};

// True while no binding has a key: then nothing is attached to the game window at all.
[[nodiscard]] bool AllBindingsUnbound();

}  // namespace pathlight
