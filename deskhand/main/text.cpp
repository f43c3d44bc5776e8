#include "main/text.hpp"

#include "common/utf8.hpp"

#include <cstdint>

namespace deskhand {
namespace {

constexpr char32_t kReplacement = common::kReplacementScalar;
using common::append_utf8;
using common::decode_utf8;

}  // namespace

std::u16string utf16_from_utf8(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const common::Utf8Scalar d = decode_utf8(text, at);
    at += d.length;
    if (d.scalar < 0x10000) {
      out += static_cast<char16_t>(d.scalar);
    } else {
      const char32_t v = d.scalar - 0x10000;
      out += static_cast<char16_t>(0xD800 + (v >> 10));
      out += static_cast<char16_t>(0xDC00 + (v & 0x3FF));
    }
  }
  return out;
}

std::string utf8_from_utf16(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size(); ++at) {
    const char16_t unit = text[at];
    char32_t scalar = unit;
    if (is_high_surrogate(unit)) {
      if (at + 1 < text.size() && is_low_surrogate(text[at + 1])) {
        scalar =
            0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (static_cast<char32_t>(text[at + 1]) - 0xDC00);
        ++at;
      } else {
        scalar = kReplacement;
      }
    } else if (is_low_surrogate(unit)) {
      scalar = kReplacement;
    }
    append_utf8(out, scalar);
  }
  return out;
}

std::string prefix_scalars(std::string_view text, std::size_t count) {
  std::string out;
  std::size_t at = 0;
  for (std::size_t taken = 0; taken < count && at < text.size(); ++taken) {
    const common::Utf8Scalar d = decode_utf8(text, at);
    if (!d.valid) {
      append_utf8(out, kReplacement);
    } else {
      out.append(text.substr(at, d.length));
    }
    at += d.length;
  }
  return out;
}

}  // namespace deskhand
