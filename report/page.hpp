// The report page of one document.
#pragma once

#include <string>

#include "html.hpp"

namespace report {

// Checks that `input` holds one JSON object (after a leading byte order mark;
// invalid UTF-8 is first replaced by U+FFFD, which the page notes) and writes
// the self-contained page that shows it through `write`. Returns an empty
// text then, else why the input is not one JSON object, having written
// nothing. Spare capacity of at least simdjson's padding after the input's
// end spares a copy.
std::string write_page(const std::string& input, const html::Writer& write);

}  // namespace report
