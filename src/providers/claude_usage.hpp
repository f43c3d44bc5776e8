// Token usage of Claude Code transcripts, for `--usage`.
#pragma once

#include <vector>

#include "../usage.hpp"

namespace tl {

UsageReading read_claude_usage(const RunArtifacts& run, const std::vector<Message>&,
                               const std::vector<SubAgent>& sub_agents);

}  // namespace tl
