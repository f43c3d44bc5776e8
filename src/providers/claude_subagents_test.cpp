#include "claude_subagents.hpp"

#include <gtest/gtest.h>

#include <string>

#include "../classify/transcript_text.hpp"
#include "../test_runs.hpp"

namespace tl {
namespace {

constexpr const char* kPath = "snapshots/s/home/.claude/projects/p/s.jsonl";

using testing::run_with;

std::vector<SubAgent> agents_of(const std::string& transcript) {
  return claude_sub_agents(run_with({{kPath, transcript}}));
}

std::string src(int line) { return std::string(kPath) + ":" + std::to_string(line); }

std::string launch_line(const std::string& id, const std::string& input, const std::string& name = "Task") {
  return R"({"type":"assistant","message":{"role":"assistant","content":[{"type":"tool_use","id":")" + id +
         R"(","name":")" + name + R"(","input":)" + input + "}]}}";
}

std::string result_line(const std::string& id, const std::string& content, bool error = false) {
  return R"({"type":"user","message":{"role":"user","content":[{"type":"tool_result","tool_use_id":")" + id +
         R"(","is_error":)" + (error ? "true" : "false") + R"(,"content":)" + content + "}]}}";
}

std::string notification_line(const std::string& body) {
  return R"({"type":"user","message":{"role":"user","content":"  <task-notification>)" + body +
         R"(</task-notification>"}})";
}

// ---- xml_tag and claude_event_text -------------------------------------------

TEST(XmlTag, FindsTrimmedTextBetweenFirstOpeningAndNextClosingTag) {
  EXPECT_EQ(xml_tag("<a> x y </a><a>z</a>", "a"), "x y");
  EXPECT_EQ(xml_tag("</a> <a>v</a>", "a"), "v");
  EXPECT_EQ(xml_tag("<a></a>", "a"), "");
  EXPECT_EQ(xml_tag("<status>\n completed\t</status>", "status"), "completed");
}

TEST(XmlTag, AbsentWhenATagIsMissingOrDiffersInCase) {
  EXPECT_EQ(xml_tag("no tags", "a"), std::nullopt);
  EXPECT_EQ(xml_tag("<a>open only", "a"), std::nullopt);
  EXPECT_EQ(xml_tag("close only</a>", "a"), std::nullopt);
  EXPECT_EQ(xml_tag("<A>x</A>", "a"), std::nullopt);
  EXPECT_EQ(xml_tag("<task-id >x</task-id>", "task-id"), std::nullopt);
}

TEST(ClaudeEventText, FlattensResultContent) {
  json::DocParser p;
  auto text_of = [&](const char* s) { return claude_event_text(*p.parse(s)); };
  EXPECT_EQ(claude_event_text(std::nullopt), "");
  EXPECT_EQ(text_of(R"("  as is ")"), "  as is ");
  EXPECT_EQ(text_of(R"({"content":{"text":"deep"}})"), "deep");
  EXPECT_EQ(text_of(R"({"text":7,"content":"ignored"})"), "");
  EXPECT_EQ(text_of(R"({"other":"x"})"), "");
  EXPECT_EQ(text_of(R"([{"type":"text","text":"a"},"",{"x":1},["b",{"content":["c"]}],null,3])"), "a\nb\nc");
  EXPECT_EQ(text_of("true"), "");
  EXPECT_EQ(text_of("[]"), "");
}

// ---- launches ----------------------------------------------------------------

