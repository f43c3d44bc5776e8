#include "json_span.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tl::json {
namespace {

TEST(JsonSpan, MembersAndElementsAsWritten) {
  const std::string_view s = R"({"a": [1, {"b":"x}"} , "s\"q"], "c":2})";
  std::vector<std::string_view> keys;
  std::vector<std::string_view> elements;
  const std::size_t end = for_each_member(s, 0, [&](std::string_view key, std::size_t start) {
    keys.push_back(key);
    if (key == "a") {
      return for_each_element(s, start, [&](Span e) { elements.push_back(s.substr(e.begin, e.end - e.begin)); });
    }
    return value_end(s, start);
  });
  EXPECT_EQ(end, s.size());
  EXPECT_EQ(keys, (std::vector<std::string_view>{"a", "c"}));
  EXPECT_EQ(elements, (std::vector<std::string_view>{"1", R"({"b":"x}"})", R"("s\"q")"}));
}

TEST(JsonSpan, TextThatBreaksOffEndsTheScan) {
  const std::string_view s = R"([{"id":1}, {"id":2}, {"id":)";
  std::size_t seen = 0;
  EXPECT_EQ(for_each_element(s, 0, [&](Span) { ++seen; }), kNone);
  EXPECT_EQ(seen, 2u);
  EXPECT_EQ(value_end("\"open", 0), kNone);
  EXPECT_EQ(skip_space(" \t\r\nx", 0), 4u);
}

}  // namespace
}  // namespace tl::json
