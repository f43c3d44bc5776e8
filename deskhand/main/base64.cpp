#include "main/base64.hpp"

#include <cstdint>

namespace deskhand {

std::string base64_encode(std::string_view bytes) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t at = 0;
  const auto byte = [&](std::size_t i) { return static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[i])); };
  for (; at + 3 <= bytes.size(); at += 3) {
    const std::uint32_t group = (byte(at) << 16) | (byte(at + 1) << 8) | byte(at + 2);
    out += kAlphabet[(group >> 18) & 0x3F];
    out += kAlphabet[(group >> 12) & 0x3F];
    out += kAlphabet[(group >> 6) & 0x3F];
    out += kAlphabet[group & 0x3F];
  }
  const std::size_t rest = bytes.size() - at;
  if (rest == 1) {
    const std::uint32_t group = byte(at) << 16;
    out += kAlphabet[(group >> 18) & 0x3F];
    out += kAlphabet[(group >> 12) & 0x3F];
    out += "==";
  } else if (rest == 2) {
    const std::uint32_t group = (byte(at) << 16) | (byte(at + 1) << 8);
    out += kAlphabet[(group >> 18) & 0x3F];
    out += kAlphabet[(group >> 12) & 0x3F];
    out += kAlphabet[(group >> 6) & 0x3F];
    out += '=';
  }
  return out;
}

}  // namespace deskhand