TEST(ClaudeSubAgents, LaunchTitleComesFromDescriptionTitleOrTask) {
  std::string t =
      launch_line("t1", R"({"description":"  Search  ","title":"no"})") + "\n" +
      launch_line("t2", R"({"description":42,"title":"Title"})", "agent") + "\n" +
      launch_line("t3", R"({"title":"  ","task":"x"})", "SUBAGENT") + "\n" + launch_line("t4", R"({"task":"Do it"})") +
      "\n" + launch_line("t5", R"("just text")") + "\n" +
      R"({"message":{"content":[{"type":"tool_use","id":"t6","name":"Task","arguments":{"title":"Args"}}]}})" + "\n" +
      launch_line("t7", R"({"description":"x"})", "Tasks") + "\n" +
      R"({"message":{"content":[{"type":"tool_use","id":"t8","name":"Task","input":null,"arguments":{"title":"Ignored"}}]}})" +
      "\n" + launch_line("t9", R"({"description":"y"})", "") + "\n";
  auto agents = agents_of(t);
  ASSERT_EQ(agents.size(), 7u);  // "Tasks" and the empty name are no launches
  EXPECT_EQ(agents[0].title, "Search");
  EXPECT_EQ(agents[1].title, "sub-agent");
  EXPECT_EQ(agents[2].title, "sub-agent");
  EXPECT_EQ(agents[3].title, "Do it");
  EXPECT_EQ(agents[4].title, "sub-agent");
  EXPECT_EQ(agents[5].title, "Args");
  EXPECT_EQ(agents[5].id, "t6");
  EXPECT_EQ(agents[5].source, src(6));
  EXPECT_EQ(agents[6].id, "t8");
  EXPECT_EQ(agents[6].title, "sub-agent");  // a present input, even null, hides the arguments
  for (const auto& a : agents) {
    EXPECT_EQ(a.state, ActivityState::Running);
    EXPECT_EQ(a.prompt, "");
  }
}

TEST(ClaudeSubAgents, LaunchWithoutStringIdIsIgnored) {
  std::string t = R"({"message":{"content":[{"type":"tool_use","name":"Task","input":{"description":"x"}},)"
                  R"({"type":"tool_use","id":5,"name":"Task","input":{"description":"y"}}]}})";
  EXPECT_TRUE(agents_of(t).empty());
}

TEST(ClaudeSubAgents, PromptIsCutToFourHundredCharactersWithoutSplittingOne) {
  std::string prompt;
  for (int i = 0; i < 250; ++i) prompt += "ab";  // 500 ASCII characters
  std::string wide;
  for (int i = 0; i < 450; ++i) wide += "\xC3\xA9";  // 450 two-byte characters
  auto agents = agents_of(launch_line("t1", R"({"prompt":")" + prompt + R"("})") + "\n" +
                          launch_line("t2", R"({"prompt":")" + wide + R"("})") + "\n" +
                          launch_line("t3", R"({"prompt":"  keep spaces  "})"));
  ASSERT_EQ(agents.size(), 3u);
  EXPECT_EQ(agents[0].prompt, prompt.substr(0, 400));
  EXPECT_EQ(agents[1].prompt, wide.substr(0, 800));
  EXPECT_EQ(agents[2].prompt, "  keep spaces  ");
}

TEST(ClaudeSubAgents, SecondLaunchWithSameIdUpdatesTheRecord) {
  std::string t = launch_line("t1", R"({"description":"first","prompt":"p1"})") + "\n" +
                  result_line("t1", R"("done")") + "\n" +
                  launch_line("t1", R"({"description":"second","prompt":"p2"})") + "\n";
  auto agents = agents_of(t);
  ASSERT_EQ(agents.size(), 1u);
  EXPECT_EQ(agents[0].id, "t1");
  EXPECT_EQ(agents[0].title, "second");
  EXPECT_EQ(agents[0].prompt, "p2");
  EXPECT_EQ(agents[0].state, ActivityState::Running);
  EXPECT_EQ(agents[0].source, src(3));
}

// ---- launch results ----------------------------------------------------------

TEST(ClaudeSubAgents, BackgroundLaunchTakesAgentIdAndNotificationFinishesIt) {
  std::string t =
      launch_line("toolu_1", R"({"description":"Audit","prompt":"Audit the repo"})") + "\n" +
      result_line(
          "toolu_1",
          R"([{"type":"text","text":"Async agent launched successfully.\nagentId: a7f3 (use SendMessage to talk)\nThe agent is running"}])") +
      "\n";
  auto running = agents_of(t);
  ASSERT_EQ(running.size(), 1u);
  EXPECT_EQ(running[0].id, "a7f3");
  EXPECT_EQ(running[0].state, ActivityState::Running);
  EXPECT_EQ(running[0].source, src(2));

  t += "not json\n" + notification_line("<task-id>a7f3</task-id><status>completed</status>") + "\n";
  auto done = agents_of(t);
  ASSERT_EQ(done.size(), 1u);
  EXPECT_EQ(done[0].id, "a7f3");
  EXPECT_EQ(done[0].title, "Audit");
  EXPECT_EQ(done[0].prompt, "Audit the repo");
  EXPECT_EQ(done[0].state, ActivityState::Finished);
  EXPECT_EQ(done[0].source, src(4));
}

