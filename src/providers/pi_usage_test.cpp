#include "pi_usage.hpp"

#include <gtest/gtest.h>

#include "../test_runs.hpp"
#include "omp.hpp"
#include "pi.hpp"

namespace tl {
namespace {

using testing::lines_of;
using testing::run_with;

// The usage that the parser's one pass over the run collects.
UsageReading pi_usage(const RunArtifacts& run, const std::vector<SubAgent>& sub_agents) {
  return testing::usage(PiParser("pi", "0.73.1", ParserResolution::Exact), run, sub_agents);
}
// The usage that the parser's one pass over the run collects.
UsageReading omp_usage(const RunArtifacts& run, const std::vector<SubAgent>& sub_agents) {
  return testing::usage(OmpParser("omp", "15.11.0", ParserResolution::Exact), run, sub_agents);
}

std::string assistant(std::string_view id, int input) {
  return R"({"type":"message","id":")" + std::string(id) +
         R"(","message":{"role":"assistant","model":"m","provider":"p","usage":{"input":)" + std::to_string(input) +
         R"(,"output":2,"cacheRead":3,"cacheWrite":4,"totalTokens":9,"cost":{"total":0.002}}}})";
}

TEST(PiUsage, AssistantUsageWithTheHarnessCostCountedOncePerEntry) {
  RunArtifacts run = run_with({{"snapshots/after/home/.pi/agent/sessions/w/s.jsonl",
                                lines_of({R"({"type":"session","version":3,"id":"s"})", assistant("a", 1),
                                          assistant("a", 1), assistant("b", 5)})}});
  UsageReading r = pi_usage(run, {});
  ASSERT_EQ(r.responses.size(), 2u);
  EXPECT_EQ(r.responses[0].model, "m");
  EXPECT_EQ(r.responses[0].provider, "p");
  EXPECT_EQ(r.responses[0].tokens.cache_read, 3u);
  EXPECT_EQ(r.responses[0].tokens.cache_write, 4u);
  EXPECT_FALSE(r.responses[0].tokens.reasoning);
  EXPECT_EQ(r.responses[0].harness_cost, 2000000000u);
  EXPECT_TRUE(r.notes.empty());
}

TEST(PiUsage, SubAgentUsageOnlyInAToolResultIsANote) {
  RunArtifacts run =
      run_with({{"snapshots/after/home/.pi/agent/sessions/w/s.jsonl",
                 lines_of({R"({"type":"message","id":"t","message":{"role":"toolResult","toolName":"subagent",)"
                           R"("details":{"results":[{"messages":[{"role":"assistant","usage":{"input":9}}]}]}}})"})}});
  UsageReading r = pi_usage(run, {});
  EXPECT_TRUE(r.responses.empty());
  ASSERT_EQ(r.notes.size(), 1u);
}

TEST(OmpUsage, SubAgentSessionCountsForItsAgentOrIsNoted) {
  SubAgent agent;
  agent.id = "ListFiles";
  RunArtifacts run =
      run_with({{"snapshots/after/home/.omp/agent/sessions/w/1_x/ListFiles.jsonl",
                 lines_of({R"({"type":"session","id":"c","parentSession":"/x.jsonl"})", assistant("a", 1)})}});
  EXPECT_EQ(omp_usage(run, {agent}).responses.at(0).sub_agent_id, "ListFiles");
  UsageReading unlisted = omp_usage(run, {});
  EXPECT_FALSE(unlisted.responses.at(0).sub_agent_id);
  EXPECT_EQ(unlisted.notes.size(), 1u);
}

}  // namespace
}  // namespace tl
