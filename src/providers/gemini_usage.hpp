// Token usage of Gemini CLI chats, for `--usage`.
#pragma once

#include <vector>

#include "../usage.hpp"

namespace tl {

UsageReading read_gemini_usage(const RunArtifacts& run, const std::vector<Message>& messages,
                               const std::vector<SubAgent>& sub_agents);

}  // namespace tl
