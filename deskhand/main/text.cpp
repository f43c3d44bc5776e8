#include "main/text.hpp"

#include <cstdint>

namespace deskhand {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

struct Decoded {
  char32_t scalar;
  std::size_t length;  // bytes consumed
};

// Decodes the scalar value that starts at `at`; a byte that does not start a
// well-formed sequence decodes as U+FFFD of length 1.
Decoded decode_utf8(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
  const std::uint8_t lead = byte(at);
  if (lead < 0x80) return {lead, 1};
  std::size_t length = 0;
  char32_t scalar = 0;
  char32_t minimum = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, scalar = lead & 0x1F, minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, scalar = lead & 0x0F, minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, scalar = lead & 0x07, minimum = 0x10000;
  } else {
    return {kReplacement, 1};
  }
  if (text.size() - at < length) return {kReplacement, 1};
  for (std::size_t i = 1; i < length; ++i) {
    const std::uint8_t continuation = byte(at + i);
    if ((continuation & 0xC0) != 0x80) return {kReplacement, 1};
    scalar = (scalar << 6) | (continuation & 0x3F);
  }
  if (scalar < minimum || scalar > 0x10FFFF || (scalar >= 0xD800 && scalar <= 0xDFFF)) {
    return {kReplacement, 1};
  }
  return {scalar, length};
}

void append_utf8(std::string& out, char32_t scalar) {
  if (scalar < 0x80) {
    out += static_cast<char>(scalar);
  } else if (scalar < 0x800) {
    out += static_cast<char>(0xC0 | (scalar >> 6));
    out += static_cast<char>(0x80 | (scalar & 0x3F));
  } else if (scalar < 0x10000) {
    out += static_cast<char>(0xE0 | (scalar >> 12));
    out += static_cast<char>(0x80 | ((scalar >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (scalar & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (scalar >> 18));
    out += static_cast<char>(0x80 | ((scalar >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((scalar >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (scalar & 0x3F));
  }
}

}  // namespace

std::u16string utf16_from_utf8(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const Decoded d = decode_utf8(text, at);
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
        scalar = 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) +
                 (static_cast<char32_t>(text[at + 1]) - 0xDC00);
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
    const Decoded d = decode_utf8(text, at);
    if (d.scalar == kReplacement && d.length == 1) {
      append_utf8(out, kReplacement);
    } else {
      out.append(text.substr(at, d.length));
    }
    at += d.length;
  }
  return out;
}

}  // namespace deskhand
