#include "main/text.hpp"

#include <gtest/gtest.h>

namespace deskhand {
namespace {

TEST(Utf16FromUtf8, CountsCodeUnits) {
  EXPECT_EQ(utf16_from_utf8(""), u"");
  EXPECT_EQ(utf16_from_utf8("abc"), u"abc");
  EXPECT_EQ(utf16_from_utf8("\xC3\xA9"), u"\u00e9");
  EXPECT_EQ(utf16_from_utf8("\xE2\x82\xAC"), u"\u20ac");
  const std::u16string emoji = utf16_from_utf8("\xF0\x9F\x98\x80");
  ASSERT_EQ(emoji.size(), 2u);
  EXPECT_EQ(emoji[0], 0xD83D);
  EXPECT_EQ(emoji[1], 0xDE00);
}

TEST(Utf16FromUtf8, InvalidBytesBecomeReplacementCharacters) {
  EXPECT_EQ(utf16_from_utf8("a\xFF"
                            "b"),
            u"a\ufffdb");
  EXPECT_EQ(utf16_from_utf8("\xC3"), u"\ufffd");                      // cut short
  EXPECT_EQ(utf16_from_utf8("\xE2\x82x"), u"\ufffdx");                // one for a cut sequence
  EXPECT_EQ(utf16_from_utf8("\xC0\x80"), u"\ufffd\ufffd");            // overlong
  EXPECT_EQ(utf16_from_utf8("\xED\xA0\x80"), u"\ufffd\ufffd\ufffd");  // a surrogate
}

TEST(Utf8FromUtf16, RoundTripsAndReplacesUnpairedSurrogates) {
  EXPECT_EQ(utf8_from_utf16(u"h\u00e9\U0001F600"), "h\xC3\xA9\xF0\x9F\x98\x80");
  EXPECT_EQ(utf8_from_utf16(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
  EXPECT_EQ(utf8_from_utf16(std::u16string{char16_t(0xDC00), u'a'}),
            "\xEF\xBF\xBD"
            "a");
}

TEST(PrefixScalars, CutsByUnicodeScalarValues) {
  EXPECT_EQ(prefix_scalars("abcdef", 3), "abc");
  EXPECT_EQ(prefix_scalars("ab", 3), "ab");
  EXPECT_EQ(prefix_scalars("\xC3\xA9\xC3\xA9\xC3\xA9", 2), "\xC3\xA9\xC3\xA9");
  EXPECT_EQ(prefix_scalars("\xF0\x9F\x98\x80x", 1), "\xF0\x9F\x98\x80");
  EXPECT_EQ(prefix_scalars("a\xFF"
                           "bc",
                           3),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(prefix_scalars("abc", 0), "");
}

}  // namespace
}  // namespace deskhand
