// The run request: which run to read and which harness and version wrote it.
// The command line fills it; the registry and the parsers read it.
#pragma once

#include <string>

namespace tl {

struct Args {
  std::string input;    // the run directory, or a single log file
  std::string harness;  // the registered harness name, as given
  std::string version;  // the harness version, as given
};

}  // namespace tl
