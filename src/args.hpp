// The run request: which run to read and which harness and version wrote it.
// The command line fills it; the registry and the parsers read it.
#pragma once

#include <optional>
#include <string>

#include "usage_record.hpp"

namespace tl {

struct Args {
  std::string input;    // the run directory, or a single log file
  std::string harness;  // the registered harness name, as given
  std::string version;  // the harness version, as given
  // With --usage: the price table that costs the run's token usage.
  std::optional<PriceTable> usage = std::nullopt;
};

}  // namespace tl
