// The owned JSON value of tracelens (nlohmann): the values that are copied
// from the input into the output or rewritten, and their compact encoding.
// Reading inputs is json.hpp's business; this header does not need it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace tl::json {

// The owned JSON value: objects keep their keys in ascending byte order,
// numbers stay unsigned, signed or float as parsed.
using Value = nlohmann::json;

// A value kept only as its compact encoding (what write_value writes for its
// owned copy): values that are copied into the document unread need no tree.
struct Encoded {
  std::string text;
  bool operator==(const Encoded&) const = default;
};
Encoded encode(const Value& v);

// Owned value look-ups (for the manifest and other owned documents).
const Value* value_member(const Value& v, std::string_view key);
std::optional<std::string_view> value_string_member(const Value& v, std::string_view key);

// Appends `s` as a JSON string: quotes, backslash, the short control escapes,
// other control bytes as \u00XX; everything else unescaped.
void write_string(std::string& out, std::string_view s);
// Appends an owned value in compact form (keys in ascending byte order).
void write_value(std::string& out, const Value& v);
std::string dump(const Value& v);

}  // namespace tl::json
