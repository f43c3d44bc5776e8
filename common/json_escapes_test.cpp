#include "json_escapes.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string_view>
#include <utility>

namespace common {
namespace {

TEST(ReplaceLoneSurrogates, OnlyEscapesWithoutTheirOtherHalf) {
  const std::pair<std::string_view, std::optional<std::string_view>> cases[] = {
      {R"({"a":"x"})", std::nullopt},
      {R"({"a":"\ud83d\ude00 pair"})", std::nullopt},
      {R"({"a":"\\ud83d"})", std::nullopt},  // an escaped backslash: text, not an escape
      {R"({"a":"\u00e9"})", std::nullopt},
      {R"({"a":"\ud83d"})", R"({"a":"\uFFFD"})"},
      {R"({"a":"\ud83d","b":"\uDE00"})", R"({"a":"\uFFFD","b":"\uFFFD"})"},
      {R"({"a":"\ud83d\ud83d\ude00"})", R"({"a":"\uFFFD\ud83d\ude00"})"},
      {R"({"a":"\uD83Dz"})", R"({"a":"\uFFFDz"})"},
      {R"({"a":"\ud83d\u0041"})", R"({"a":"\uFFFD\u0041"})"},
  };
  for (const auto& [input, want] : cases) {
    const std::optional<std::string> expected = want ? std::optional<std::string>(*want) : std::nullopt;
    EXPECT_EQ(replace_lone_surrogates(input), expected) << input;
  }
}

}  // namespace
}  // namespace common
