#include "codex_plan.hpp"

#include <gtest/gtest.h>

namespace tl {
namespace {

TEST(FindJsonArrayEnd, NestedArraysAndBracketsInsideStrings) {
  EXPECT_EQ(find_json_array_end("[]", 0), 2u);
  EXPECT_EQ(find_json_array_end("x = [[1], [2]] tail", 4), 14u);
  // A "]" inside a string, and an escaped quote that does not end it.
  EXPECT_EQ(find_json_array_end(R"([" ] \" ] ", 1] rest)", 0), 15u);
  // Braces are not tracked.
  EXPECT_EQ(find_json_array_end("[{]", 0), 3u);
}

TEST(FindJsonArrayEnd, UnclosedOrNotAnArray) {
  EXPECT_EQ(find_json_array_end("[1, [2]", 0), std::nullopt);
  EXPECT_EQ(find_json_array_end(R"(["]"])", 0).value(), 5u);
  EXPECT_EQ(find_json_array_end(R"(["])", 0), std::nullopt);
  // A closing bracket before any opening one.
  EXPECT_EQ(find_json_array_end("] [1]", 0), std::nullopt);
  EXPECT_EQ(find_json_array_end("[1]", 3), std::nullopt);
  EXPECT_EQ(find_json_array_end("[1]", 99), std::nullopt);
}

TEST(LenientLiteral, QuotesMemberNamesAndDropsTrailingCommas) {
  EXPECT_EQ(lenient_literal_json("[{step: \"a\", status: \"pending\",}, ]").value(),
            R"([{"step": "a", "status": "pending"} ])");
  // Values that look like identifiers stay as written; so does a name not
  // followed by a colon.
  EXPECT_EQ(lenient_literal_json("[true, null, x]").value(), "[true, null, x]");
  EXPECT_EQ(lenient_literal_json("[{$a_1 : 1}]").value(), R"([{"$a_1" : 1}])");
  // A name after something other than "{" or "," is left alone.
  EXPECT_EQ(lenient_literal_json("[{a: b: 1}]").value(), R"([{"a": b: 1}])");
  // Strings pass unchanged, escapes included.
  EXPECT_EQ(lenient_literal_json(R"([{k: "x\"y, ]", z:1}])").value(), R"([{"k": "x\"y, ]", "z":1}])");
}

TEST(LenientLiteral, FailsOnUnterminatedStringsAndNonAscii) {
  EXPECT_EQ(lenient_literal_json(R"([{step: "open])"), std::nullopt);
  EXPECT_EQ(lenient_literal_json(R"(["ends with a backslash\)"), std::nullopt);
  EXPECT_EQ(lenient_literal_json("[{step: caf\xC3\xA9}]"), std::nullopt);
  // Non-ASCII inside a string is fine.
  EXPECT_EQ(lenient_literal_json("[\"caf\xC3\xA9\"]").value(), "[\"caf\xC3\xA9\"]");
}

json::Value plan_of(std::initializer_list<std::pair<const char*, const char*>> steps) {
  json::Value plan = json::Value::array();
  for (auto [step, status] : steps) plan.push_back({{"step", step}, {"status", status}});
  return plan;
}

TEST(NestedUpdatePlan, BareKeysAndTrailingComma) {
  auto plan = parse_nested_update_plan(
      "await tools.update_plan({\n  plan: [\n    {step: \"Read\", status: \"completed\"},\n"
      "    {step: \"Write\", status: \"in_progress\"},\n  ],\n});");
  ASSERT_TRUE(plan);
  EXPECT_EQ(*plan, plan_of({{"Read", "completed"}, {"Write", "in_progress"}}));
}

TEST(NestedUpdatePlan, StrictJsonWithSpaces) {
  auto plan = parse_nested_update_plan(R"(tools.update_plan ( { "plan" : [ {"step": "A", "status": "pending"} ] } ))");
  ASSERT_TRUE(plan);
  EXPECT_EQ(*plan, plan_of({{"A", "pending"}}));
}

TEST(NestedUpdatePlan, SkipsPlanWordInsideAStringMember) {
  // "plan": [ inside the explanation string is preceded by a space, not by
  // "," or "{"; the real member follows.
  auto plan = parse_nested_update_plan(
      R"(tools.update_plan({explanation: "new plan: [x]", plan: [{step: "B", status: "completed"}]}))");
  ASSERT_TRUE(plan);
  EXPECT_EQ(*plan, plan_of({{"B", "completed"}}));
  // The quoted form is tried first, and an escaped quote inside a string
  // does not make an occurrence.
  plan = parse_nested_update_plan(
      R"(tools.update_plan({"explanation": "x \"plan\": [1]", "plan": [{"step": "C", "status": "pending"}]}))");
  ASSERT_TRUE(plan);
  EXPECT_EQ(*plan, plan_of({{"C", "pending"}}));
}

