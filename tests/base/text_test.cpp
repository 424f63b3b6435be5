#include "base/text.h"

#include <gtest/gtest.h>

namespace quorvane {
namespace {

TEST(TextTest, RoundTripsEveryScriptAndPlane) {
  const std::string samples[] = {"", "a.ttf", "微软雅黑.ttc", "Шрифт ﬁ", "😀 emoji.otf", "宋体\r\n\t\\"};
  for (const std::string& utf8 : samples) {
    EXPECT_EQ(Utf8FromUtf16(Utf16FromUtf8(utf8)), utf8) << utf8;
    EXPECT_TRUE(IsValidUtf8(utf8)) << utf8;
  }
  EXPECT_EQ(Utf16FromUtf8("😀"), u"\xD83D\xDE00");
  EXPECT_EQ(Utf16FromUtf8("字"), u"\x5B57");
}

// Windows lets a name hold a lone surrogate; it must come back to Windows unchanged.
TEST(TextTest, LoneSurrogatesRoundTripButAreNotUtf8) {
  for (const std::u16string& wide : {std::u16string(u"a\xD800.ttf"), std::u16string(u"\xDC00"),
                                     std::u16string(u"\xDBFF\xDBFF\xDFFF")}) {
    const std::string narrow = Utf8FromUtf16(wide);
    EXPECT_EQ(Utf16FromUtf8(narrow), wide);
    EXPECT_FALSE(IsValidUtf8(narrow));
  }
}

TEST(TextTest, BadBytesBecomeOneReplacementPerMaximalBadSequence) {
  EXPECT_EQ(Utf16FromUtf8("a\xFF" "b"), u"a\xFFFD" u"b");
  EXPECT_EQ(Utf16FromUtf8("\xE5\xAD"), u"\xFFFD");             // truncated three-byte sequence
  EXPECT_EQ(Utf16FromUtf8("\xE5\xAD" "x"), u"\xFFFD" u"x");
  EXPECT_EQ(Utf16FromUtf8("\xC0\xAF"), u"\xFFFD\xFFFD");       // overlong "/" never decodes as "/"
  EXPECT_EQ(Utf16FromUtf8("\xF4\x90\x80\x80"), u"\xFFFD\xFFFD\xFFFD\xFFFD");  // past U+10FFFF
  EXPECT_EQ(Utf16FromUtf8("\x80\x80"), u"\xFFFD\xFFFD");
  for (const char* bad : {"\xFF", "\xE5\xAD", "\xC0\xAF", "\xF4\x90\x80\x80", "\x80"}) {
    EXPECT_FALSE(IsValidUtf8(bad)) << bad;
  }
}

}  // namespace
}  // namespace quorvane
