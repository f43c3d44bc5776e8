// Base64 (RFC 4648, standard alphabet, with padding, without line breaks).
#pragma once

#include <string>
#include <string_view>

namespace deskhand {

std::string base64_encode(std::string_view bytes);

}  // namespace deskhand
