// The owned JSON value of a parsed document: tracelens and deskhand read with
// simdjson and keep what they copy out as nlohmann values.
#pragma once

#include <simdjson.h>
#include <nlohmann/json.hpp>

namespace common {

// A deep copy of `element`. Object members are kept in ascending byte order of
// their keys; a repeated key keeps its last value.
nlohmann::json to_owned(simdjson::dom::element element);

}  // namespace common
