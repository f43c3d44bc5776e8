#include "utf8.hpp"

#include <gtest/gtest.h>

#include <tuple>

namespace common {
namespace {

TEST(Utf8Repair, EachMaximalInvalidSubpartBecomesOneReplacement) {
  // Input, repaired text, replacements.
  const std::tuple<std::string_view, std::string_view, std::size_t> cases[] = {
      {"plain \xC3\xA9 \xF0\x9F\x99\x82", "plain \xC3\xA9 \xF0\x9F\x99\x82", 0},
      {"a\xE2\x82x", "a\xEF\xBF\xBDx", 1},                                          // a cut three-byte sequence: one
      {"\xC0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD", 2},                                  // overlong: lead and continuation
      {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD", 3},                  // a surrogate: byte by byte
      {"\xF4\x90\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD", 4},  // above U+10FFFF
      {"\xF0\x9F\x99", "\xEF\xBF\xBD", 1},                                          // cut at the end
  };
  for (const auto& [input, repaired, count] : cases) {
    std::size_t replaced = 99;
    EXPECT_EQ(repair_utf8(input, &replaced), repaired);
    EXPECT_EQ(replaced, count);
  }
}

TEST(Utf8Repair, DecodeAndAppend) {
  const Utf8Scalar euro = decode_utf8("\xE2\x82\xAC", 0);
  EXPECT_EQ(euro.scalar, 0x20ACu);
  EXPECT_EQ(euro.length, 3u);
  EXPECT_TRUE(euro.valid);
  const Utf8Scalar cut = decode_utf8("\xE2\x82x", 0);
  EXPECT_EQ(cut.scalar, kReplacementScalar);
  EXPECT_EQ(cut.length, 2u);
  EXPECT_FALSE(cut.valid);
  std::string out;
  append_utf8(out, 0x1F642);
  append_utf8(out, 'a');
  EXPECT_EQ(out,
            "\xF0\x9F\x99\x82"
            "a");
}

}  // namespace
}  // namespace common
