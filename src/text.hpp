// Text operations shared by every module: UTF-8 repair, Unicode whitespace and
// case mapping, line splitting and the two text shorteners.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>

namespace tl::text {

// The bounds, in characters, that texts are shortened to.
inline constexpr std::size_t kNameChars = 120;      // context file titles, tool names read from a terminal
inline constexpr std::size_t kTodoChars = 300;      // todo contents
inline constexpr std::size_t kPromptChars = 400;    // sub-agent prompts
inline constexpr std::size_t kEvidenceChars = 500;  // approvals, tool errors, runtime-log lines
inline constexpr std::size_t kMessageChars = 800;   // message texts, tool results, inputs given as text

// The ellipsis that ends every shortened text.
inline constexpr std::string_view kEllipsis = "\xE2\x80\xA6";  // U+2026

// Bytes to UTF-8 text: every invalid sequence becomes U+FFFD (one replacement
// per maximal invalid subpart). Valid input comes back unchanged.
std::string repair_utf8(std::string_view bytes);
void repair_utf8_in_place(std::string& s);
bool is_valid_utf8(std::string_view bytes);

// Decodes the scalar value at `pos` of valid UTF-8 text and advances `pos`.
char32_t decode(std::string_view s, std::size_t& pos);

// The Unicode White_Space property.
bool is_space(char32_t c);

std::string_view trim(std::string_view s);
std::string_view trim_start(std::string_view s);
std::string_view trim_end(std::string_view s);
bool is_blank(std::string_view s);

// Full Unicode case mapping (root locale).
std::string to_lower(std::string_view s);
std::string to_upper(std::string_view s);
// A..Z to a..z only.
std::string ascii_lower(std::string_view s);
char ascii_lower(char c);
bool iequals_ascii(std::string_view a, std::string_view b);

// Substring and prefix tests on the lower-cased text without building it.
// `needle` must be lower case and consist of ASCII and caseless symbols.
bool lower_contains(std::string_view hay, std::string_view needle);
bool lower_starts_with(std::string_view hay, std::string_view needle);
// The same tests against several needles: true when any one holds.
bool starts_with_any(std::string_view s, std::initializer_list<std::string_view> prefixes);
bool lower_contains_any(std::string_view hay, std::initializer_list<std::string_view> needles);
bool lower_starts_with_any(std::string_view hay, std::initializer_list<std::string_view> prefixes);
// Whether `needle` occurs in `hay`, and where it first and last occurs (or
// npos), byte for byte; on JSON text several times quicker than
// std::string_view's searches, which stop at every quote.
bool contains(std::string_view hay, std::string_view needle);
std::size_t find(std::string_view hay, std::string_view needle);
std::size_t find_last(std::string_view hay, std::string_view needle);
// Position of the first ASCII-case-insensitive match, or npos.
std::size_t ifind_ascii(std::string_view hay, std::string_view needle, std::size_t from = 0);
// The same for the first match of either needle (each at least two bytes, in
// lower case), in one pass.
std::size_t ifind_either_ascii(std::string_view hay, std::string_view a, std::string_view b, std::size_t from = 0);

// Number of line feeds (memchr from one to the next: quick on long lines).
std::size_t count_line_feeds(std::string_view s);
// Number of Unicode scalar values.
std::size_t char_count(std::string_view s);
// The first `n` scalar values.
std::string_view take_chars(std::string_view s, std::size_t n);

// Splits a text into lines: a line ends at a line feed, one carriage return
// before it is dropped, and an empty piece after the last line feed is not a
// line. Lines are numbered from 1.
class LineReader {
 public:
  explicit LineReader(std::string_view text) : text_(text) {}
  bool next(std::string_view& line);
  std::uint64_t number() const { return number_; }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
  std::uint64_t number_ = 0;
};

// Line numbers (from 1) of increasing offsets in one text.
class LineCounter {
 public:
  explicit LineCounter(std::string_view text) : text_(text) {}
  std::uint64_t line_at(std::size_t offset);

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
  std::uint64_t line_ = 1;
};

// At most `max_chars` characters with line breaks normalised; see the
// implementation for the whitespace rules.
std::string truncate_readable(std::string_view s, std::size_t max_chars);
// Whitespace runs collapsed to single spaces, cut to `max_chars` characters
// with an ellipsis.
std::string compact(std::string_view s, std::size_t max_chars);
// Whitespace runs collapsed to single spaces, never cut.
std::string collapse_spaces(std::string_view s);

// Joins pieces with line feeds into `out` as they come: one line feed before
// every piece but the first (which may be empty).
class LineJoiner {
 public:
  explicit LineJoiner(std::string& out) : out_(out) {}
  void add(std::string_view piece) {
    if (!first_) out_.push_back('\n');
    first_ = false;
    out_.append(piece);
  }
  // True until the first piece.
  bool empty() const { return first_; }

 private:
  std::string& out_;
  bool first_ = true;
};

// The pieces joined with line feeds.
std::string join_lines(std::span<const std::string_view> pieces);

// An owned copy of an optional view.
inline std::optional<std::string> owned(std::optional<std::string_view> s) {
  if (!s) return std::nullopt;
  return std::string(*s);
}

// Hashes texts and views alike, so that a map keyed by texts is searched with
// a view without building a key.
struct TransparentHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
};
template <typename T>
using TextMap = std::unordered_map<std::string, T, TransparentHash, std::equal_to<>>;

// The pieces joined into one text.
std::string concat(std::initializer_list<std::string_view> pieces);

// "path:N"
std::string source_of(std::string_view path, std::uint64_t line);

// The last component of a slash-separated path without its last extension; a
// name whose only dot leads it (".hidden") keeps it.
std::string_view file_stem(std::string_view path);

}  // namespace tl::text
