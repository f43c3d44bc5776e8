#include "main/request.hpp"

#include <gtest/gtest.h>

namespace deskhand {
namespace {

using nlohmann::json;

TEST(ParseJson, AcceptsAnyTopLevelValue) {
  EXPECT_EQ(parse_json(R"({"action":"windows"})"), (json{{"action", "windows"}}));
  EXPECT_EQ(parse_json(R"("text")"), json("text"));
  EXPECT_EQ(parse_json("[1,2]"), json::array({1, 2}));
  EXPECT_EQ(parse_json(" null "), json(nullptr));
}

TEST(ParseJson, RejectsWhatIsNotOneJsonValue) {
  for (const char* text : {"", " ", "{", R"({"a":1} {"b":2})", "{'a':1}", "[1,]", "nan", "\xC3"}) {
    EXPECT_FALSE(parse_json(text).has_value()) << text;
  }
}

TEST(ParseJson, KeepsTheKindOfEachNumber) {
  const auto parsed = parse_json(R"([1, -1, 18446744073709551615, 1.0, 2.5e3])");
  ASSERT_TRUE(parsed.has_value());
  EXPECT_TRUE((*parsed)[0].is_number_integer());
  EXPECT_TRUE((*parsed)[1].is_number_integer());
  EXPECT_TRUE((*parsed)[2].is_number_unsigned());
  EXPECT_EQ((*parsed)[2].get<std::uint64_t>(), 18446744073709551615ull);
  EXPECT_TRUE((*parsed)[3].is_number_float());
  EXPECT_EQ((*parsed)[4].get<double>(), 2500.0);
}

TEST(ParseJson, DecodesStringEscapes) {
  EXPECT_EQ(parse_json(R"("a\u00e9\ud83d\ude00\n")"), json("a\xC3\xA9\xF0\x9F\x98\x80\n"));
}

TEST(ParseJson, NestedValuesAndRepeatedKeys) {
  EXPECT_EQ(parse_json(R"({"t":{"x":[true,false,null]},"k":1,"k":2})"),
            (json{{"t", {{"x", {true, false, nullptr}}}}, {"k", 2}}));
}

TEST(Member, LooksUpObjectsOnly) {
  const json object{{"a", 1}};
  ASSERT_NE(member(object, "a"), nullptr);
  EXPECT_EQ(*member(object, "a"), 1);
  EXPECT_EQ(member(object, "b"), nullptr);
  EXPECT_EQ(member(json::array({1}), "a"), nullptr);
  EXPECT_EQ(member(static_cast<const json*>(nullptr), "a"), nullptr);
}

TEST(ExactNumbers, Unsigned32) {
  const json values[] = {json(0), json(7), json(4294967295u), json(7.0), json(-0.0)};
  const std::uint32_t expected[] = {0, 7, 4294967295u, 7, 0};
  for (std::size_t i = 0; i < std::size(values); ++i) {
    EXPECT_EQ(exact_uint32(&values[i]), expected[i]) << values[i].dump();
  }
  for (const json& v : {json(-1), json(12.5), json(4294967296ull), json(4294967296.0), json(1e300), json("7"),
                        json(true), json(nullptr), json::object()}) {
    EXPECT_FALSE(exact_uint32(&v).has_value()) << v.dump();
  }
  EXPECT_FALSE(exact_uint32(nullptr).has_value());
}

TEST(ExactNumbers, Signed32) {
  const json values[] = {json(-2147483648ll), json(2147483647), json(42u), json(-3.0)};
  const std::int32_t expected[] = {-2147483647 - 1, 2147483647, 42, -3};
  for (std::size_t i = 0; i < std::size(values); ++i) {
    EXPECT_EQ(exact_int32(&values[i]), expected[i]) << values[i].dump();
  }
  for (const json& v :
       {json(-2147483649ll), json(2147483648ll), json(2147483648u), json(0.5), json(false), json("1")}) {
    EXPECT_FALSE(exact_int32(&v).has_value()) << v.dump();
  }
}

TEST(ExactNumbers, Signed64AndUnsigned64) {
  const json big = json(9223372036854775808ull);
  EXPECT_FALSE(exact_int64(&big).has_value());
  EXPECT_EQ(exact_uint64(&big), 9223372036854775808ull);
  const json negative = json(-5);
  EXPECT_EQ(exact_int64(&negative), -5);
  EXPECT_FALSE(exact_uint64(&negative).has_value());
  const json fraction = json(2.5);
  EXPECT_FALSE(exact_int64(&fraction).has_value());
  const json whole = json(-25.0);
  EXPECT_EQ(exact_int64(&whole), -25);
}

TEST(ExactNumbers, Double) {
  const json values[] = {json(0.5), json(-100), json(9007199254740992ull), json(-9007199254740992ll)};
  const double expected[] = {0.5, -100.0, 9007199254740992.0, -9007199254740992.0};
  for (std::size_t i = 0; i < std::size(values); ++i) {
    EXPECT_EQ(exact_double(&values[i]), expected[i]) << values[i].dump();
  }
  // 2^53 + 1 has no exact double.
  for (const json& v : {json(9007199254740993ull), json(-9007199254740993ll), json(18446744073709551615ull), json(true),
                        json("1.5"), json(nullptr)}) {
    EXPECT_FALSE(exact_double(&v).has_value()) << v.dump();
  }
}

}  // namespace
}  // namespace deskhand
