// Token usage of Claude Code transcripts, for `--usage`.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "../json.hpp"
#include "../usage.hpp"
#include "claude_subagents.hpp"

namespace tl {

// Reads the usage of Claude Code transcripts from their parsed lines, fed in
// reading order (every line of every transcript, with the members that
// read_claude_line read); `finish` gives the reading once the sub-agents that
// own some transcripts are known.
class ClaudeUsageReader {
 public:
  void line(std::string_view path, std::uint64_t number, const ClaudeLine& line);
  UsageReading finish(const std::vector<SubAgent>& sub_agents);

 private:
  void add(UsageResponse r);

  UsageReading reading_;
  std::unordered_map<std::string, std::size_t> by_response_;
  // The last running cost of each session, per model.
  std::vector<std::pair<std::string, std::vector<HarnessModelCost>>> session_costs_;
  std::vector<std::string> logs_;    // the transcripts with responses, in reading order
  std::vector<std::size_t> log_of_;  // each response's transcript, in logs_
};

}  // namespace tl
