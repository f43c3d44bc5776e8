// The command line of tracelens: `parse-run --input DIR --harness NAME --version V`.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "args.hpp"

namespace tl {

struct CliError {
  std::string message;
  std::int32_t code = 2;
};

// Reads the arguments after the program name.
std::variant<Args, CliError> parse_args_from(const std::vector<std::string>& args);

// Parses the arguments, runs the registry and prints the document with one
// newline on standard output. Returns the error to report, if any: a
// command-line error (status 2), or a document that could not be written
// (status 1).
std::variant<std::monostate, CliError> run_cli(const std::vector<std::string>& args);

// A message made safe to print on a terminal: invalid UTF-8 replaced by
// U+FFFD, and every control character (C0, DEL and C1), which an argument
// echoed in the message may hold, written as a visible escape that the
// terminal does not act on: a backslash, "x" and two hexadecimal digits, or
// for C1 a backslash, "u" and four.
std::string terminal_safe(std::string_view message);

}  // namespace tl
