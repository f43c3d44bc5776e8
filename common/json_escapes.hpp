// Repair of JSON text that JavaScript writers leave behind, shared by
// tracelens and tracelens-report: a string cut inside a character leaves a
// surrogate escape without its other half, which a strict JSON reader
// refuses together with the whole value.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace common {

// The JSON text with every lone surrogate escape inside a string (a \uD800
// to \uDBFF not followed by an escaped low surrogate, or a \uDC00 to \uDFFF
// not preceded by a high one) replaced by \uFFFD; nothing when there is none.
std::optional<std::string> replace_lone_surrogates(std::string_view json);

}  // namespace common
