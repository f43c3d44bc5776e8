#include "json.hpp"

#include <gtest/gtest.h>

namespace tl::json {
namespace {

TEST(JsonParse, ExactlyOneValueWithSurroundingWhitespace) {
  DocParser p;
  EXPECT_TRUE(p.parse(" {\"a\":1}  \t"));
  EXPECT_TRUE(p.parse("\"just a string\""));
  EXPECT_TRUE(p.parse("42"));
  EXPECT_FALSE(p.parse("{\"a\":1} {\"b\":2}"));
  EXPECT_FALSE(p.parse("[1] x"));
  EXPECT_FALSE(p.parse(""));
  EXPECT_FALSE(p.parse("{\"a\":"));
  EXPECT_FALSE(p.parse(std::string(2000, '[') + std::string(2000, ']')));  // nesting beyond the parser's depth
}

TEST(JsonParse, LoneSurrogateEscapesBecomeTheReplacementCharacter) {
  struct Case {
    std::string_view line;
    std::string_view text;  // the member "t" as read
  } cases[] = {
      {R"({"t":"cut \ud83d"})", "cut \xEF\xBF\xBD"},
      {R"({"t":"\uDE00 low"})", "\xEF\xBF\xBD low"},
      {R"({"t":"\ud83d\ud83d\ude00"})", "\xEF\xBF\xBD\xF0\x9F\x98\x80"},  // the second high has its pair
      {R"({"t":"\ud83d\u0041"})",
       "\xEF\xBF\xBD"
       "A"},
      {R"({"t":"a \\ud83d \"\ud83d\""})", "a \\ud83d \"\xEF\xBF\xBD\""},  // an escaped backslash is text
      {R"({"t":"\ud83d","n":18446744073709551616})", "\xEF\xBF\xBD"},     // with a number beyond 64 bits
  };
  DocParser p;
  for (const Case& c : cases) {
    auto e = p.parse(c.line);
    ASSERT_TRUE(e) << c.line;
    EXPECT_EQ(string_member(*e, "t"), c.text) << c.line;
  }
  EXPECT_FALSE(p.parse(R"({"t":"\ud83d")"));  // still not one value
}

TEST(JsonParse, InPlaceAndCopiedInputsAgree) {
  std::string text = "{\"k\":\"v1\"}\n{\"k\":\"v2\"}";
  pad(text);
  DocParser p;
  auto first = p.parse(std::string_view(text).substr(0, 10), &text);
  ASSERT_TRUE(first);
  EXPECT_EQ(string_member(*first, "k"), "v1");
  // The last line has no padding of its own inside the text; it is copied.
  std::string tight = "{\"k\":\"v2\"}";
  tight.shrink_to_fit();
  auto second = p.parse(tight, &tight);
  ASSERT_TRUE(second);
  EXPECT_EQ(string_member(*second, "k"), "v2");
}

TEST(JsonParse, IntegersBeyond64BitsBecomeFloats) {
  auto v = parse_value(
      "{\"big\":123456789012345678901234567890,\"neg\":-9223372036854775809,"
      "\"u\":18446744073709551615,\"s\":-5}");
  ASSERT_TRUE(v);
  EXPECT_TRUE((*v)["big"].is_number_float());
  EXPECT_DOUBLE_EQ((*v)["big"].get<double>(), 1.2345678901234568e29);
  EXPECT_TRUE((*v)["neg"].is_number_float());
  EXPECT_TRUE((*v)["u"].is_number_unsigned());
  EXPECT_EQ((*v)["u"].get<std::uint64_t>(), 18446744073709551615ull);
  EXPECT_TRUE((*v)["s"].is_number_integer());
  EXPECT_EQ(dump(*v),
            "{\"big\":1.2345678901234568e+29,\"neg\":-9.223372036854776e+18,\"s\":-5,\"u\":18446744073709551615}");
  // Digits inside a string, also after an escaped quote, are not rewritten.
  auto s = parse_value(R"(["a\"123456789012345678901234567890", 123456789012345678901234567890])");
  ASSERT_TRUE(s);
  EXPECT_EQ((*s)[0], "a\"123456789012345678901234567890");
  EXPECT_TRUE((*s)[1].is_number_float());
}

