#include "opencode_usage.hpp"

#include <gtest/gtest.h>

#include "../test_runs.hpp"

namespace tl {
namespace {

using testing::run_with;

constexpr std::string_view kStore = "snapshots/after/home/.local/share/opencode/storage/";

std::string message(std::string_view id, std::string_view session, std::string_view role, int created) {
  std::string m = R"({"id":")" + std::string(id) + R"(","sessionID":")" + std::string(session) + R"(","role":")" +
                  std::string(role) + R"(","time":{"created":)" + std::to_string(created) + "}";
  if (role == "assistant") {
    m += R"(,"modelID":"m","providerID":"p","cost":0.5,"tokens":{"input":10,"output":2,"reasoning":1,)"
         R"("cache":{"read":3,"write":0}})";
  }
  return m + "}";
}

TEST(OpencodeUsage, AssistantMessagesOfTheStoreWithTheirSessionAndTurn) {
  SubAgent child;
  child.id = "ses_child";
  auto path = [](std::string_view rest) { return std::string(kStore) + std::string(rest); };
  RunArtifacts run = run_with({
      {path("session/proj/ses_main.json"), R"({"id":"ses_main"})"},
      {path("session/proj/ses_child.json"), R"({"id":"ses_child","parentID":"ses_main"})"},
      {path("message/ses_main/msg_1.json"), message("msg_1", "ses_main", "user", 1)},
      {path("message/ses_main/msg_2.json"), message("msg_2", "ses_main", "assistant", 2)},
      {path("message/ses_child/msg_3.json"), message("msg_3", "ses_child", "assistant", 3)},
  });
  Message prompt;
  prompt.id = "msg_1";
  UsageReading r = read_opencode_usage(run, {prompt}, {child});
  ASSERT_EQ(r.responses.size(), 2u);
  EXPECT_EQ(r.responses[0].model, "m");
  EXPECT_EQ(r.responses[0].provider, "p");
  EXPECT_EQ(r.responses[0].tokens.reasoning, 1u);
  EXPECT_EQ(r.responses[0].tokens.cache_write, 0u);
  EXPECT_EQ(r.responses[0].harness_cost, 500000000000u);
  EXPECT_EQ(r.responses[0].message_id, "msg_1");  // placed through the prompt before it
  EXPECT_FALSE(r.responses[0].sub_agent_id);
  EXPECT_EQ(r.responses[1].sub_agent_id, "ses_child");
  EXPECT_FALSE(r.responses[1].message_id);
}

}  // namespace
}  // namespace tl
