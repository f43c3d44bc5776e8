// Token usage of pi and omp sessions, for `--usage`.
#pragma once

#include <vector>

#include "../usage.hpp"

namespace tl {

UsageReading read_pi_usage(const RunArtifacts& run, const std::vector<Message>& messages,
                           const std::vector<SubAgent>& sub_agents);
UsageReading read_omp_usage(const RunArtifacts& run, const std::vector<Message>& messages,
                            const std::vector<SubAgent>& sub_agents);

}  // namespace tl
