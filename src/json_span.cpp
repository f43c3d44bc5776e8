#include "json_span.hpp"

#include "simd.hpp"

namespace tl::json {

namespace {

bool json_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

}  // namespace

std::size_t skip_space(std::string_view s, std::size_t i) {
  while (i < s.size() && json_space(s[i])) ++i;
  return i;
}

std::size_t string_end(std::string_view s, std::size_t i) {
  ++i;
  while (i < s.size()) {
    i += simd::run_until(s.data() + i, s.size() - i,
                         [](simd::v16 v) { return (v == simd::splat('"')) | (v == simd::splat('\\')); });
    if (i >= s.size()) break;
    if (s[i] == '"') return i + 1;
    i += 2;  // the backslash and the character it escapes
  }
  return kNone;
}

std::size_t value_end(std::string_view s, std::size_t i) {
  if (i >= s.size()) return kNone;
  const char c = s[i];
  if (c == '"') return string_end(s, i);
  if (c == '{' || c == '[') {
    std::size_t depth = 0;
    while (i < s.size()) {
      i += simd::run_until(s.data() + i, s.size() - i, [](simd::v16 v) {
        return (v == simd::splat('"')) | (v == simd::splat('{')) | (v == simd::splat('[')) | (v == simd::splat('}')) |
               (v == simd::splat(']'));
      });
      if (i >= s.size()) break;
      const char d = s[i];
      if (d == '"') {
        i = string_end(s, i);
        if (i == kNone) break;
        continue;
      }
      if (d == '{' || d == '[') {
        ++depth;
      } else if (--depth == 0) {
        return i + 1;
      }
      ++i;
    }
    return kNone;
  }
  while (i < s.size() && !json_space(s[i]) && s[i] != ',' && s[i] != '}' && s[i] != ']') ++i;
  return i < s.size() ? i : kNone;
}

}  // namespace tl::json
