#include "platform/sim/png.hpp"

#include <cstring>
#include <limits>

#include <png.h>

namespace deskhand::sim {

std::optional<std::string> encode_png(std::size_t width, std::size_t height, const std::vector<std::uint8_t>& rgb) {
  constexpr std::size_t kMaxSide = 1u << 16;
  if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide) return std::nullopt;
  if (rgb.size() != width * height * 3) return std::nullopt;

  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = PNG_FORMAT_RGB;

  // The first call measures, the second writes.
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&image, nullptr, &size, 0, rgb.data(), 0, nullptr)) {
    png_image_free(&image);
    return std::nullopt;
  }
  std::string out(size, '\0');
  if (!png_image_write_to_memory(&image, out.data(), &size, 0, rgb.data(), 0, nullptr)) {
    png_image_free(&image);
    return std::nullopt;
  }
  out.resize(size);
  return out;
}

}  // namespace deskhand::sim
