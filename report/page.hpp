// The report page of one document.
#pragma once

#include <string>
#include <string_view>

namespace report {

struct Page {
  std::string html;   // the whole page when error is empty
  std::string error;  // why the input is not one JSON object
};

// Checks that `input` holds one JSON object (after a leading byte order mark;
// invalid UTF-8 is first replaced by U+FFFD, which the page notes) and builds
// the self-contained page that shows it.
Page build_page(std::string_view input);

}  // namespace report
