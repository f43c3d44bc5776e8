#include "main/request.hpp"

#include <cmath>
#include <limits>
#include <string>

#include <simdjson.h>

#include "common/json_tree.hpp"

namespace deskhand {
namespace {

using nlohmann::json;

// A float that is a whole number within [low, high].
bool whole_in_range(double v, double low, double high) {
  return std::isfinite(v) && std::trunc(v) == v && v >= low && v <= high;
}

}  // namespace

std::optional<json> parse_json(std::string_view text) {
  // Parsed with simdjson rather than NSJSONSerialization, which without
  // options refuses a top-level scalar as a parse error ("Mac action failed"),
  // because a request that is a JSON string must get "Invalid Mac input" from
  // the request check.
  simdjson::dom::parser parser;
  const simdjson::padded_string padded(text);
  simdjson::dom::element root;
  if (parser.parse(padded).get(root) != simdjson::SUCCESS) return std::nullopt;
  return common::to_owned(root);
}

const json* member(const json& value, std::string_view key) {
  if (!value.is_object()) return nullptr;
  const auto found = value.find(key);
  return found == value.end() ? nullptr : &*found;
}

const json* member(const json* value, std::string_view key) { return value == nullptr ? nullptr : member(*value, key); }

std::optional<std::uint32_t> exact_uint32(const json* value) {
  const auto wide = exact_uint64(value);
  if (!wide || *wide > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
  return static_cast<std::uint32_t>(*wide);
}

std::optional<std::uint64_t> exact_uint64(const json* value) {
  if (value == nullptr) return std::nullopt;
  if (value->is_number_unsigned()) return value->get<std::uint64_t>();
  if (value->is_number_integer()) {
    const auto v = value->get<std::int64_t>();
    if (v < 0) return std::nullopt;
    return static_cast<std::uint64_t>(v);
  }
  if (value->is_number_float()) {
    const double v = value->get<double>();
    // 2^64 itself is out of range; every whole double below it converts exactly.
    if (!std::isfinite(v) || std::trunc(v) != v || v < 0 || v >= 18446744073709551616.0) {
      return std::nullopt;
    }
    return static_cast<std::uint64_t>(v);
  }
  return std::nullopt;
}

std::optional<std::int32_t> exact_int32(const json* value) {
  if (value == nullptr) return std::nullopt;
  constexpr auto low = std::numeric_limits<std::int32_t>::min();
  constexpr auto high = std::numeric_limits<std::int32_t>::max();
  if (value->is_number_unsigned()) {
    const auto v = value->get<std::uint64_t>();
    if (v > static_cast<std::uint64_t>(high)) return std::nullopt;
    return static_cast<std::int32_t>(v);
  }
  if (value->is_number_integer()) {
    const auto v = value->get<std::int64_t>();
    if (v < low || v > high) return std::nullopt;
    return static_cast<std::int32_t>(v);
  }
  if (value->is_number_float()) {
    const double v = value->get<double>();
    if (!whole_in_range(v, low, high)) return std::nullopt;
    return static_cast<std::int32_t>(v);
  }
  return std::nullopt;
}

std::optional<std::int64_t> exact_int64(const json* value) {
  if (value == nullptr) return std::nullopt;
  if (value->is_number_unsigned()) {
    const auto v = value->get<std::uint64_t>();
    if (v > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
    return static_cast<std::int64_t>(v);
  }
  if (value->is_number_integer()) return value->get<std::int64_t>();
  if (value->is_number_float()) {
    const double v = value->get<double>();
    // [-2^63, 2^63): every whole double in it converts exactly.
    if (!std::isfinite(v) || std::trunc(v) != v || v < -9223372036854775808.0 || v >= 9223372036854775808.0) {
      return std::nullopt;
    }
    return static_cast<std::int64_t>(v);
  }
  return std::nullopt;
}

std::optional<double> exact_double(const json* value) {
  if (value == nullptr) return std::nullopt;
  // 2^63 and 2^64 as doubles: the first values out of range of the integer types.
  constexpr double two63 = 9223372036854775808.0;
  constexpr double two64 = 18446744073709551616.0;
  if (value->is_number_float()) return value->get<double>();
  if (value->is_number_unsigned()) {
    const auto v = value->get<std::uint64_t>();
    const auto d = static_cast<double>(v);
    if (d >= two64 || static_cast<std::uint64_t>(d) != v) return std::nullopt;
    return d;
  }
  if (value->is_number_integer()) {
    const auto v = value->get<std::int64_t>();
    const auto d = static_cast<double>(v);
    if (d >= two63 || static_cast<std::int64_t>(d) != v) return std::nullopt;
    return d;
  }
  return std::nullopt;
}

}  // namespace deskhand
