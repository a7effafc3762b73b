#include "settings/settings_syntax.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cwchar>
#include <ostream>

namespace pathlight {

void PrintTo(const KeyBinding& binding, std::ostream* out) {
  *out << "{vk=" << binding.key << " mods=" << binding.modifiers << "}";
}

namespace {

TEST(SettingsSyntax, UnsignedReadsLikeTheCConversionIn32Bits) {
  EXPECT_EQ(ParseUnsigned32(L"1464"), 1464u);
  EXPECT_EQ(ParseUnsigned32(L"0x5B8"), 1464u);
  EXPECT_EQ(ParseUnsigned32(L"0X5b8"), 1464u);
  EXPECT_EQ(ParseUnsigned32(L"02670"), 1464u);  // octal after a leading zero
  EXPECT_EQ(ParseUnsigned32(L"09"), 0u);        // 9 is no octal digit: the read stops after "0"
  EXPECT_EQ(ParseUnsigned32(L" \t+12abc"), 12u);
  EXPECT_EQ(ParseUnsigned32(L"-1"), 0xFFFFFFFFu);
  EXPECT_EQ(ParseUnsigned32(L"-2"), 0xFFFFFFFEu);
  EXPECT_EQ(ParseUnsigned32(L"-0"), 0u);
  EXPECT_EQ(ParseUnsigned32(L"4294967295"), 0xFFFFFFFFu);
  EXPECT_EQ(ParseUnsigned32(L"4294967296"), 0xFFFFFFFFu);  // saturates, it does not wrap
  EXPECT_EQ(ParseUnsigned32(L"99999999999999999999999"), 0xFFFFFFFFu);
  EXPECT_EQ(ParseUnsigned32(L"-4294967296"), 0xFFFFFFFFu);
  EXPECT_EQ(ParseUnsigned32(L"0x1FFFFFFFF"), 0xFFFFFFFFu);
  // "0x" without a hex digit is the number 0 followed by text.
  EXPECT_EQ(ParseUnsigned32(L"0x"), 0u);
  EXPECT_EQ(ParseUnsigned32(L"0xg1"), 0u);
  EXPECT_EQ(ParseUnsigned32(L""), 0u);
  EXPECT_EQ(ParseUnsigned32(L"- 1"), 0u);
  EXPECT_EQ(ParseUnsigned32(L"ff", 16), 0xFFu);
  EXPECT_EQ(ParseUnsigned32(L"0xff", 16), 0xFFu);
}

TEST(SettingsSyntax, FloatFollowsTheStandardConversion) {
  EXPECT_EQ(ParseFloat(L"3.55"), 3.55f);
  EXPECT_EQ(ParseFloat(L"  -0.5m"), -0.5f);
  EXPECT_EQ(ParseFloat(L"1e3"), 1000.0f);
  EXPECT_EQ(ParseFloat(L"abc"), 0.0f);
  EXPECT_EQ(ParseFloat(L""), 0.0f);
  EXPECT_TRUE(std::isinf(ParseFloat(L"1e999")));  // not clamped
  // The whole text is read, not a prefix the view happens to end at.
  const std::wstring_view prefix = std::wstring_view(L"12345").substr(0, 2);
  EXPECT_EQ(ParseFloat(prefix), 12.0f);
}

// The texts of the shared fixtures aside: lengths around 6 and 8, and a text without hex digits.
TEST(SettingsSyntax, ColourLengthDecidesAndTheHexReadStopsAtAMisfit) {
  constexpr std::uint32_t kKeep = 0x12345678;
  EXPECT_EQ(ParseColour(L"D14D45F5", kKeep), PackColour(0xD1, 0x4D, 0x45, 0xF5));
  EXPECT_EQ(ParseColour(L"", kKeep), kKeep);
  EXPECT_EQ(ParseColour(L"#", kKeep), kKeep);
  EXPECT_EQ(ParseColour(L"#00FF0", kKeep), kKeep);
  EXPECT_EQ(ParseColour(L"00FF00800", kKeep), kKeep);
  EXPECT_EQ(ParseColour(L"zzzzzz", kKeep), PackColour(0, 0, 0, 0xFF));
}

TEST(SettingsSyntax, WordValuesMatchWholeWordsOnly) {
  EXPECT_EQ(ParseRenderer(L"COMPOSITION"), RendererChoice::Composition);
  EXPECT_EQ(ParseRenderer(L"Composition "), RendererChoice::Present);
  EXPECT_EQ(ParseRenderer(L""), RendererChoice::Present);
  EXPECT_EQ(ParseHdrMode(L"sdr"), 0);
  EXPECT_EQ(ParseHdrMode(L"0"), -1);  // numbers carry no meaning here
  EXPECT_EQ(ParseInterpolate(L"on"), 1);
  EXPECT_EQ(ParseInterpolate(L"0"), 0);
  EXPECT_EQ(ParseInterpolate(L"01"), -1);
}

KeyBinding B(std::uint32_t key, std::uint32_t modifiers = 0) { return {key, modifiers}; }

// Beyond the shared fixtures: repeated and trailing modifiers, empty tokens, and blanks other
// than the space character.
TEST(KeyBindingSyntax, ModifiersAccumulateAndNoKeyMeansUnbound) {
  EXPECT_EQ(ParseKeyBinding(L"Control+Alt+Shift+]"), B(0xDD, 7));
  EXPECT_EQ(ParseKeyBinding(L"Ctrl+Ctrl+["), B(0xDB, 1));
  EXPECT_EQ(ParseKeyBinding(L"F5+Ctrl"), B(0x74, 1));
  EXPECT_EQ(ParseKeyBinding(L"Ctrl+Shift"), B(0, 0));
  EXPECT_EQ(ParseKeyBinding(L"+"), B(0, 0));
  EXPECT_EQ(ParseKeyBinding(L"Ctrl++"), B(0, 0));     // the plus key is written NumpadAdd
  EXPECT_EQ(ParseKeyBinding(L"Ctrl+\tF5"), B(0, 0));  // a tab stays part of the token
}

TEST(KeyBindingSyntax, FunctionKeys) {
  EXPECT_EQ(ParseKeyBinding(L"F1"), B(0x70));
  EXPECT_EQ(ParseKeyBinding(L"f24"), B(0x87));
  EXPECT_EQ(ParseKeyBinding(L"F99999999999999"), B(0));
  EXPECT_EQ(ParseKeyBinding(L"F0"), B(0));
  EXPECT_EQ(ParseKeyBinding(L"F"), B(0x46));  // the letter
  // An ignored function-key token does not undo an earlier key.
  EXPECT_EQ(ParseKeyBinding(L"Q+F25"), B(0x51));
}

TEST(KeyBindingSyntax, NumpadHexLettersDigitsAndNames) {
  EXPECT_EQ(ParseKeyBinding(L"numpad0"), B(0x60));
  EXPECT_EQ(ParseKeyBinding(L"Numpad10"), B(0));
  EXPECT_EQ(ParseKeyBinding(L"Numpad"), B(0));
  EXPECT_EQ(ParseKeyBinding(L"0X7b"), B(0x7B));
  EXPECT_EQ(ParseKeyBinding(L"0x1234"), B(0x1234));  // unchecked
  EXPECT_EQ(ParseKeyBinding(L"Z"), B(0x5A));
  EXPECT_EQ(ParseKeyBinding(L"7"), B(0x37));
  EXPECT_EQ(ParseKeyBinding(L"0"), B(0x30));
  EXPECT_EQ(ParseKeyBinding(L"["), B(0xDB));
  EXPECT_EQ(ParseKeyBinding(L"]"), B(0xDD));
  EXPECT_EQ(ParseKeyBinding(L"\\"), B(0xDC));
  EXPECT_EQ(ParseKeyBinding(L"-"), B(0));
  EXPECT_EQ(ParseKeyBinding(L"\u00e9"), B(0));  // a letter outside A to Z
  const std::pair<const wchar_t*, std::uint32_t> names[] = {{L"home", 0x24},           {L"END", 0x23},
                                                            {L"Insert", 0x2D},         {L"Delete", 0x2E},
                                                            {L"PageUp", 0x21},         {L"PageDown", 0x22},
                                                            {L"Pause", 0x13},          {L"ScrollLock", 0x91},
                                                            {L"Space", 0x20},          {L"Tab", 0x09},
                                                            {L"Backspace", 0x08},      {L"Enter", 0x0D},
                                                            {L"NumpadAdd", 0x6B},      {L"NumpadSubtract", 0x6D},
                                                            {L"NumpadMultiply", 0x6A}, {L"NumpadDivide", 0x6F},
                                                            {L"NumpadDecimal", 0x6E},  {L"LeftBracket", 0xDB},
                                                            {L"RightBracket", 0xDD},   {L"backslash", 0xDC}};
  for (const auto& [name, code] : names) EXPECT_EQ(ParseKeyBinding(name), B(code)) << name;
  EXPECT_EQ(ParseKeyBinding(L"Page Up"), B(0));
}

}  // namespace
}  // namespace pathlight
