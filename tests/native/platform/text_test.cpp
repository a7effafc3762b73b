// The one case fold of names: ASCII letters only, equal lengths, prefixes.
#include "platform/text.hpp"

#include <gtest/gtest.h>

namespace pathlight {
namespace {

struct FoldCase {
  const wchar_t* a;
  const wchar_t* b;
  bool equal;
  bool prefix;  // b starts a
};

TEST(TextFold, AsciiLettersOnlyAndWholeNames) {
  const FoldCase cases[] = {
      {L"CrimsonDesert.exe", L"crimsondesert.EXE", true, true},
      {L"Numpad7", L"NUMPAD", false, true},
      {L"Ctrl", L"Control", false, false},
      {L"", L"", true, true},
      {L"On", L"", false, true},
      // Only A-Z fold: the neighbours of the letters and letters beyond ASCII stay as they are.
      {L"[@", L"{`", false, false},
      {L"\u00C4", L"\u00E4", false, false},
  };
  for (const FoldCase& c : cases) {
    EXPECT_EQ(EqualsIgnoringCase(c.a, c.b), c.equal) << "equal: " << ::testing::PrintToString(std::wstring(c.a));
    EXPECT_EQ(StartsWithIgnoringCase(c.a, c.b), c.prefix) << "prefix: " << ::testing::PrintToString(std::wstring(c.a));
  }
}

}  // namespace
}  // namespace pathlight
