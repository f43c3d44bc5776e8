// UTF-8 repair shared by tracelens, tracelens-report and deskhand: one policy
// for invalid input everywhere. Each maximal invalid subpart (the longest
// start of a well-formed sequence, or else one byte) becomes one U+FFFD, as
// the Unicode standard recommends.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace common {

inline constexpr char32_t kReplacementScalar = 0xFFFD;
inline constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

// The length of the well-formed sequence starting at `at`, or 0 with
// `invalid` set to the length of the maximal invalid subpart there (at least
// one byte).
std::size_t utf8_sequence(std::string_view s, std::size_t at, std::size_t& invalid);

// One scalar value read at `at`: the bytes it takes, and U+FFFD (not valid)
// over a maximal invalid subpart.
struct Utf8Scalar {
  char32_t scalar;
  std::size_t length;
  bool valid;
};
Utf8Scalar decode_utf8(std::string_view s, std::size_t at);

// Appends the UTF-8 form of a scalar value.
void append_utf8(std::string& out, char32_t scalar);

// `bytes` with every maximal invalid subpart replaced by one U+FFFD;
// `replaced`, when given, receives how many were replaced.
std::string repair_utf8(std::string_view bytes, std::size_t* replaced = nullptr);

}  // namespace common
