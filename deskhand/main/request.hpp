// Reading the request: JSON input, member lookup, and the exact conversion of
// JSON numbers to the types that the actions need.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include <nlohmann/json.hpp>

namespace deskhand {

// The largest request accepted, in bytes.
inline constexpr std::size_t kMaxInputBytes = 32768;

// Parses one JSON text (any JSON value at the top level). None when the text
// is not valid JSON, including when it is empty. Numbers keep their kind:
// unsigned or signed 64-bit integers, or 64-bit floats.
std::optional<nlohmann::json> parse_json(std::string_view text);

// The member `key` of an object; null when `value` is not an object or has no
// such member.
const nlohmann::json* member(const nlohmann::json& value, std::string_view key);
const nlohmann::json* member(const nlohmann::json* value, std::string_view key);

// A JSON number converted exactly to the type named; none when the value is
// missing, not a number (booleans are not numbers), or does not convert
// exactly (a fraction where an integer is needed, a value out of range, an
// integer that a double cannot hold exactly).
std::optional<std::uint32_t> exact_uint32(const nlohmann::json* value);
std::optional<std::int32_t> exact_int32(const nlohmann::json* value);
std::optional<std::uint64_t> exact_uint64(const nlohmann::json* value);
std::optional<std::int64_t> exact_int64(const nlohmann::json* value);
std::optional<double> exact_double(const nlohmann::json* value);

}  // namespace deskhand
