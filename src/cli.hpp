// The command line of tracelens: `parse-run --input DIR --harness NAME --version V`.
#pragma once

#include <cstdint>
#include <string>
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
// newline on standard output. Returns the error to report, if any.
std::variant<std::monostate, CliError> run_cli(const std::vector<std::string>& args);

}  // namespace tl
