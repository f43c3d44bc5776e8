// The one UTF-8 validity check of the text module. simdjson's validator checks
// whole logs many times faster than a byte-by-byte check; it lives in a file
// of its own so that the rest of the text module does not compile simdjson's
// header.
#include <simdjson.h>

#include "text.hpp"

namespace tl::text {

bool is_valid_utf8(std::string_view bytes) { return simdjson::validate_utf8(bytes.data(), bytes.size()); }

}  // namespace tl::text
