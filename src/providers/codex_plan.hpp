// Plans that the Codex agent sets from inside code: an "exec" custom tool
// call whose script calls tools.update_plan({plan: [...]}). The plan array is
// found in the script text and read as JSON, leniently where the script uses
// bare keys or trailing commas.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "../json.hpp"

namespace tl {

// Scripts longer than this are not searched for a plan.
inline constexpr std::size_t kNestedPlanTextLimit = 262144;
// Bytes that the search for a plan may scan and parse in one script, over all
// the occurrences of the key it tries; a script that needs more has no plan.
// Without it a script made of many unclosed "plan: [" members would cost time
// quadratic in its length.
inline constexpr std::size_t kNestedPlanWorkBudget = 8 * kNestedPlanTextLimit;

// The end (exclusive) of the bracketed array that opens at byte `start` of
// `text`, honouring double-quoted strings with backslash escapes; none when
// the array is not closed or `start` does not open one.
std::optional<std::size_t> find_json_array_end(std::string_view text, std::size_t start);

// Rewrites a script's array literal as JSON: bare member names are quoted and
// trailing commas dropped. None when the literal holds an unterminated string
// or a non-ASCII byte outside strings. The result is not checked to be JSON.
std::optional<std::string> lenient_literal_json(std::string_view literal);

// The plan array passed to the first tools.update_plan( call of `code`, as
// elements of `parser` (valid until it parses again).
std::optional<simdjson::dom::array> parse_nested_update_plan(std::string_view code, json::DocParser& parser);
// The same plan as an owned JSON array.
std::optional<json::Value> parse_nested_update_plan(std::string_view code);

}  // namespace tl
