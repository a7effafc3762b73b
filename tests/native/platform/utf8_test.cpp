#include "platform/utf8.hpp"

#include <gtest/gtest.h>

namespace pathlight {
namespace {

TEST(Utf8, PathsOutsideAsciiKeepEveryCharacter) {
  EXPECT_EQ(ToUtf8(L"D:\\mods\\Pathlight.ini"), "D:\\mods\\Pathlight.ini");
  EXPECT_EQ(ToUtf8(L"D:\\\u0418\u0433\u0440\u044b\\K\u00e4se"), "D:\\\xD0\x98\xD0\xB3\xD1\x80\xD1\x8B\\K\xC3\xA4se");
  EXPECT_EQ(ToUtf8(L"\u20AC"), "\xE2\x82\xAC");
  EXPECT_EQ(ToUtf8(L""), "");
}

TEST(Utf8, CharactersBeyondTheBasicPlaneAndBrokenSurrogates) {
  std::wstring emoji;
  if constexpr (sizeof(wchar_t) == 2) {
    emoji = {static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)};
  } else {
    emoji = {static_cast<wchar_t>(0x1F600)};
  }
  EXPECT_EQ(ToUtf8(emoji), "\xF0\x9F\x98\x80");
  // A lone surrogate, as a damaged file name may hold, becomes U+FFFD and the rest survives.
  const std::wstring lone = {L'a', static_cast<wchar_t>(0xD800), L'b'};
  EXPECT_EQ(ToUtf8(lone),
            "a\xEF\xBF\xBD"
            "b");
}

}  // namespace
}  // namespace pathlight
