#include "json_tree.hpp"

#include <gtest/gtest.h>

#include <string>

namespace common {
namespace {

// Every kind of value is copied with its type; members come out in key order
// and a repeated key keeps its last value.
TEST(JsonTree, CopiesEveryKindOfValue) {
  simdjson::dom::parser parser;
  const simdjson::padded_string text(
      std::string(R"({"z":[1,-2,18446744073709551615,2.5,true,null,"s"],"a":{"k":1,"k":2},"m":""})"));
  simdjson::dom::element root;
  ASSERT_EQ(parser.parse(text).get(root), simdjson::SUCCESS);
  const nlohmann::json owned = to_owned(root);
  EXPECT_EQ(owned.dump(), R"({"a":{"k":2},"m":"","z":[1,-2,18446744073709551615,2.5,true,null,"s"]})");
  EXPECT_FALSE(owned["z"][0].is_number_unsigned());  // simdjson reads a small integer as signed
  EXPECT_TRUE(owned["z"][2].is_number_unsigned());
  EXPECT_TRUE(owned["z"][3].is_number_float());
}

}  // namespace
}  // namespace common
