#include "codex_usage.hpp"

#include <gtest/gtest.h>

#include "../test_runs.hpp"
#include "codex.hpp"

namespace tl {
namespace {

using testing::lines_of;
using testing::run_with;

// The usage that the parser's one pass over the run collects.
UsageReading codex_usage(const RunArtifacts& run, const std::vector<SubAgent>& sub_agents) {
  return testing::usage(CodexParser("codex", "0.155.0", ParserResolution::Exact), run, sub_agents);
}

std::string total(int input, int cached, int output, int reasoning) {
  return R"({"type":"event_msg","payload":{"type":"token_count","info":{"total_token_usage":{"input_tokens":)" +
         std::to_string(input) + R"(,"cached_input_tokens":)" + std::to_string(cached) + R"(,"output_tokens":)" +
         std::to_string(output) + R"(,"reasoning_output_tokens":)" + std::to_string(reasoning) + "}}}}";
}

TEST(CodexUsage, RunningTotalsBecomeOneResponseEachAndSumToTheLast) {
  RunArtifacts run =
      run_with({{"snapshots/after/home/.codex/sessions/2026/01/01/rollout-a.jsonl",
                 lines_of({R"({"type":"session_meta","payload":{"id":"main","model_provider":"openai"}})",
                           R"({"type":"turn_context","payload":{"model":"gpt-y"}})", total(100, 40, 10, 2),
                           total(100, 40, 10, 2),  // the same total again
                           R"({"type":"event_msg","payload":{"type":"token_count","info":null}})",
                           R"({"type":"turn_context","payload":{"model":"gpt-z"}})", total(250, 140, 30, 5)})}});
  UsageReading r = codex_usage(run, {});
  ASSERT_EQ(r.responses.size(), 2u);
  EXPECT_EQ(r.responses[0].model, "gpt-y");
  EXPECT_EQ(r.responses[0].provider, "openai");
  EXPECT_EQ(r.responses[0].tokens.input, 100u);
  EXPECT_EQ(r.responses[1].model, "gpt-z");
  EXPECT_EQ(r.responses[1].tokens.input, 150u);
  EXPECT_EQ(r.responses[1].tokens.cache_read, 100u);
  EXPECT_EQ(r.responses[1].tokens.output, 20u);
  EXPECT_EQ(r.responses[1].tokens.reasoning, 3u);
  EXPECT_FALSE(r.responses[1].tokens.cache_write);  // not written by this version
  EXPECT_TRUE(r.responses[1].input_includes_cache_read);
  EXPECT_EQ(r.responses[1].source, "snapshots/after/home/.codex/sessions/2026/01/01/rollout-a.jsonl:7");
}

TEST(CodexUsage, SubAgentRolloutIsItsOwnSessionByPayloadId) {
  // The sub-agent's session_meta carries its parent's session_id: keyed by
  // that, the parent's totals would be taken for the sub-agent's.
  SubAgent helper;
  helper.id = "child";
  RunArtifacts run = run_with(
      {{"snapshots/after/home/.codex/sessions/2026/01/01/rollout-a.jsonl",
        lines_of({R"({"type":"session_meta","payload":{"id":"main","session_id":"main"}})", total(100, 0, 10, 0)})},
       {"snapshots/after/home/.codex/sessions/2026/01/01/rollout-b.jsonl",
        lines_of({R"({"type":"session_meta","payload":{"id":"child","session_id":"main","source":{"subagent":{}}}})",
                  total(50, 0, 5, 0), total(50, 0, 5, 0), total(70, 0, 6, 0),
                  // an earlier total copied below a later meta of the parent
                  R"({"type":"session_meta","payload":{"id":"main"}})", total(100, 0, 10, 0)})}});
  UsageReading with = codex_usage(run, {helper});
  ASSERT_EQ(with.responses.size(), 3u);
  EXPECT_EQ(with.responses[1].tokens.input, 50u);
  EXPECT_EQ(with.responses[1].sub_agent_id, "child");
  EXPECT_EQ(with.responses[2].tokens.input, 20u);
  EXPECT_TRUE(with.notes.empty());
  UsageReading without = codex_usage(run, {});
  EXPECT_EQ(without.notes.size(), 1u);
}

}  // namespace
}  // namespace tl
