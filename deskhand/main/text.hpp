// UTF-8 and UTF-16 conversions and counting by Unicode scalar values.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace deskhand {

// The two halves of a UTF-16 surrogate pair.
inline bool is_high_surrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
inline bool is_low_surrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// The UTF-16 code units of a UTF-8 text; each maximal invalid subpart (the
// longest start of a well-formed sequence, or else one byte) becomes U+FFFD.
std::u16string utf16_from_utf8(std::string_view text);

// The UTF-8 bytes of a UTF-16 text; each unpaired surrogate becomes U+FFFD.
std::string utf8_from_utf16(std::u16string_view text);

// The first `count` Unicode scalar values of a UTF-8 text (all of it when it
// has fewer). Each maximal invalid subpart counts as one character and
// becomes U+FFFD.
std::string prefix_scalars(std::string_view text, std::size_t count);

}  // namespace deskhand
