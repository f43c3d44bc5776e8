#include "json_escapes.hpp"

namespace common {

namespace {

// The value of four hexadecimal digits at `at`, if there are four.
std::optional<unsigned> hex4(std::string_view s, std::size_t at) {
  if (at + 4 > s.size()) return std::nullopt;
  unsigned v = 0;
  for (std::size_t i = at; i < at + 4; ++i) {
    const char c = s[i];
    unsigned d = 0;
    if (c >= '0' && c <= '9') {
      d = static_cast<unsigned>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      d = static_cast<unsigned>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      d = static_cast<unsigned>(c - 'A' + 10);
    } else {
      return std::nullopt;
    }
    v = v * 16 + d;
  }
  return v;
}

bool is_high_surrogate(unsigned u) { return u >= 0xD800 && u <= 0xDBFF; }
bool is_low_surrogate(unsigned u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

std::optional<std::string> replace_lone_surrogates(std::string_view json) {
  // Every surrogate escape starts with a backslash, "u" and "d".
  if (json.find("\\ud") == std::string_view::npos && json.find("\\uD") == std::string_view::npos) {
    return std::nullopt;
  }
  std::string out;
  out.reserve(json.size());
  bool changed = false;
  bool in_string = false;
  std::size_t i = 0;
  while (i < json.size()) {
    const char c = json[i];
    if (!in_string || c != '\\' || i + 1 >= json.size()) {
      if (c == '"') in_string = !in_string;
      out.push_back(c);
      ++i;
      continue;
    }
    if (json[i + 1] != 'u') {
      out.append(json.substr(i, 2));
      i += 2;
      continue;
    }
    const std::optional<unsigned> unit = hex4(json, i + 2);
    if (!unit || (!is_high_surrogate(*unit) && !is_low_surrogate(*unit))) {
      out.append(json.substr(i, 2));
      i += 2;
      continue;
    }
    if (is_high_surrogate(*unit) && i + 7 < json.size() && json[i + 6] == '\\' && json[i + 7] == 'u') {
      if (const std::optional<unsigned> next = hex4(json, i + 8); next && is_low_surrogate(*next)) {
        out.append(json.substr(i, 12));
        i += 12;
        continue;
      }
    }
    // A surrogate without its other half stands for no character.
    out.append("\\uFFFD");
    changed = true;
    i += 6;
  }
  if (!changed) return std::nullopt;
  return out;
}

}  // namespace common