TEST(ClaudeSubAgents, ResultStateDependsOnPhraseAndError) {
  std::string t =
      launch_line("a", "{}") + "\n" + launch_line("b", "{}") + "\n" + launch_line("c", "{}") + "\n" +
      launch_line("d", "{}") + "\n" + result_line("a", R"("Report: all good")") + "\n" +
      result_line("b", R"("Report: all good")", true) + "\n" +
      result_line("c", R"({"content":"still working in the background"})") + "\n" +
      R"({"message":{"content":[{"type":"tool_result","tool_use_id":"d","is_error":"true","content":"x"}]}})" + "\n" +
      result_line("unknown", R"("x")", true) + "\n";
  auto agents = agents_of(t);
  ASSERT_EQ(agents.size(), 4u);
  EXPECT_EQ(agents[0].state, ActivityState::Finished);
  EXPECT_EQ(agents[0].source, src(5));
  EXPECT_EQ(agents[1].state, ActivityState::Failed);
  EXPECT_EQ(agents[2].state, ActivityState::Running);
  EXPECT_EQ(agents[3].state, ActivityState::Finished);  // "true" as a string is not an error
  EXPECT_EQ(agents[3].source, src(8));
}

TEST(ClaudeSubAgents, AgentIdLineWithoutWordIsPassedOver) {
  std::string t = launch_line("t1", "{}") + "\n" +
                  result_line("t1", R"("agentId:   \n  agentId:\tw1\u3000rest\nagentId: w2")") + "\n";
  auto agents = agents_of(t);
  ASSERT_EQ(agents.size(), 1u);
  EXPECT_EQ(agents[0].id, "w1");
}

// ---- task notifications ------------------------------------------------------

TEST(ClaudeSubAgents, NotificationStatusMapping) {
  std::string t;
  const char* statuses[] = {"<status>Completed</status>", "",
                            "<status>done</status>",      "<status>failed</status>",
                            "<status>error</status>",     "<status>killed</status>"};
  int line = 0;
  for (int i = 0; i < 6; ++i) {
    std::string id = std::string("t").append(std::to_string(i));
    t += launch_line(id, "{}") + "\n" + result_line(id, R"("done")") + "\n";
    t += notification_line("<tool-use-id>" + id + "</tool-use-id>" + statuses[i]) + "\n";
    line += 3;
  }
  auto agents = agents_of(t);
  ASSERT_EQ(agents.size(), 6u);
  EXPECT_EQ(agents[0].state, ActivityState::Running);
  EXPECT_EQ(agents[1].state, ActivityState::Running);
  EXPECT_EQ(agents[2].state, ActivityState::Finished);
  EXPECT_EQ(agents[3].state, ActivityState::Failed);
  EXPECT_EQ(agents[4].state, ActivityState::Failed);
  EXPECT_EQ(agents[5].state, ActivityState::Running);
  EXPECT_EQ(agents[5].source, src(line));
  EXPECT_EQ(agents[0].id, "t0");  // no task id: the id stays
}

TEST(ClaudeSubAgents, NotificationByToolUseIdRecordsTheTaskIdForLaterEvents) {
  std::string t =
      launch_line("toolu_9", "{}") + "\n" +
      notification_line("<tool-use-id>toolu_9</tool-use-id><task-id>bg1</task-id><status>running</status>") + "\n" +
      notification_line("<task-id>bg1</task-id><status>completed</status>") + "\n" +
      notification_line("<task-id>other</task-id><status>failed</status>") + "\n" +
      R"({"message":{"content":"<task-notification><task-id>bg1</task-id><status>failed</status>"}})" + "\n" +
      R"({"message":{"content":"text <task-notification><task-id>bg1</task-id><status>failed</status>"}})" + "\n";
  auto agents = agents_of(t);
  ASSERT_EQ(agents.size(), 1u);
  EXPECT_EQ(agents[0].id, "bg1");
  // The unclosed notification still carries a status tag: the content begins
  // with the marker, so it counts; the last line does not begin with it.
  EXPECT_EQ(agents[0].state, ActivityState::Failed);
  EXPECT_EQ(agents[0].source, src(5));
}