TEST(JsonLookup, AbsentWhenMissingOrOfAnotherType) {
  DocParser p;
  auto e = p.parse(R"({"s":"x","n":1,"t":true,"f":false,"o":{"a":[10,{"b":"deep"}],"k~/":"esc"},"z":null})");
  ASSERT_TRUE(e);
  EXPECT_EQ(string_member(*e, "s"), "x");
  EXPECT_FALSE(string_member(*e, "n"));
  EXPECT_FALSE(string_member(*e, "missing"));
  EXPECT_TRUE(member(*e, "z"));
  EXPECT_TRUE(is_true(*e, "t"));
  EXPECT_FALSE(is_true(*e, "f"));
  EXPECT_FALSE(is_true(*e, "n"));  // 1 is not the literal true
  EXPECT_EQ(bool_member(*e, "f"), false);
  EXPECT_FALSE(bool_member(*e, "s"));
  EXPECT_EQ(string_at(*e, "/o/a/1/b"), "deep");
  EXPECT_EQ(string_at(*e, "/o/k~0~1"), "esc");
  EXPECT_FALSE(pointer(*e, "/o/a/01"));
  EXPECT_FALSE(pointer(*e, "/o/a/2"));
  EXPECT_FALSE(pointer(*e, "/s/x"));
  EXPECT_FALSE(pointer(*e, "o"));
  EXPECT_TRUE(pointer(*e, ""));
  auto first = first_present(*e, {"missing", "n", "s"});
  ASSERT_TRUE(first);
  EXPECT_FALSE(as_string(*first));  // "n" is present and decides, though not a string
}

TEST(JsonLookup, RepeatedKeyTakesTheLastOccurrence) {
  DocParser p;
  auto e = p.parse(R"({"a":"first","a":"second"})");
  ASSERT_TRUE(e);
  EXPECT_EQ(string_member(*e, "a"), "second");
  EXPECT_EQ(dump(to_value(*e)), "{\"a\":\"second\"}");
}

TEST(JsonLookup, ReadFieldsInOnePass) {
  DocParser p;
  auto e = p.parse(R"({"type":"a","skip":1,"message":{"role":"user"},"type":2,"typ":"x"})");
  ASSERT_TRUE(e);
  std::optional<Element> type, message, missing;
  EXPECT_TRUE(read_fields(*e, {{"type", &type}, {"message", &message}, {"missing", &missing}}));
  ASSERT_TRUE(type);
  EXPECT_EQ(dump(to_value(*type)), "2");  // the last of a repeated key, whatever its type
  ASSERT_TRUE(message);
  EXPECT_EQ(string_member(*message, "role"), "user");
  EXPECT_FALSE(missing);
  auto list = p.parse(R"([{"type":"a"}])");
  ASSERT_TRUE(list);
  std::optional<Element> none;
  EXPECT_FALSE(read_fields(*list, {{"type", &none}}));
  EXPECT_FALSE(none);
}

TEST(JsonWrite, KeysInByteOrderAndNumbersAsParsed) {
  auto v = parse_value(R"({"b":1,"a":{"\u00e9":1,"z":2,"Z":3},"f":1.5,"g":1e2,"h":-0.25,"i":[true,null,"x"]})");
  ASSERT_TRUE(v);
  EXPECT_EQ(
      dump(*v),
      "{\"a\":{\"Z\":3,\"z\":2,\"\xC3\xA9\":1},\"b\":1,\"f\":1.5,\"g\":100.0,\"h\":-0.25,\"i\":[true,null,\"x\"]}");
  EXPECT_EQ(dump(Value(0.1)), "0.1");
}

// A value copied unread is written from the parsed element; it must read as
// the owned copy would: keys in byte order, the last of a repeated key, the
// same numbers.
TEST(JsonWrite, EncodedElementIsWrittenAsItsOwnedCopy) {
  std::string many = "{";  // more members than a short object, in reverse order, with repeats
  for (int i = 40; i-- > 0;) many += "\"k" + std::to_string(i % 30) + "\":" + std::to_string(i) + (i ? "," : "}");
  const std::string cases[] = {
      R"({"b":1,"a":{"\u00e9":1,"z":2,"Z":3},"f":1.5,"g":1e2,"h":-0.25,"i":[true,null,"x"]})",
      R"({"k":1,"j":[],"k":{"y":2,"x":[{}]},"k2":"\n\"","":-0.0})",
      R"([18446744073709551615,-9223372036854775808,1e300,0.1,123456789012,"\u0001"])",
      R"("plain")",
      "null",
      many,
  };
  DocParser p;
  for (const std::string& c : cases) {
    auto e = p.parse(c);
    ASSERT_TRUE(e) << c;
    EXPECT_EQ(encode(*e).text, dump(to_value(*e))) << c;
  }
  auto e = p.parse(R"({"k":1,"b":[2],"k":3})");
  ASSERT_TRUE(e);
  EXPECT_EQ(encode(*e).text, R"({"b":[2],"k":3})");
}

TEST(JsonWrite, StringEscapes) {
  std::string out;
  write_string(out, "q\"b\\s/\b\f\n\r\t\x01\x1f\x7f \xC3\xA9");
  EXPECT_EQ(out, "\"q\\\"b\\\\s/\\b\\f\\n\\r\\t\\u0001\\u001f\x7f \xC3\xA9\"");
}

}  // namespace
}  // namespace tl::json
