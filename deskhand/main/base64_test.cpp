#include "main/base64.hpp"

#include <gtest/gtest.h>

namespace deskhand {
namespace {

TEST(Base64, Rfc4648TestVectors) {
  EXPECT_EQ(base64_encode(""), "");
  EXPECT_EQ(base64_encode("f"), "Zg==");
  EXPECT_EQ(base64_encode("fo"), "Zm8=");
  EXPECT_EQ(base64_encode("foo"), "Zm9v");
  EXPECT_EQ(base64_encode("foob"), "Zm9vYg==");
  EXPECT_EQ(base64_encode("fooba"), "Zm9vYmE=");
  EXPECT_EQ(base64_encode("foobar"), "Zm9vYmFy");
}

TEST(Base64, HighBytesAndNoLineBreaks) {
  EXPECT_EQ(base64_encode(std::string("\xFF\xFE\xFD\x00\x3F", 5)), "//79AD8=");
  const std::string encoded = base64_encode(std::string(3000, '\x89'));
  EXPECT_EQ(encoded.size(), 4000u);
  EXPECT_EQ(encoded.find('\n'), std::string::npos);
  EXPECT_EQ(encoded.substr(0, 4), "iYmJ");
}

}  // namespace
}  // namespace deskhand
