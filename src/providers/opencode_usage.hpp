// Token usage of OpenCode's store, for `--usage`.
#pragma once

#include <vector>

#include "../usage.hpp"

namespace tl {

UsageReading read_opencode_usage(const RunArtifacts& run, const std::vector<Message>& messages,
                                 const std::vector<SubAgent>& sub_agents);

}  // namespace tl
