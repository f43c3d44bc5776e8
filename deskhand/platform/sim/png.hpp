// PNG encoding of 8-bit RGB pixels, for the simulated captures.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace deskhand::sim {

// Encodes `rgb` (width × height pixels, 3 bytes each, rows top to bottom) as
// PNG; none when the size is zero, the pixels do not match it, or libpng
// fails.
std::optional<std::string> encode_png(std::size_t width, std::size_t height, const std::vector<std::uint8_t>& rgb);

}  // namespace deskhand::sim
