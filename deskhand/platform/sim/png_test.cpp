#include "platform/sim/png.hpp"

#include <cstring>

#include <gtest/gtest.h>
#include <png.h>

namespace deskhand::sim {
namespace {

struct Decoded {
  std::size_t width = 0;
  std::size_t height = 0;
  std::vector<std::uint8_t> rgb;
};

std::optional<Decoded> decode(const std::string& png) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, png.data(), png.size())) return std::nullopt;
  image.format = PNG_FORMAT_RGB;
  Decoded out;
  out.width = image.width;
  out.height = image.height;
  out.rgb.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, out.rgb.data(), 0, nullptr)) {
    png_image_free(&image);
    return std::nullopt;
  }
  return out;
}

TEST(EncodePng, RoundTripsThePixels) {
  const std::vector<std::uint8_t> rgb{255, 0, 0, 0, 255, 0, 0, 0, 255, 10, 20, 30, 40, 50, 60, 70, 80, 90};
  const auto png = encode_png(3, 2, rgb);
  ASSERT_TRUE(png.has_value());
  EXPECT_EQ(png->substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  const auto decoded = decode(*png);
  ASSERT_TRUE(decoded.has_value());
  EXPECT_EQ(decoded->width, 3u);
  EXPECT_EQ(decoded->height, 2u);
  EXPECT_EQ(decoded->rgb, rgb);
}

TEST(EncodePng, RefusesSizesThatDoNotMatch) {
  EXPECT_FALSE(encode_png(0, 1, {}).has_value());
  EXPECT_FALSE(encode_png(1, 0, {}).has_value());
  EXPECT_FALSE(encode_png(2, 2, std::vector<std::uint8_t>(11)).has_value());
}

}  // namespace
}  // namespace deskhand::sim