TEST(NestedUpdatePlan, KeyRightAfterTheParenthesisIsNotAMember) {
  EXPECT_FALSE(parse_nested_update_plan(R"(tools.update_plan(plan: [{"step":"s","status":"x"}]))"));
  EXPECT_FALSE(parse_nested_update_plan(R"(tools.update_plan(  "plan": [{"step":"s","status":"x"}]))"));
}

TEST(NestedUpdatePlan, AnOccurrenceWithoutAPlanGivesWayToALaterOne) {
  // The first quoted occurrence opens a member but its array holds no steps.
  auto plan = parse_nested_update_plan(
      R"(tools.update_plan({note: '{"plan": [1]}', "plan": [{"step": "D", "status": "completed"}]}))");
  ASSERT_TRUE(plan);
  EXPECT_EQ(*plan, plan_of({{"D", "completed"}}));
}

TEST(NestedUpdatePlan, ElementsWithoutStepAndStatusGiveNone) {
  EXPECT_FALSE(parse_nested_update_plan(R"(tools.update_plan({plan: [{step: "only a step"}]}))"));
  EXPECT_FALSE(parse_nested_update_plan(R"(tools.update_plan({plan: ["a", "b"]}))"));
  EXPECT_FALSE(parse_nested_update_plan(R"(tools.update_plan({plan: [{step: 1, status: "pending"}]}))"));
  // One good element is enough; the others come back unchanged.
  auto plan = parse_nested_update_plan(R"(tools.update_plan({plan: ["a", {step: "b", status: "odd"}]}))");
  ASSERT_TRUE(plan);
  EXPECT_EQ(plan->size(), 2u);
  EXPECT_EQ((*plan)[0], "a");
}

TEST(NestedUpdatePlan, CallMustBeToolsUpdatePlanFollowedByParenthesis) {
  EXPECT_FALSE(parse_nested_update_plan(R"(update_plan({plan: [{step: "a", status: "pending"}]}))"));
  EXPECT_FALSE(parse_nested_update_plan(R"(const f = tools.update_plan; f({plan: [{step: "a", status: "pending"}]}))"));
  // Only the first occurrence is tried.
  EXPECT_FALSE(parse_nested_update_plan(
      R"(x = tools.update_plan; tools.update_plan({plan: [{step: "a", status: "pending"}]}))"));
}

TEST(NestedUpdatePlan, BracketInStepTextAndSingleQuotes) {
  auto plan = parse_nested_update_plan(R"(tools.update_plan({plan: [{step: "fix a[0]]", status: "pending"}]}))");
  ASSERT_TRUE(plan);
  EXPECT_EQ((*plan)[0]["step"], "fix a[0]]");
  EXPECT_FALSE(parse_nested_update_plan(R"(tools.update_plan({plan: [{step: 'a', status: 'pending'}]}))"));
}

TEST(NestedUpdatePlan, TextLongerThanTheLimitGivesNone) {
  std::string call = R"(tools.update_plan({plan: [{step: "a", status: "pending"}]}))";
  std::string text = call + std::string(kNestedPlanTextLimit - call.size(), ' ');
  EXPECT_TRUE(parse_nested_update_plan(text));
  text.push_back(' ');
  EXPECT_FALSE(parse_nested_update_plan(text));
}

}  // namespace
}  // namespace tl

namespace tl {
namespace {

std::string unclosed_members(std::size_t n) {
  std::string code = "tools.update_plan({";
  for (std::size_t i = 0; i < n; ++i) code += "plan: [{";
  code += R"(plan: [{step: "s", status: "pending"}])";
  return code;
}

TEST(NestedUpdatePlan, ManyUnclosedMembersAreBoundedWork) {
  // Every earlier "plan: [" opens an array that never closes; the innermost
  // member holds the plan.
  auto few = parse_nested_update_plan(unclosed_members(10));
  ASSERT_TRUE(few);
  EXPECT_EQ((*few)[0]["step"], "s");
  // Tried one by one, 30,000 of them would scan about 30,000 * 120,000 bytes;
  // the search gives up within its budget instead.
  std::string code = unclosed_members(30000);
  ASSERT_LT(code.size(), kNestedPlanTextLimit);
  EXPECT_FALSE(parse_nested_update_plan(code));
}

}  // namespace
}  // namespace tl
