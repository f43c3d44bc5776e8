#include "html.hpp"

#include <gtest/gtest.h>
#include <simdjson.h>

namespace report::html {
namespace {

struct Utf8Case {
  std::string_view input;
  std::string_view expected;
  std::size_t replaced;
};

TEST(RepairUtf8, ReplacesEachMaximalInvalidPartOnce) {
  const Utf8Case cases[] = {
      {"plain ascii", "plain ascii", 0},
      {"na\xC3\xAFve \xE6\x9D\xB1 \xF0\x9F\x99\x82", "na\xC3\xAFve \xE6\x9D\xB1 \xF0\x9F\x99\x82", 0},
      {"a\x80z", "a\xEF\xBF\xBDz", 1},              // stray continuation byte
      {"\xFF", "\xEF\xBF\xBD", 1},                  // never a lead byte
      {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD", 2},  // overlong two-byte form
      {"\xE2\x82", "\xEF\xBF\xBD", 1},              // cut off at the end
      {"\xE2\x82"
       "A",
       "\xEF\xBF\xBD"
       "A",
       1},                                                                          // cut off before ASCII
      {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD", 3},                  // a surrogate
      {"\xF4\x90\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD", 4},  // above U+10FFFF
      {"\xF0\x9F\x99"
       "\xC3\xA9",
       "\xEF\xBF\xBD\xC3\xA9", 1},  // cut off before a valid character
  };
  for (const auto& c : cases) {
    auto out = repair_utf8(c.input);
    EXPECT_EQ(out.text, c.expected) << c.input;
    EXPECT_EQ(out.replaced, c.replaced) << c.input;
  }
}

TEST(EscapeText, ReplacesTheFiveMarkupCharacters) {
  EXPECT_EQ(escape_text("<img src=x onerror=\"go()\">&'"), "&lt;img src=x onerror=&quot;go()&quot;&gt;&amp;&#39;");
  EXPECT_EQ(escape_text("caf\xC3\xA9 javascript:x"), "caf\xC3\xA9 javascript:x");
}

std::string canonical(std::string_view json) {
  simdjson::dom::parser parser;
  simdjson::padded_string padded(json);
  simdjson::dom::element value;
  EXPECT_EQ(parser.parse(padded).get(value), simdjson::SUCCESS) << json;
  return simdjson::to_string(value);
}

TEST(JsonForScript, NothingCanEndTheElementAndTheValueIsUnchanged) {
  std::string_view json =
      "{\"t\": \"</script><script>x()</script><!-- & -->\", \"k</script>\": [\"\xE2\x80\xA8|\xE2\x80\xA9\"],"
      " \"s\": \"\\\\<\\\"<\", \"n\": \"\xE2\x80\xA6 \xE6\x9D\xB1\"}";
  std::string out = json_for_script(json);
  EXPECT_EQ(out,
            "{\"t\": \"\\u003c/script\\u003e\\u003cscript\\u003ex()\\u003c/script\\u003e\\u003c!-- \\u0026 "
            "--\\u003e\", \"k\\u003c/script\\u003e\": [\"\\u2028|\\u2029\"], \"s\": \"\\\\\\u003c\\\"\\u003c\", "
            "\"n\": \"\xE2\x80\xA6 \xE6\x9D\xB1\"}");
  EXPECT_EQ(out.find('<'), std::string::npos);
  EXPECT_EQ(canonical(out), canonical(json));
}

TEST(Shorten, CutsWholeCharacters) {
  EXPECT_EQ(shorten("abc", 3), "abc");
  EXPECT_EQ(shorten("abcd", 3), "abc\xE2\x80\xA6");
  EXPECT_EQ(shorten("\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", 2), "\xE6\x97\xA5\xE6\x9C\xAC\xE2\x80\xA6");
  EXPECT_EQ(shorten("", 0), "");
}

}  // namespace
}  // namespace report::html
