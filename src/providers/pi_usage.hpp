// Token usage of pi and omp sessions, for `--usage`.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "../json.hpp"
#include "../usage.hpp"

namespace tl {

// Reads the usage of pi or omp session files from their parsed lines, fed in
// reading order (every line of every session file); `finish` gives the
// reading once the sub-agents that own some sessions are known.
class PiUsageReader {
 public:
  void line(std::string_view path, std::uint64_t number, json::Element line);
  UsageReading finish(const std::vector<SubAgent>& sub_agents);

 private:
  struct Log {
    std::string path;
    // The id of the sub-agent session the file is, from its last session
    // record that names a parent; none for a main session.
    std::optional<std::string> spawned_id;
  };
  // A response's session file, and what that file said it was when the
  // response was read.
  struct Owner {
    std::size_t log = 0;
    std::optional<std::string> spawned_id;
  };
  UsageReading reading_;
  std::vector<Log> logs_;
  std::vector<Owner> owners_;  // one per response
  std::unordered_set<std::string> seen_;
  bool details_usage_ = false;
};

}  // namespace tl
