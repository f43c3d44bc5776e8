// Encodings that put text from a document into an HTML page safely.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace report::html {

// Receives the page piece by piece.
using Writer = std::function<void(std::string_view)>;

struct RepairedUtf8 {
  std::string text;
  std::size_t replaced = 0;  // invalid sequences replaced by U+FFFD
};

// Replaces every invalid UTF-8 sequence (stray continuation bytes, truncated
// or overlong sequences, surrogates, code points above U+10FFFF) by U+FFFD,
// one replacement for each maximal invalid part, as browsers decode.
RepairedUtf8 repair_utf8(std::string_view bytes);

// The deepest nesting of arrays and objects accepted in a document:
// tracelens reads input values up to simdjson's 1,024 levels and places a
// copied value a few levels deep in its document (a tool call's input sits
// at the fifth), so every document it prints stays within this.
inline constexpr std::size_t kMaxNesting = 1024 + 8;

// Text for an element's content or a quoted attribute value: & < > " ' become
// character references; everything else is kept.
std::string escape_text(std::string_view text);

// The text of a valid JSON document made safe to stand inside
// <script type="application/json">: every < > & (which valid JSON holds only
// inside strings) and the line separators U+2028 and U+2029 become \u escapes,
// so nothing can end the element or open a comment, and the value that
// JSON.parse reads back is unchanged.
std::string json_for_script(std::string_view json);
void json_for_script(std::string_view json, const Writer& write);

// The first `max_chars` characters of valid UTF-8 text, with "…" appended
// when anything was cut.
std::string shorten(std::string_view text, std::size_t max_chars);

}  // namespace report::html
