// Token usage of Cursor runs, for `--usage`: its transcripts hold none.
#pragma once

#include <vector>

#include "../usage.hpp"

namespace tl {

UsageReading read_cursor_usage(const RunArtifacts& run, const std::vector<Message>& messages,
                               const std::vector<SubAgent>& sub_agents);

}  // namespace tl
