#include "gemini_usage.hpp"

#include <gtest/gtest.h>

#include "../test_runs.hpp"
#include "gemini.hpp"

namespace tl {
namespace {

using testing::lines_of;
using testing::run_with;

// The usage that the parser's one pass over the run collects.
UsageReading gemini_usage(const RunArtifacts& run, const std::vector<SubAgent>& sub_agents) {
  return testing::usage(GeminiParser("gemini", "0.61.0", ParserResolution::Exact), run, sub_agents);
}

constexpr const char* kChat = "snapshots/after/home/.gemini/tmp/p/chats/session-1.jsonl";

std::string reply(std::string_view id, int output) {
  return R"({"id":")" + std::string(id) + R"(","type":"gemini","model":"gemini-m","tokens":{"input":100,)" +
         R"("output":)" + std::to_string(output) + R"(,"cached":40,"thoughts":3,"tool":0,"total":1}})";
}

TEST(GeminiUsage, ChatCountsAsTheFinalReplayHoldsIt) {
  RunArtifacts run = run_with({{kChat, lines_of({
                                           R"({"sessionId":"s","kind":"main"})",
                                           R"({"id":"u1","type":"user","content":"hi"})",
                                           reply("g1", 1),
                                           reply("g1", 7),  // replaced: counts as the later record
                                           R"({"id":"u2","type":"user","content":"more"})",
                                           reply("g2", 2),
                                           R"({"$rewindTo":"u2"})",  // removes u2 and g2
                                           R"({"id":"u3","type":"user","content":"again"})",
                                           reply("g3", 4),
                                       })}});
  UsageReading r = gemini_usage(run, {});
  ASSERT_EQ(r.responses.size(), 2u);
  EXPECT_EQ(r.responses[0].message_id, "g1");
  EXPECT_EQ(r.responses[0].tokens.output, 7u);
  EXPECT_EQ(r.responses[0].tokens.cache_read, 40u);
  EXPECT_EQ(r.responses[0].tokens.reasoning, 3u);
  EXPECT_FALSE(r.responses[0].tokens.cache_write);
  EXPECT_EQ(r.responses[0].source, std::string(kChat) + ":4");
  EXPECT_TRUE(r.responses[0].input_includes_cache_read);
  EXPECT_FALSE(r.responses[0].output_includes_reasoning);
  EXPECT_EQ(r.responses[1].message_id, "g3");
}

TEST(GeminiUsage, RecordsWithToolCallsInEitherLayout) {
  RunArtifacts run = run_with(
      {{kChat,
        lines_of({
            // tokens and model before the tool calls, "tokens" and "model" also
            // inside the content and the calls
            R"({"id":"g1","type":"gemini","content":[{"functionResponse":{"response":{"tokens":{"input":999}}}}],)"
            R"("tokens":{"input":10,"output":2},"model":"gemini-m","toolCalls":[{"args":{"model":"x","tokens":{"input":1}}}]})",
            // the calls first: read whole
            R"({"id":"g2","type":"gemini","toolCalls":[{"args":{"tokens":{"input":1}}}],"tokens":{"input":20},"model":"gemini-n"})",
            // a user record is never read for tokens
            R"({"id":"u1","timestamp":"t","type":"user","content":[{"text":"go"}]})",
        })}});
  UsageReading r = gemini_usage(run, {});
  ASSERT_EQ(r.responses.size(), 2u);
  EXPECT_EQ(r.responses[0].tokens.input, 10u);
  EXPECT_EQ(r.responses[0].tokens.output, 2u);
  EXPECT_EQ(r.responses[0].model, "gemini-m");
  EXPECT_EQ(r.responses[1].tokens.input, 20u);
  EXPECT_EQ(r.responses[1].model, "gemini-n");
}

TEST(GeminiUsage, ResumedChatKeepsTokensAndModelOfTheEarlierRecord) {
  RunArtifacts run = run_with(
      {{kChat, lines_of({R"({"sessionId":"s"})", R"({"id":"u1","type":"user","content":"hi"})", reply("g1", 5),
                         R"({"$set":{"messages":[{"id":"u1","type":"user"},{"id":"g1","type":"gemini"}]}})"})}});
  UsageReading r = gemini_usage(run, {});
  ASSERT_EQ(r.responses.size(), 1u);
  EXPECT_EQ(r.responses[0].model, "gemini-m");
  EXPECT_EQ(r.responses[0].tokens.output, 5u);
}

TEST(GeminiUsage, ChatWrittenWholeAndSubAgentChat) {
  SubAgent agent;
  agent.id = "child";
  RunArtifacts run = run_with({{"snapshots/after/home/.gemini/tmp/p/chats/session-old.json",
                                R"({"sessionId": "old", "messages": [)" + reply("g1", 2) + "]}"},
                               {"snapshots/after/home/.gemini/tmp/p/chats/parent/child.jsonl",
                                lines_of({R"({"sessionId":"child","kind":"subagent"})", reply("g9", 1)})}});
  UsageReading r = gemini_usage(run, {agent});
  ASSERT_EQ(r.responses.size(), 2u);
  EXPECT_FALSE(r.responses[0].sub_agent_id);
  EXPECT_EQ(r.responses[1].sub_agent_id, "child");
}

}  // namespace
}  // namespace tl
