#include "json_tree.hpp"

#include <cstdint>
#include <string>
#include <string_view>

namespace common {

nlohmann::json to_owned(simdjson::dom::element element) {
  using simdjson::dom::element_type;
  switch (element.type()) {
    case element_type::OBJECT: {
      nlohmann::json out = nlohmann::json::object();
      simdjson::dom::object object;
      if (element.get(object) == simdjson::SUCCESS) {
        for (simdjson::dom::key_value_pair field : object) out[std::string(field.key)] = to_owned(field.value);
      }
      return out;
    }
    case element_type::ARRAY: {
      nlohmann::json out = nlohmann::json::array();
      simdjson::dom::array array;
      if (element.get(array) == simdjson::SUCCESS) {
        for (simdjson::dom::element item : array) out.push_back(to_owned(item));
      }
      return out;
    }
    case element_type::STRING: {
      std::string_view v;
      if (element.get(v) == simdjson::SUCCESS) return nlohmann::json(std::string(v));
      break;
    }
    case element_type::INT64: {
      std::int64_t v = 0;
      if (element.get(v) == simdjson::SUCCESS) return nlohmann::json(v);
      break;
    }
    case element_type::UINT64: {
      std::uint64_t v = 0;
      if (element.get(v) == simdjson::SUCCESS) return nlohmann::json(v);
      break;
    }
    case element_type::DOUBLE: {
      double v = 0;
      if (element.get(v) == simdjson::SUCCESS) return nlohmann::json(v);
      break;
    }
    case element_type::BOOL: {
      bool v = false;
      if (element.get(v) == simdjson::SUCCESS) return nlohmann::json(v);
      break;
    }
    case element_type::NULL_VALUE:
      break;
  }
  return nlohmann::json(nullptr);
}

}  // namespace common
