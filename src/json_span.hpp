// Spans of JSON values in a text, found without building anything: a large
// document (a chat written as one object) is cut into its records, each of
// which is then parsed by itself and keeps the line it starts on. Nothing is
// assumed about validity: every span is parsed before it is used, and a text
// that breaks off ends the scan there.
#pragma once

#include <cstddef>
#include <string_view>

namespace tl::json {

inline constexpr std::size_t kNone = std::string_view::npos;

// [begin, end) of one value in a text.
struct Span {
  std::size_t begin = 0;
  std::size_t end = 0;
};

// The first offset at or after `i` that is not JSON whitespace.
std::size_t skip_space(std::string_view s, std::size_t i);
// One past the quote that closes the string opening at `i`, or kNone.
std::size_t string_end(std::string_view s, std::size_t i);
// One past the end of the value starting at `i`, or kNone when the text
// breaks off first.
std::size_t value_end(std::string_view s, std::size_t i);

// Visits the members of the object opening at `open`: fn(key, value start)
// returns one past the member's value, or kNone to stop. The key is taken as
// written (escapes are not decoded). Returns one past the closing brace, or
// kNone when the text breaks off first.
template <typename Fn>
std::size_t for_each_member(std::string_view s, std::size_t open, Fn&& fn) {
  if (open >= s.size() || s[open] != '{') return kNone;
  std::size_t i = skip_space(s, open + 1);
  if (i < s.size() && s[i] == '}') return i + 1;
  while (i < s.size() && s[i] == '"') {
    const std::size_t key_end = string_end(s, i);
    if (key_end == kNone) return kNone;
    const std::string_view key = s.substr(i + 1, key_end - i - 2);
    i = skip_space(s, key_end);
    if (i >= s.size() || s[i] != ':') return kNone;
    i = skip_space(s, i + 1);
    const std::size_t end = fn(key, i);
    if (end == kNone) return kNone;
    i = skip_space(s, end);
    if (i >= s.size()) return kNone;
    if (s[i] == '}') return i + 1;
    if (s[i] != ',') return kNone;
    i = skip_space(s, i + 1);
  }
  return kNone;
}

// Visits the elements of the array opening at `open`, each as it is found:
// fn(span). Returns one past the closing bracket, or kNone when the text
// breaks off first.
template <typename Fn>
std::size_t for_each_element(std::string_view s, std::size_t open, Fn&& fn) {
  if (open >= s.size() || s[open] != '[') return kNone;
  std::size_t i = skip_space(s, open + 1);
  if (i < s.size() && s[i] == ']') return i + 1;
  while (i < s.size()) {
    const std::size_t end = value_end(s, i);
    if (end == kNone) return kNone;
    fn(Span{i, end});
    i = skip_space(s, end);
    if (i >= s.size()) return kNone;
    if (s[i] == ']') return i + 1;
    if (s[i] != ',') return kNone;
    i = skip_space(s, i + 1);
  }
  return kNone;
}

}  // namespace tl::json
