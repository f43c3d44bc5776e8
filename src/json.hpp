// Reading JSON inputs: simdjson parses every input in place; typed look-ups
// answer "absent" for a missing member or one of another type. The owned
// values copied into the output are in json_value.hpp.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <simdjson.h>

#include "json_value.hpp"
#include "text.hpp"

namespace tl::json {

// A parsed element; valid until its parser parses again.
using Element = simdjson::dom::element;
using Array = simdjson::dom::array;
using Object = simdjson::dom::object;

// Bytes of readable memory simdjson wants after the end of its input.
inline constexpr std::size_t kPadding = simdjson::SIMDJSON_PADDING;

// Makes `s` safe to parse in place: its buffer gets `kPadding` initialised
// bytes after the end of the text, so that every line of it can be handed to
// simdjson without a copy.
void pad(std::string& s);

// Parses one text at a time. A text counts when it holds exactly one JSON value
// with optional surrounding whitespace. Elements returned stay valid until the
// next call to `parse`.
class DocParser {
 public:
  DocParser();
  // `owner` is the string that `text` lies in (if any): when its buffer has
  // the padding after `text`, the bytes are parsed in place.
  std::optional<Element> parse(std::string_view text, const std::string* owner = nullptr);

 private:
  std::optional<Element> parse_bigint_fallback(std::string_view text);
  std::optional<Element> parse_surrogate_fallback(std::string_view text);
  simdjson::dom::parser parser_;
  std::string scratch_;
};

// Splits `text` into lines (see text::LineReader) and parses each once,
// calling fn(number, raw, parsed) with `parsed` null for a line that is not
// one JSON value. Every reader of a log goes through here.
// Lines are numbered from `first_line`, for a text that is a piece of a
// longer one.
template <typename Fn>
void for_each_line(const std::string& text, DocParser& parser, Fn&& fn, std::uint64_t first_line = 1) {
  text::LineReader lines(text);
  std::string_view raw;
  while (lines.next(raw)) {
    auto parsed = parser.parse(raw, &text);
    fn(first_line - 1 + lines.number(), raw, parsed ? &*parsed : static_cast<const Element*>(nullptr));
  }
}

// Parses a whole text into an owned value.
std::optional<Value> parse_value(std::string_view text);

// --- typed look-ups: absent when missing or of another type ---------------

// The member, whatever its type.
std::optional<Element> member(Element e, std::string_view key);
// The value at a JSON Pointer ("" is the element itself).
std::optional<Element> pointer(Element e, std::string_view ptr);

std::optional<std::string_view> as_string(Element e);
std::optional<std::string_view> string_member(Element e, std::string_view key);
std::optional<std::string_view> string_at(Element e, std::string_view ptr);
// True when a looked-up string is there and is exactly `want`.
inline bool string_is(std::optional<std::string_view> s, std::string_view want) { return s && *s == want; }
std::optional<bool> as_bool(Element e);
std::optional<bool> bool_member(Element e, std::string_view key);
// True only when the member is the JSON literal true.
bool is_true(Element e, std::string_view key);
bool is_true_at(Element e, std::string_view ptr);
// Array and object views; absent when the element is of another type.
std::optional<simdjson::dom::array> as_array(Element e);
std::optional<simdjson::dom::object> as_object(Element e);
bool is_object(Element e);
bool is_array(Element e);
bool is_string(Element e);
bool is_null(Element e);

// The first of `keys` that is present decides: its element, whatever its type.
std::optional<Element> first_present(Element e, std::initializer_list<std::string_view> keys);

// One member that `read_fields` looks for: its key and where its value goes.
struct Field {
  std::string_view key;
  std::optional<Element>* slot;
};
// Reads the members of an object in one pass: the value of each member whose
// key one of `fields` names goes to that field's slot (a repeated key keeps
// its last value, as in every other look-up); other members are passed over.
// False, and nothing stored, when `e` is not an object. At most 255 fields.
//
//   std::optional<Element> type, message;
//   read_fields(line, {{"type", &type}, {"message", &message}});
bool read_fields(Element e, std::initializer_list<Field> fields);

// Owned copy of any parsed element.
Value to_value(Element e);
// The encoding write_value gives to_value(e), written without the owned copy:
// object keys in ascending byte order, a repeated key keeping its last value.
Encoded encode(Element e);

}  // namespace tl::json
