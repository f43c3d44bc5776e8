#include "claude_usage.hpp"

#include <gtest/gtest.h>

#include "../test_runs.hpp"
#include "claude.hpp"

namespace tl {
namespace {

using testing::lines_of;
using testing::run_with;

// The usage that the parser's one pass over the run collects.
UsageReading claude_usage(const RunArtifacts& run, const std::vector<SubAgent>& sub_agents) {
  return testing::usage(ClaudeParser("claude", "2.1.217", ParserResolution::Exact), run, sub_agents);
}

constexpr const char* kMain = "snapshots/after/home/.claude/projects/p/s1.jsonl";
constexpr const char* kResumed = "snapshots/after/home/.claude/projects/p/s2.jsonl";
constexpr const char* kAgent = "snapshots/after/home/.claude/projects/p/s1/subagents/agent-a1.jsonl";

std::string assistant(std::string_view id, std::string_view request, int output) {
  return R"({"type":"assistant","requestId":")" + std::string(request) + R"(","message":{"id":")" + std::string(id) +
         R"(","model":"claude-x","usage":{"input_tokens":10,"output_tokens":)" + std::to_string(output) +
         R"(,"cache_read_input_tokens":5,"cache_creation_input_tokens":4,)" +
         R"("cache_creation":{"ephemeral_1h_input_tokens":1}}}})";
}

TEST(ClaudeUsage, ResponseSplitOverLinesAndFilesCountsOnce) {
  const std::string a1 = assistant("msg_A", "req_1", 3);
  const std::string a2 = assistant("msg_A", "req_1", 8);
  RunArtifacts run = run_with({{kMain, lines_of({R"({"type":"user"})", a1, a2})},
                               {kResumed, lines_of({a1, a2, assistant("msg_A", "req_2", 1)})}});
  UsageReading r = claude_usage(run, {});
  // msg_A with req_1 once, with its last figures and its first place; a
  // different request id is another response.
  ASSERT_EQ(r.responses.size(), 2u);
  EXPECT_EQ(r.responses[0].tokens.output, 8u);
  EXPECT_EQ(r.responses[0].tokens.input, 10u);
  EXPECT_EQ(r.responses[0].tokens.cache_read, 5u);
  EXPECT_EQ(r.responses[0].tokens.cache_write, 4u);
  EXPECT_EQ(r.responses[0].tokens.cache_write_1h, 1u);
  EXPECT_EQ(r.responses[0].source, std::string(kMain) + ":2");
  EXPECT_EQ(r.responses[1].source, std::string(kResumed) + ":3");
  EXPECT_FALSE(r.responses[0].input_includes_cache_read);
  EXPECT_TRUE(r.responses[0].output_includes_reasoning);
}

TEST(ClaudeUsage, LinesOfOtherLayoutsAreReadWhole) {
  // The type before the message, spaces after colons, usage not the
  // message's last member, a usage key inside the content, and a user line
  // whose tool result carries the sub-agent's usage (not a response).
  RunArtifacts run = run_with(
      {{kMain,
        lines_of(
            {R"({"type": "assistant", "message": {"id": "m1", "model": "claude-x", "content": [{"type": "tool_use",)"
             R"( "input": {"usage": {"input_tokens": 99}}}], "usage": {"input_tokens": 3, "output_tokens": 4}}})",
             R"({"message":{"id":"m2","model":"claude-x","content":[],"usage":{"input_tokens":5},"stop":null},)"
             R"("type":"assistant","requestId":"r"})",
             R"({"message":{"role":"user","content":[]},"toolUseResult":{"usage":{"input_tokens":7}},"type":"user"})",
             // a member before the message that holds a message of its own
             R"({"data":{"message":{"id":"x","model":"y","content":[]}},"message":{"id":"m3","model":"claude-x",)"
             R"("content":[],"usage":{"input_tokens":6}},"type":"assistant"})"})}});
  UsageReading r = claude_usage(run, {});
  ASSERT_EQ(r.responses.size(), 3u);
  EXPECT_EQ(r.responses[0].model, "claude-x");
  EXPECT_EQ(r.responses[0].tokens.input, 3u);
  EXPECT_EQ(r.responses[0].tokens.output, 4u);
  EXPECT_EQ(r.responses[1].tokens.input, 5u);
  EXPECT_FALSE(r.responses[1].tokens.output);
  EXPECT_EQ(r.responses[2].model, "claude-x");
  EXPECT_EQ(r.responses[2].tokens.input, 6u);
}

TEST(ClaudeUsage, BadMemberIsLeftOutAndTheRestCounts) {
  RunArtifacts run =
      run_with({{kMain, lines_of({R"({"type":"assistant","message":{"id":"m","model":"claude-x","usage":)"
                                  R"({"input_tokens":-1,"output_tokens":"7","cache_read_input_tokens":9e99,)"
                                  R"("cache_creation_input_tokens":3}}})",
                                  R"({"type":"assistant","message":{"id":"n","usage":"none"}})", "not json"})}});
  UsageReading r = claude_usage(run, {});
  ASSERT_EQ(r.responses.size(), 1u);
  EXPECT_FALSE(r.responses[0].tokens.input);
  EXPECT_FALSE(r.responses[0].tokens.output);
  EXPECT_FALSE(r.responses[0].tokens.cache_read);
  EXPECT_EQ(r.responses[0].tokens.cache_write, 3u);
}

TEST(ClaudeUsage, LastCostStateOfEachSessionIsTheHarnessCost) {
  RunArtifacts run = run_with(
      {{kMain,
        lines_of({
            R"({"type":"cost-state","sessionId":"s1","modelUsage":{"claude-x":{"costUSD":0.1}}})",
            R"({"type":"cost-state","sessionId":"s1","modelUsage":{"claude-x":{"costUSD":0.25},"claude-y":{"costUSD":0.5}}})",
        })},
       {kResumed, lines_of({
                      R"({"type":"cost-state","sessionId":"s2","modelUsage":{"claude-x":{"costUSD":1}}})",
                  })}});
  UsageReading r = claude_usage(run, {});
  ASSERT_EQ(r.model_costs.size(), 3u);
  EXPECT_EQ(r.model_costs[0].model, "claude-x");
  EXPECT_EQ(r.model_costs[0].cost, 250000000000u);
  EXPECT_EQ(r.model_costs[1].model, "claude-y");
  EXPECT_EQ(r.model_costs[2].cost, 1000000000000u);
}

TEST(ClaudeUsage, SubAgentTranscriptCountsForItsAgent) {
  SubAgent known;
  known.id = "a1";
  RunArtifacts run = run_with({{kAgent, lines_of({assistant("msg_S", "req_9", 2)})}});
  EXPECT_EQ(claude_usage(run, {known}).responses.at(0).sub_agent_id, "a1");
  EXPECT_FALSE(claude_usage(run, {}).responses.at(0).sub_agent_id);
}

}  // namespace
}  // namespace tl
