#include "utf8.hpp"

namespace common {

std::size_t utf8_sequence(std::string_view s, std::size_t at, std::size_t& invalid) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const std::size_t n = s.size();
  const unsigned char b0 = p[at];
  if (b0 < 0x80) return 1;
  std::size_t need;
  // The range of the second byte; later ones are 0x80..0xBF. The narrower
  // ranges rule out overlong forms, surrogates and values above U+10FFFF.
  unsigned char lo = 0x80, hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1;
  } else if (b0 == 0xE0) {
    need = 2, lo = 0xA0;
  } else if ((b0 >= 0xE1 && b0 <= 0xEC) || b0 == 0xEE || b0 == 0xEF) {
    need = 2;
  } else if (b0 == 0xED) {
    need = 2, hi = 0x9F;
  } else if (b0 == 0xF0) {
    need = 3, lo = 0x90;
  } else if (b0 >= 0xF1 && b0 <= 0xF3) {
    need = 3;
  } else if (b0 == 0xF4) {
    need = 3, hi = 0x8F;
  } else {
    invalid = 1;
    return 0;
  }
  std::size_t k = 1;
  for (; k <= need; ++k) {
    if (at + k >= n) break;
    const unsigned char b = p[at + k];
    const unsigned char l = (k == 1) ? lo : 0x80;
    const unsigned char h = (k == 1) ? hi : 0xBF;
    if (b < l || b > h) break;
  }
  if (k == need + 1) return need + 1;
  invalid = k;
  return 0;
}

Utf8Scalar decode_utf8(std::string_view s, std::size_t at) {
  std::size_t invalid = 0;
  const std::size_t length = utf8_sequence(s, at, invalid);
  if (length == 0) return {kReplacementScalar, invalid, false};
  const auto* p = reinterpret_cast<const unsigned char*>(s.data()) + at;
  if (length == 1) return {p[0], 1, true};
  char32_t c = p[0] & (length == 2 ? 0x1F : length == 3 ? 0x0F : 0x07);
  for (std::size_t k = 1; k < length; ++k) c = (c << 6) | (p[k] & 0x3F);
  return {c, length, true};
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

std::string repair_utf8(std::string_view bytes, std::size_t* replaced) {
  std::string out;
  out.reserve(bytes.size() + 16);
  std::size_t count = 0;
  std::size_t i = 0;
  while (i < bytes.size()) {
    std::size_t invalid = 0;
    const std::size_t len = utf8_sequence(bytes, i, invalid);
    if (len > 0) {
      out.append(bytes.data() + i, len);
      i += len;
    } else {
      out.append(kReplacement);
      ++count;
      i += invalid;
    }
  }
  if (replaced != nullptr) *replaced = count;
  return out;
}

}  // namespace common