// Claude Code 2.1.3xx records a background agent's completion as a queued
// notification: a queue-operation "enqueue" line and a queued_command
// attachment in task-notification mode. The same notification written twice
// (queued and again as a user line) changes nothing the second time.
TEST(ClaudeSubAgents, QueuedNotificationsFinishBackgroundAgents) {
  const std::string body =
      R"(<task-notification>\n<task-id>bg1</task-id>\n<tool-use-id>toolu_1</tool-use-id>\n<status>completed</status>\n</task-notification>)";
  const std::string launched =
      launch_line("toolu_1", R"({"description":"List files"})", "Agent") + "\n" +
      result_line("toolu_1", R"([{"type":"text","text":"Async agent launched successfully.\nagentId: bg1"}])") + "\n";
  const std::string enqueue = R"({"type":"queue-operation","operation":"enqueue","content":")" + body + "\"}\n";
  const std::string remove = R"({"type":"queue-operation","operation":"remove","content":")" + body + "\"}\n";
  const std::string attachment =
      R"({"type":"attachment","attachment":{"type":"queued_command","commandMode":"task-notification","prompt":")" +
      body + "\"}}\n";
  const std::string user_line = R"({"type":"user","message":{"role":"user","content":")" + body + "\"}}\n";

  struct Case {
    std::string transcript;
    ActivityState state;
    int source_line;
  };
  const Case cases[] = {
      {launched, ActivityState::Running, 2},
      {launched + enqueue, ActivityState::Finished, 3},
      {launched + attachment, ActivityState::Finished, 3},
      {launched + remove, ActivityState::Running, 2},
      // Queued, removed from the queue, then delivered: the first one counts.
      {launched + enqueue + remove + attachment, ActivityState::Finished, 3},
      {launched + enqueue + user_line, ActivityState::Finished, 3},
      {launched + user_line + attachment, ActivityState::Finished, 3},
      // Another mode or another operation is no notification.
      {launched + R"({"type":"attachment","attachment":{"type":"queued_command","commandMode":"prompt","prompt":")" +
           body + "\"}}\n",
       ActivityState::Running, 2},
      {launched + R"({"type":"queue-operation","operation":"dequeue","content":")" + body + "\"}\n",
       ActivityState::Running, 2},
  };
  for (const Case& c : cases) {
    auto agents = agents_of(c.transcript);
    ASSERT_EQ(agents.size(), 1u) << c.transcript;
    EXPECT_EQ(agents[0].id, "bg1");
    EXPECT_EQ(agents[0].state, c.state) << c.transcript;
    EXPECT_EQ(agents[0].source, src(c.source_line)) << c.transcript;
  }
  // A notification for the same agent with a new text still applies.
  auto later = agents_of(
      launched + enqueue +
      R"({"type":"queue-operation","operation":"enqueue","content":"<task-notification><task-id>bg1</task-id><status>failed</status></task-notification>"})" +
      "\n");
  ASSERT_EQ(later.size(), 1u);
  EXPECT_EQ(later[0].state, ActivityState::Failed);
  EXPECT_EQ(later[0].source, src(4));
}

// ---- messages to sub-agents --------------------------------------------------

std::string send_line(const std::string& id, const std::string& input) {
  return R"({"message":{"content":[{"type":"tool_use","id":")" + id + R"(","name":"SendMessage","input":)" + input +
         "}]}}";
}

TEST(ClaudeSubAgents, SendMessageRunsTheAgentAndAFailedMessageRestoresIt) {
  std::string base = launch_line("t1", "{}") + "\n" +
                     result_line("t1", R"("Async agent launched successfully\nagentId: ag1")") + "\n" +
                     notification_line("<task-id>ag1</task-id><status>completed</status>") + "\n";
  // Line 4: a message to the finished agent.
  std::string sent = base + send_line("m1", R"({"to":"ag1","message":"more"})") + "\n";
  auto a = agents_of(sent);
  ASSERT_EQ(a.size(), 1u);
  EXPECT_EQ(a[0].state, ActivityState::Running);
  EXPECT_EQ(a[0].source, src(4));

  auto failed = agents_of(sent + result_line("m1", R"("no such agent")", true) + "\n");
  EXPECT_EQ(failed[0].state, ActivityState::Finished);
  EXPECT_EQ(failed[0].source, src(5));

  auto ok = agents_of(sent + result_line("m1", R"("Message sent")") + "\n" + result_line("m1", R"("x")", true) + "\n");
  EXPECT_EQ(ok[0].state, ActivityState::Running);  // the second result is for no known call
  EXPECT_EQ(ok[0].source, src(4));
}

TEST(ClaudeSubAgents, SendMessageNeedsKnownRecipientAndNonEmptyObjectInput) {
  std::string base = launch_line("t1", "{}") + "\n" + result_line("t1", R"("agentId: ag1")") + "\n";
  std::string t =
      base + send_line("m1", R"({"to":"nobody"})") + "\n" + send_line("m2", "{}") + "\n" +
      send_line("m3", R"({"to":7,"recipient":"ag1"})") + "\n" +
      R"({"message":{"content":[{"type":"tool_use","id":"m4","name":"sendmessage","input":{"to":"ag1"}}]}})" + "\n";
  auto agents = agents_of(t);
  ASSERT_EQ(agents.size(), 1u);
  EXPECT_EQ(agents[0].state, ActivityState::Finished);
  EXPECT_EQ(agents[0].source, src(2));

  auto by_recipient = agents_of(base + send_line("m5", R"({"recipient":"ag1"})") + "\n");
  EXPECT_EQ(by_recipient[0].state, ActivityState::Running);
  auto by_arguments = agents_of(
      base +
      R"({"message":{"content":[{"type":"tool_use","id":"m6","name":"SendMessage","arguments":{"to":"ag1"}}]}})" +
      "\n");
  EXPECT_EQ(by_arguments[0].state, ActivityState::Running);
}

// ---- lines and files ---------------------------------------------------------

TEST(ClaudeSubAgents, ApiRequestLinesAreSkippedButCounted) {
  std::string t =
      R"({"type":"api-request-start","message":{"content":[{"type":"tool_use","id":"x","name":"Task","input":{}}]}})"
      "\n"
      "\r\n"
      "{broken\n" +
      launch_line("t1", "{}") + "\r\n";
  auto agents = agents_of(t);
  ASSERT_EQ(agents.size(), 1u);
  EXPECT_EQ(agents[0].id, "t1");
  EXPECT_EQ(agents[0].source, src(4));
}

TEST(ClaudeSubAgents, OneTrackerSpansAllClaudeTranscriptsInRunOrder) {
  const std::string a = "snapshots/s/home/.claude/projects/p/a.jsonl";
  const std::string b = "snapshots/s/home/.claude/projects/p/b/subagents/agent-1.jsonl";
  RunArtifacts run = run_with({{a, launch_line("t1", R"({"description":"one"})") + "\n"},
                               {"snapshots/s/home/.codex/sessions/x.jsonl", launch_line("t2", "{}") + "\n"},
                               {"snapshots/s/home/.claude/projects/p/notes.json", launch_line("t3", "{}") + "\n"},
                               {b, std::string("\n").append(result_line("t1", R"("finished")")) + "\n"}});
  auto agents = claude_sub_agents(run);
  ASSERT_EQ(agents.size(), 1u);
  EXPECT_EQ(agents[0].state, ActivityState::Finished);
  EXPECT_EQ(agents[0].source, b + ":2");
  EXPECT_TRUE(claude_sub_agents(RunArtifacts{}).empty());
}

}  // namespace
}  // namespace tl
