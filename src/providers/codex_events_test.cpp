#include "codex_events.hpp"

#include <gtest/gtest.h>

#include "../text.hpp"

namespace tl {
namespace {

constexpr std::string_view kPath = "snapshots/s/home/.codex/sessions/2026/01/01/rollout-a.jsonl";

std::string src(std::uint64_t line) { return text::source_of(kPath, line); }

std::string record(std::string_view ts, std::string_view type, std::string_view payload) {
  return text::concat({R"({"timestamp":")", ts, R"(","type":")", type, R"(","payload":)", payload, "}"});
}

std::string event(std::string_view ts, std::string_view payload) { return record(ts, "event_msg", payload); }
std::string item(std::string_view ts, std::string_view payload) { return record(ts, "response_item", payload); }

std::string user_event(std::string_view ts, std::string_view message) {
  return event(ts, text::concat({R"({"type":"user_message","message":")", message, R"("})"}));
}
std::string agent_event(std::string_view ts, std::string_view message) {
  return event(ts, text::concat({R"({"type":"agent_message","message":")", message, R"("})"}));
}
std::string response(std::string_view ts, std::string_view role, std::string_view id, std::string_view text) {
  return item(ts, text::concat({R"({"type":"message","role":")", role, R"(","id":")", id,
                                R"(","content":[{"type":"input_text","text":")", text, R"("}]})"}));
}

TextArtifact artifact(std::initializer_list<std::string> lines, std::string_view path = kPath) {
  TextArtifact a;
  a.path = std::string(path);
  for (const auto& l : lines) {
    a.text += l;
    a.text += '\n';
  }
  json::pad(a.text);
  return a;
}

struct Lists {
  std::vector<Message> messages;
  std::vector<ToolCall> calls;
  std::vector<TodoItem> todos;
};

Lists read(const TextArtifact& a, std::optional<std::string_view> agent_path = std::nullopt) {
  Lists l;
  parse_codex_events(a, agent_path, l.messages, l.calls, l.todos);
  return l;
}

json::Element parse(json::DocParser& p, std::string_view text) { return p.parse(text).value(); }

// ---- text helpers -------------------------------------------------------------

TEST(SameCodexMessageText, WhitespaceNormalisedSuffix) {
  EXPECT_TRUE(same_codex_message_text("hello   world", "hello world"));
  EXPECT_TRUE(same_codex_message_text(" hello world ", "  hello\n\tworld  "));
  EXPECT_TRUE(same_codex_message_text("world", "hello world"));
  // A suffix of characters, not of words.
  EXPECT_TRUE(same_codex_message_text("lo world", "hello world"));
  // Unicode whitespace (no-break space, ideographic space) counts too.
  EXPECT_TRUE(
      same_codex_message_text("a\xC2\xA0"
                              "b",
                              "x a\xE3\x80\x80\n b"));
  EXPECT_TRUE(same_codex_message_text("\xC3\xA9t\xC3\xA9", "l'\xC3\xA9t\xC3\xA9"));
}

TEST(SameCodexMessageText, LongerEmptyOrElsewhereIsFalse) {
  EXPECT_FALSE(same_codex_message_text("hello world!", "hello world"));
  EXPECT_FALSE(same_codex_message_text("big hello world", "hello world"));
  EXPECT_FALSE(same_codex_message_text("", "anything"));
  EXPECT_FALSE(same_codex_message_text(" \n ", "anything"));
  EXPECT_FALSE(same_codex_message_text("", ""));
  EXPECT_FALSE(same_codex_message_text("hello", "hello there"));
  EXPECT_FALSE(same_codex_message_text("a b", "ab"));
  EXPECT_FALSE(same_codex_message_text("ab", "a b"));
}

TEST(CodexResponseMessageText, JoinsStringTextsOfAnyType) {
  json::DocParser p;
  auto content = parse(p, R"([{"type":"input_text","text":"a"},{"type":"input_image"},{"type":"other","text":"b"},
                              {"text":3},"loose",{"text":""},{"text":"c"}])");
  EXPECT_EQ(codex_response_message_text(content), "a\nb\n\nc");
  EXPECT_EQ(codex_response_message_text(parse(p, R"("not an array")")), "");
}

TEST(CodexAgentMessageText, OnlyInputTextBlocksUntrimmed) {
  json::DocParser p;
  EXPECT_EQ(codex_agent_message_text(parse(p, R"({"content":[{"type":"input_text","text":"  x"},
      {"type":"output_text","text":"y"},{"type":"encrypted_content"},{"type":"input_text","text":"z "}]})")),
            "  x\nz ");
  EXPECT_EQ(codex_agent_message_text(parse(p, R"({"content":[{"type":"input_text","text":" \n "}]})")), std::nullopt);
  EXPECT_EQ(codex_agent_message_text(parse(p, R"({"content":"text"})")), std::nullopt);
  EXPECT_EQ(codex_agent_message_text(parse(p, R"({"content":[]})")), std::nullopt);
  EXPECT_EQ(codex_agent_message_text(parse(p, R"({})")), std::nullopt);
}

std::optional<CodexItemMessage> completed(std::string_view item_json) {
  json::DocParser p;
  return codex_completed_item_message(parse(p, item_json));
}

TEST(CodexCompletedItemMessage, AgentMessageTextBlocksAnyCase) {
  auto m = completed(R"({"type":"AgentMessage","content":[{"type":"Text","text":"  Hi  "},
      {"type":"TEXT","text":"there "},{"type":"image","text":"no"},{"type":"text"}]})");
  ASSERT_TRUE(m);
  EXPECT_EQ(m->role, "assistant");
  EXPECT_EQ(m->text, "Hi  \nthere");
  EXPECT_FALSE(completed(R"({"type":"AgentMessage","content":[{"type":"text","text":"  "}]})"));
  EXPECT_FALSE(completed(R"({"type":"AgentMessage"})"));
  EXPECT_FALSE(completed(R"({"type":"Reasoning","content":[{"type":"text","text":"x"}]})"));
}

TEST(CodexCompletedItemMessage, UserMessageRequestHeading) {
  auto m = completed(R"({"type":"UserMessage","content":[{"type":"text","text":
      "<in-app-browser-context>\nctx\n</in-app-browser-context>\n## My request for Codex:\n\n  Fix the bug  \nplease\n"}]})");
  ASSERT_TRUE(m);
  EXPECT_EQ(m->role, "user");
  EXPECT_EQ(m->text, "Fix the bug  \nplease");
  m = completed(
      R"({"type":"UserMessage","content":[{"type":"text","text":"intro\n  ## My request for Codex for Codex:: \nDo it"}]})");
  EXPECT_EQ(m->text, "Do it");
  m = completed(R"({"type":"UserMessage","content":[{"type":"text","text":"intro\n## My request\nDo it"}]})");
  EXPECT_EQ(m->text, "Do it");
}

TEST(CodexCompletedItemMessage, UserMessageWithoutUsableHeading) {
  // A heading followed only by blank lines: the whole cleaned text.
  auto m = completed(R"({"type":"UserMessage","content":[{"type":"text","text":"## My request:\n\n \n"}]})");
  EXPECT_EQ(m->text, "## My request:");
  // Words after the heading make it an ordinary line.
  m = completed(R"({"type":"UserMessage","content":[{"type":"text","text":"## My request for Codex: now\nmore"}]})");
  EXPECT_EQ(m->text, "## My request for Codex: now\nmore");
  // Only browser context: the uncleaned text.
  m = completed(
      R"({"type":"UserMessage","content":[{"type":"text","text":" <in-app-browser-context>x</in-app-browser-context> "}]})");
  EXPECT_EQ(m->text, "<in-app-browser-context>x</in-app-browser-context>");
}

TEST(CodexCompletedItemMessage, ImagesAndEmptyUserMessages) {
  auto m = completed(R"({"type":"UserMessage","content":[{"type":"local_image","path":"/tmp/a.png"}]})");
  EXPECT_EQ(m->text, "[image]");
  m = completed(R"({"type":"UserMessage","content":[{"type":"text","text":" "},{"type":"image"}]})");
  EXPECT_EQ(m->text, "[image]");
  EXPECT_FALSE(completed(R"({"type":"UserMessage","content":[{"type":"input_image"}]})"));
  EXPECT_FALSE(completed(R"({"type":"UserMessage"})"));
}

// ---- mode detection -------------------------------------------------------------

std::string item_completed_event(std::string_view ts, std::string_view item_json) {
  return event(ts, text::concat({R"({"type":"item_completed","item":)", item_json, "}"}));
}

TEST(CodexItemCompletedMode, OnlyWithoutMessageEvents) {
  const std::string done = item_completed_event("t", R"({"type":"AgentMessage"})");
  EXPECT_TRUE(codex_item_completed_mode(artifact({done, done}).text));
  EXPECT_FALSE(codex_item_completed_mode(artifact({done, user_event("t", "hi")}).text));
  EXPECT_FALSE(codex_item_completed_mode(artifact({agent_event("t", "hi"), done}).text));
  EXPECT_FALSE(codex_item_completed_mode(artifact({}).text));
  // The marker outside an event does not count.
  EXPECT_FALSE(codex_item_completed_mode(artifact({item("t", R"({"type":"item_completed"})")}).text));
  // A message marker in a response item does not turn the mode off.
  EXPECT_TRUE(codex_item_completed_mode(artifact({item("t", R"({"type":"agent_message"})"), done}).text));
  EXPECT_FALSE(
      codex_item_completed_mode(artifact({done, event("t", R"({"type":"assistant_message","message":"x"})")}).text));
}

TEST(CodexItemCompletedMode, OnlyLinesWithAMarkerAreExamined) {
  const std::string done = item_completed_event("t", R"({"type":"AgentMessage"})");
  // A user message event written with an escape holds no marker: not examined.
  const std::string escaped = event("t", R"({"type":"user\u005fmessage","message":"x"})");
  EXPECT_TRUE(codex_item_completed_mode(artifact({done, escaped}).text));
  // The same line holding another marker is examined and turns the mode off.
  const std::string escaped_marked = event("t", R"({"type":"user\u005fmessage","note":"item_completed"})");
  EXPECT_FALSE(codex_item_completed_mode(artifact({done, escaped_marked}).text));
  // An item event whose type is escaped counts once the line holds a marker.
  EXPECT_TRUE(codex_item_completed_mode(
      artifact({event("t", R"({"type":"item\u005fcompleted","note":"agent_message"})")}).text));
  EXPECT_FALSE(codex_item_completed_mode(artifact({event("t", R"({"type":"item\u005fcompleted"})")}).text));
  // Unparsable marked lines are skipped; CRLF line ends are fine.
  EXPECT_TRUE(codex_item_completed_mode(artifact({"{\"user_message\" broken", done + "\r"}).text));
}

TEST(CodexItemCompletedMode, MarkersFarIntoALongLine) {
  const std::string done = item_completed_event("t", R"({"type":"AgentMessage"})");
  // The message marker lies 200,000 bytes into a line that starts with the
  // item marker: the line is examined and turns the mode off.
  const std::string pad(200000, 'x');
  const std::string long_message =
      event("t", text::concat({R"({"note":"item_completed","pad":")", pad, R"(","type":"user_message"})"}));
  EXPECT_FALSE(codex_item_completed_mode(artifact({done, long_message}).text));
  EXPECT_FALSE(codex_item_completed_mode(artifact({long_message, done}).text));
  // Far apart on separate lines.
  EXPECT_TRUE(
      codex_item_completed_mode(artifact({done, event("t", text::concat({R"({"pad":")", pad, R"("})"})), done}).text));
  EXPECT_FALSE(codex_item_completed_mode(
      artifact({done, item("t", text::concat({R"({"pad":")", pad, R"("})"})), user_event("t", "x")}).text));
}

// ---- messages and ids -------------------------------------------------------------

TEST(CodexEvents, EventMessagesClaimResponseIdsDespiteWhitespace) {
  auto l = read(artifact({
      R"({"timestamp":"t1","type":"session_meta","payload":{"id":"s"}})",
      item("t2", R"({"type":"message","role":"user","id":"u1","content":"fix  the\nbug"})"),
      user_event("t3", "fix the bug"),
      agent_event("t4", "Done."),
      response("t5", "assistant", "a1", "Done."),
  }));
  ASSERT_EQ(l.messages.size(), 2u);
  EXPECT_EQ(l.messages[0].position, 0u);
  EXPECT_EQ(l.messages[0].id, "u1");
  EXPECT_EQ(l.messages[0].role, "user");
  EXPECT_EQ(l.messages[0].text, "fix the bug");
  EXPECT_EQ(l.messages[0].timestamp, "t3");
  EXPECT_EQ(l.messages[0].source, src(3));
  EXPECT_EQ(l.messages[1].id, "a1");
  EXPECT_EQ(l.messages[1].role, "assistant");
  EXPECT_EQ(l.messages[1].source, src(4));
  EXPECT_TRUE(l.calls.empty());
  EXPECT_TRUE(l.todos.empty());
}

TEST(CodexEvents, TailOfALongerResponseClaimsItsId) {
  auto l = read(artifact({
      response("t", "user", "u1", "<environment_context>cwd</environment_context>\\n\\nfix the bug"),
      response("t", "user", "u2", "short"),
      user_event("t", "fix the bug"),
      user_event("t", "longer than short"),
      user_event("t", ""),
      user_event("t", "short"),
  }));
  ASSERT_EQ(l.messages.size(), 4u);
  EXPECT_EQ(l.messages[0].id, "u1");
  EXPECT_EQ(l.messages[1].id, std::nullopt);
  // An empty event text never claims, and is stored as it is.
  EXPECT_EQ(l.messages[2].id, std::nullopt);
  EXPECT_EQ(l.messages[2].text, "");
  EXPECT_EQ(l.messages[3].id, "u2");
}

TEST(CodexEvents, RolesMustMatchAndEachIdIsClaimedOnce) {
  auto l = read(artifact({
      response("t", "assistant", "a1", "same"),
      response("t", "user", "u1", "same"),
      user_event("t", "same"),
      user_event("t", "same"),
      agent_event("t", "same"),
  }));
  ASSERT_EQ(l.messages.size(), 3u);
  EXPECT_EQ(l.messages[0].id, "u1");
  EXPECT_EQ(l.messages[1].id, std::nullopt);
  EXPECT_EQ(l.messages[2].id, "a1");
}

TEST(CodexEvents, SeventeenUnclaimedIdsEvictTheFirst) {
  TextArtifact a;
  a.path = std::string(kPath);
  for (int i = 1; i <= 17; ++i) {
    std::string n = std::to_string(i);
    a.text += response("t", "user", "u" + n, "text " + n) + "\n";
  }
  a.text += user_event("t", "text 1") + "\n";
  a.text += user_event("t", "text 2") + "\n";
  a.text += user_event("t", "text 17") + "\n";
  json::pad(a.text);
  auto l = read(a);
  ASSERT_EQ(l.messages.size(), 3u);
  EXPECT_EQ(l.messages[0].id, std::nullopt);
  EXPECT_EQ(l.messages[1].id, "u2");
  EXPECT_EQ(l.messages[2].id, "u17");
  EXPECT_EQ(l.messages[2].source, src(20));
}

TEST(CodexEvents, ResponseItemsLookBackSixteenMessagesOfThisFileOnly) {
  // A message already in the list (an earlier file) is never given an id.
  std::vector<Message> messages(1);
  messages[0].role = "assistant";
  messages[0].text = "old";
  std::vector<ToolCall> calls;
  std::vector<TodoItem> todos;
  TextArtifact a;
  a.path = std::string(kPath);
  a.text += agent_event("t", "target") + "\n";
  for (int i = 0; i < 16; ++i) a.text += agent_event("t", "filler") + "\n";
  a.text += response("t", "assistant", "a-old", "old") + "\n";
  a.text += response("t", "assistant", "a-target", "target") + "\n";
  a.text += agent_event("t", "target") + "\n";
  json::pad(a.text);
  parse_codex_events(a, std::nullopt, messages, calls, todos);
  ASSERT_EQ(messages.size(), 19u);
  EXPECT_EQ(messages[0].id, std::nullopt);
  // The first "target" lies 17 messages back: out of reach.
  EXPECT_EQ(messages[1].id, std::nullopt);
  EXPECT_EQ(messages[1].position, 1u);
  // Neither response text ends the fillers' text: both ids wait, and the
  // last event claims a-target.
  EXPECT_EQ(messages[18].id, "a-target");
  EXPECT_EQ(messages[18].position, 18u);
  for (std::size_t i = 2; i < 18; ++i) EXPECT_EQ(messages[i].id, std::nullopt);
}

TEST(CodexEvents, EventTextFallbacks) {
  auto l = read(artifact({
      event("t", R"({"type":"agent_message","message":null,"text":"ignored"})"),
      event("t", R"({"type":"agent_message","text":"from text"})"),
      event("t", R"({"type":"assistant_message","text":7})"),
      event("t", R"({"type":"user_message","message":"  keep\n  as is  "})"),
  }));
  ASSERT_EQ(l.messages.size(), 4u);
  EXPECT_EQ(l.messages[0].text, "agent_message");
  EXPECT_EQ(l.messages[1].text, "from text");
  EXPECT_EQ(l.messages[2].text, "assistant_message");
  EXPECT_EQ(l.messages[2].role, "assistant");
  EXPECT_EQ(l.messages[3].text, "  keep\n  as is  ");
}

TEST(CodexEvents, ItemCompletedEventsIgnoredBesideMessageEvents) {
  auto l = read(artifact({
      item_completed_event("t", R"({"type":"AgentMessage","id":"i1","content":[{"type":"text","text":"hi"}]})"),
      user_event("t", "prompt"),
  }));
  ASSERT_EQ(l.messages.size(), 1u);
  EXPECT_EQ(l.messages[0].text, "prompt");
}

TEST(CodexEvents, ItemCompletedModeMessages) {
  const std::string long_text(900, 'x');
  auto l = read(artifact({
      item_completed_event("t1", R"({"type":"UserMessage","id":"i1","content":[{"type":"text","text":"do   it"}]})"),
      item_completed_event("t2", R"({"type":"Reasoning","id":"r"})"),
      item_completed_event("t3", text::concat({R"({"type":"AgentMessage","id":7,"content":[{"type":"text","text":")",
                                               long_text, R"("}]})"})),
      event("t4", R"({"type":"item_completed"})"),
  }));
  ASSERT_EQ(l.messages.size(), 2u);
  EXPECT_EQ(l.messages[0].id, "i1");
  EXPECT_EQ(l.messages[0].role, "user");
  EXPECT_EQ(l.messages[0].text, "do it");
  EXPECT_EQ(l.messages[0].timestamp, "t1");
  EXPECT_EQ(l.messages[1].id, std::nullopt);
  EXPECT_EQ(l.messages[1].source, src(3));
  EXPECT_EQ(l.messages[1].text, std::string(800, 'x') + "\xE2\x80\xA6");
}

TEST(CodexEvents, InterAgentMessagesInASubAgentLog) {
  // Every record must stay on one line of the log.
  const std::string to_me = item(
      "t1",
      R"({"type":"agent_message","author":"/root","recipient":"/root/worker","content":[{"type":"input_text","text":"Message Type: NEW_TASK\nTask name: tidy\nPayload:\n  Tidy   the docs \n"}]})");
  const std::string from_me = item(
      "t2",
      R"({"type":"agent_message","author":"/root/worker","recipient":"/root","content":[{"type":"input_text","text":" All  tidy. "}]})");
  const std::string other = item(
      "t3",
      R"({"type":"agent_message","author":"/root","recipient":"/root/other","content":[{"type":"input_text","text":"Message Type: NEW_TASK\nPayload:\nx"}]})");
  auto l = read(artifact({to_me, from_me, other}), "/root/worker");
  ASSERT_EQ(l.messages.size(), 2u);
  EXPECT_EQ(l.messages[0].role, "user");
  EXPECT_EQ(l.messages[0].text, "Tidy the docs");
  EXPECT_EQ(l.messages[0].id, std::nullopt);
  EXPECT_EQ(l.messages[1].role, "assistant");
  EXPECT_EQ(l.messages[1].text, "All tidy.");
  EXPECT_EQ(l.messages[1].source, src(2));
}

TEST(CodexEvents, InterAgentMessagesWithoutAgentPath) {
  auto l = read(artifact({
      item(
          "t",
          R"({"type":"agent_message","content":[{"type":"input_text","text":"  Message Type: NEW_TASK\nTask name:  lint it \nPayload:\n  \n"}]})"),
      item(
          "t",
          R"({"type":"agent_message","content":[{"type":"input_text","text":"Message Type: NEW_TASK\nTask name:\nno payload"}]})"),
      item(
          "t",
          R"({"type":"agent_message","content":[{"type":"input_text","text":"Message Type: RESULT\nPayload:\ndone"}]})"),
      item("t", R"({"type":"agent_message","content":[{"type":"output_text","text":"Message Type: NEW_TASK"}]})"),
  }));
  ASSERT_EQ(l.messages.size(), 2u);
  EXPECT_EQ(l.messages[0].role, "user");
  EXPECT_EQ(l.messages[0].text, "lint it");
  EXPECT_EQ(l.messages[0].source, src(1));
  // An empty task name: the whole text, compacted.
  EXPECT_EQ(l.messages[1].text, "Message Type: NEW_TASK Task name: no payload");
}

// ---- tool calls -------------------------------------------------------------

TEST(CodexEvents, FunctionCallsJoinTheirOutputs) {
  auto l = read(artifact({
      item("t1", R"({"type":"function_call","name":"shell","call_id":"c1","arguments":"{\"cmd\":\"ls\"}"})"),
      item("t2", R"({"type":"function_call_output","call_id":"c1","output":"  a.txt\n"})"),
      item("t3", R"({"type":"function_call","call_id":"c2"})"),
      item("t4",
           R"({"type":"function_call_output","call_id":"c2","output":[{"text":"Error"},{"text":"EXIT CODE 127"}]})"),
      item("t5", R"({"type":"function_call_output","call_id":"nope","output":"   "})"),
  }));
  ASSERT_EQ(l.calls.size(), 3u);
  const ToolCall& a = l.calls[0];
  EXPECT_EQ(a.position, 0u);
  EXPECT_EQ(a.name, "shell");
  EXPECT_EQ(a.tool_use_id, "c1");
  EXPECT_EQ(a.input->text, R"({"arguments":"{\"cmd\":\"ls\"}","call_id":"c1","name":"shell","type":"function_call"})");
  EXPECT_EQ(a.result_text, "a.txt");
  EXPECT_FALSE(a.is_error);
  EXPECT_EQ(a.started_at, "t1");
  EXPECT_EQ(a.ended_at, "t2");
  EXPECT_EQ(a.source, src(1));
  // No name: the payload type; exit code 127 contains "exit code 1".
  EXPECT_EQ(l.calls[1].name, "function_call");
  EXPECT_EQ(l.calls[1].result_text, "Error\nEXIT CODE 127");
  EXPECT_TRUE(l.calls[1].is_error);
  // An output without its call: a call of its own, blank output as none.
  const ToolCall& lone = l.calls[2];
  EXPECT_EQ(lone.name, "function_call_output");
  EXPECT_EQ(lone.tool_use_id, "nope");
  EXPECT_EQ(lone.result_text, std::nullopt);
  EXPECT_EQ(lone.started_at, std::nullopt);
  EXPECT_EQ(lone.ended_at, "t5");
  EXPECT_EQ(json::parse_value(lone.input->text)->at("output"), "   ");
  EXPECT_EQ(lone.position, 2u);
}

TEST(CodexEvents, ARepeatedCallIdBelongsToTheNewestCall) {
  auto l = read(artifact({
      item("t1", R"({"type":"function_call","name":"shell","call_id":"c1"})"),
      item("t2", R"({"type":"function_call","name":"shell","call_id":"c1"})"),
      item("t3", R"({"type":"function_call_output","call_id":"c1","output":"second"})"),
  }));
  ASSERT_EQ(l.calls.size(), 2u);
  EXPECT_EQ(l.calls[0].result_text, std::nullopt);
  EXPECT_EQ(l.calls[1].result_text, "second");
}

TEST(CodexEvents, LaterOutputReplacesResultAndErrorFlag) {
  auto l = read(artifact({
      item("t1", R"({"type":"function_call","name":"shell","call_id":"c1"})"),
      item("t2", R"({"type":"function_call_output","call_id":"c1","output":"Permission denied"})"),
      item("t3", R"({"type":"function_call_output","call_id":"c1"})"),
  }));
  ASSERT_EQ(l.calls.size(), 1u);
  EXPECT_EQ(l.calls[0].result_text, std::nullopt);
  EXPECT_FALSE(l.calls[0].is_error);
  EXPECT_EQ(l.calls[0].ended_at, "t3");
  // The output line's source is kept only for custom calls.
  EXPECT_EQ(l.calls[0].source, src(1));
}

// Codex 0.130 on writes "Process exited with code N" in a command's output,
// earlier versions "Exit code: N"; a non-zero N is a failure, 0 is none.
TEST(CodexFailures, ExitStatusLines) {
  struct Case {
    const char* output;
    bool failed;
  };
  const Case cases[] = {
      {"Chunk ID: 9678c6\nWall time: 0.0000 seconds\nProcess exited with code 1\nOutput:\ncat: x: No such file\n",
       true},
      {"Chunk ID: 144e3c\nWall time: 0.0000 seconds\nProcess exited with code 0\nOutput:\nhello\n", false},
      {"Exit code: 2\nWall time: 0.1 seconds\nOutput:\nls: cannot access\n", true},
      {"Exit code: 0\nOutput:\nok\n", false},
      {"  PROCESS EXITED WITH CODE 127  \r\n", true},
      {"exit code: -1", true},
      {"exit code: 00", false},
      {"exit code: 01", true},
      {"Process exited with code 2 after a signal", false},
      {"the process exited with code 3", false},
      {"exit code: ", false},
  };
  for (const Case& c : cases) EXPECT_EQ(codex_exit_status_failed(c.output), c.failed) << c.output;
}

TEST(CodexFailures, OutputsAndEvents) {
  auto out = [](std::string_view ts, std::string_view id, std::string_view output) {
    return item(
        ts, text::concat({R"({"type":"function_call_output","call_id":")", id, R"(","output":")", output, R"("})"}));
  };
  auto call = [](std::string_view ts, std::string_view id) {
    return item(ts, text::concat({R"({"type":"function_call","name":"exec_command","call_id":")", id, R"("})"}));
  };
  auto l = read(artifact({
      call("t1", "ok"),
      out("t2", "ok", R"(Chunk ID: a\nProcess exited with code 0\nOutput:\nhello\n)"),
      call("t3", "old"),
      out("t4", "old", R"(Exit code: 2\nOutput:\nno such file\n)"),
      call("t5", "zero"),
      out("t6", "zero", R"(Exit code: 0\nOutput:\n)"),
      // A failure known only from the event, before the output ...
      call("t7", "ev-before"),
      event("t8", R"({"type":"exec_command_end","call_id":"ev-before","exit_code":1})"),
      out("t9", "ev-before", "no marker in the text"),
      // ... and after it.
      call("t10", "ev-after"),
      out("t11", "ev-after", "no marker either"),
      event("t12", R"({"type":"item_completed","item":{"type":"CommandExecution","id":"ev-after","status":"failed"}})"),
      call("t13", "item-code"),
      event("t14", R"({"type":"item_completed","item":{"type":"CommandExecution","id":"item-code","exit_code":3}})"),
      out("t15", "item-code", "text"),
      // Events that report success change nothing.
      call("t16", "fine"),
      event("t17", R"({"type":"exec_command_end","call_id":"fine","exit_code":0})"),
      event("t18", R"({"type":"item_completed","item":{"id":"fine","status":"completed","exit_code":0}})"),
      out("t19", "fine", "done"),
  }));
  ASSERT_EQ(l.calls.size(), 7u);
  const bool want[] = {false, true, false, true, true, true, false};
  for (std::size_t i = 0; i < 7; ++i) EXPECT_EQ(l.calls[i].is_error, want[i]) << l.calls[i].tool_use_id.value_or("");
  EXPECT_EQ(l.calls[4].tool_use_id, "ev-after");
  EXPECT_EQ(l.calls[5].tool_use_id, "item-code");
  EXPECT_EQ(l.calls[6].tool_use_id, "fine");
  for (const ToolCall& c : l.calls) EXPECT_TRUE(c.ended_at.has_value()) << c.tool_use_id.value_or("");
}

TEST(CodexEvents, RepeatedCustomCallsCollapseToTheLast) {
  // Tool calls of an earlier file stay, and every position is renumbered.
  std::vector<Message> messages;
  std::vector<ToolCall> calls(2);
  calls[0].name = "earlier";
  calls[0].position = 0;
  calls[1].name = "earlier";
  calls[1].position = 1;
  std::vector<TodoItem> todos;
  auto a = artifact({
      item("t1", R"({"type":"custom_tool_call","name":"exec","call_id":"x1","input":"ls"})"),
      item("t2", R"({"type":"custom_tool_call_output","call_id":"x1","output":"one"})"),
      item("t3", R"({"type":"function_call","name":"shell","call_id":"f1"})"),
      item("t4", R"({"type":"custom_tool_call","name":"exec","call_id":"x2","input":"pwd"})"),
      item("t5", R"({"type":"custom_tool_call_output","call_id":"x2","output":"Timed out"})"),
  });
  parse_codex_events(a, std::nullopt, messages, calls, todos);
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[2].name, "shell");
  EXPECT_EQ(calls[2].position, 2u);
  const ToolCall& exec = calls[3];
  EXPECT_EQ(exec.position, 3u);
  EXPECT_EQ(exec.name, "exec");
  EXPECT_EQ(exec.tool_use_id, "x2");
  EXPECT_EQ(exec.input->text, "\"pwd\"");
  EXPECT_EQ(exec.result_text, "Timed out");
  EXPECT_TRUE(exec.is_error);
  EXPECT_EQ(exec.started_at, "t4");
  EXPECT_EQ(exec.ended_at, "t5");
  EXPECT_EQ(exec.source, src(5));
}

TEST(CodexEvents, UnmatchedCustomOutputCountsAsACustomCall) {
  auto l = read(artifact({
      item("t1", R"({"type":"custom_tool_call","name":"apply_patch","call_id":"x1","input":"*** Begin"})"),
      item("t2", R"({"type":"custom_tool_call_output","call_id":"elsewhere","output":"ok"})"),
  }));
  ASSERT_EQ(l.calls.size(), 1u);
  EXPECT_EQ(l.calls[0].name, "function_call_output");
  EXPECT_EQ(l.calls[0].tool_use_id, "elsewhere");
  EXPECT_EQ(l.calls[0].input, std::nullopt);
  EXPECT_EQ(l.calls[0].result_text, "ok");
  EXPECT_EQ(l.calls[0].position, 0u);
  // A single custom call is left alone.
  auto one = read(artifact({item("t1", R"({"type":"custom_tool_call","name":"exec","input":5})")}));
  ASSERT_EQ(one.calls.size(), 1u);
  EXPECT_EQ(one.calls[0].input, std::nullopt);
}

TEST(CodexEvents, NoCollapseInItemCompletedMode) {
  auto l = read(artifact({
      item_completed_event("t", R"({"type":"AgentMessage","content":[{"type":"text","text":"hi"}]})"),
      item("t", R"({"type":"custom_tool_call","name":"exec","call_id":"x1","input":"a"})"),
      item("t", R"({"type":"custom_tool_call","name":"exec","call_id":"x2","input":"b"})"),
  }));
  EXPECT_EQ(l.calls.size(), 2u);
  EXPECT_EQ(l.messages.size(), 1u);
}

TEST(CodexEvents, AbortedTurnIsAToolCall) {
  auto l = read(artifact({event("t9", R"({"type":"turn_aborted","reason":"interrupted"})")}));
  ASSERT_EQ(l.calls.size(), 1u);
  EXPECT_EQ(l.calls[0].name, "turn_aborted");
  EXPECT_EQ(l.calls[0].tool_use_id, std::nullopt);
  EXPECT_EQ(l.calls[0].started_at, "t9");
  EXPECT_EQ(l.calls[0].ended_at, "t9");
  EXPECT_EQ(l.calls[0].input->text, R"({"reason":"interrupted","type":"turn_aborted"})");
}

// ---- plans -------------------------------------------------------------

std::string update_plan(std::string_view ts, std::string_view arguments_json_string) {
  return item(ts, text::concat({R"({"type":"function_call","name":"update_plan","call_id":"p","arguments":)",
                                arguments_json_string, "}"}));
}

TEST(CodexEvents, UpdatePlanStatusesBecomeTodos) {
  std::vector<Message> messages;
  std::vector<ToolCall> calls;
  std::vector<TodoItem> todos(1);
  todos[0].content = "earlier";
  auto a = artifact({
      user_event("t", "go"),
      update_plan(
          "t",
          R"("{\"plan\":[{\"step\":\"a  b\",\"status\":\"pending\",\"id\":\"s1\"},{\"step\":\"c\",\"status\":\"in_progress\",\"id\":3,\"taskId\":\"no\"},{\"step\":\"d\",\"status\":\"blocked\"},{\"step\":\"e\",\"status\":\"completed\",\"task_id\":\"t4\"}]}")"),
  });
  parse_codex_events(a, std::nullopt, messages, calls, todos);
  ASSERT_EQ(todos.size(), 4u);
  EXPECT_EQ(todos[1].position, 1u);
  EXPECT_EQ(todos[1].content, "a b");
  EXPECT_EQ(todos[1].state, "pending");
  EXPECT_EQ(todos[1].id, "s1");
  EXPECT_EQ(todos[1].source, src(2) + ":plan:1");
  EXPECT_EQ(todos[2].state, "current");
  EXPECT_EQ(todos[2].id, std::nullopt);
  EXPECT_EQ(todos[2].source, src(2) + ":plan:2");
  EXPECT_EQ(todos[3].position, 3u);
  EXPECT_EQ(todos[3].state, "done");
  EXPECT_EQ(todos[3].id, "t4");
  EXPECT_EQ(todos[3].source, src(2) + ":plan:4");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].name, "update_plan");
}

TEST(CodexEvents, OnlyTheLastPlanSurvivesAndAUserMessageDropsIt) {
  auto first = update_plan("t", R"("{\"plan\":[{\"step\":\"one\",\"status\":\"pending\"}]}")");
  auto second = update_plan("t", R"("{\"plan\":[{\"step\":\"two\",\"status\":\"completed\"}]}")");
  auto l = read(artifact({first, second}));
  ASSERT_EQ(l.todos.size(), 1u);
  EXPECT_EQ(l.todos[0].content, "two");
  EXPECT_EQ(l.todos[0].position, 0u);
  // Broken arguments leave the plan as it was.
  l = read(artifact({first, update_plan("t", R"("{\"plan\":\"none\"}")"), update_plan("t", R"("not json")"),
                     update_plan("t", R"({"plan":[]})")}));
  ASSERT_EQ(l.todos.size(), 1u);
  EXPECT_EQ(l.todos[0].content, "one");
  // An empty plan clears it.
  l = read(artifact({first, update_plan("t", R"("{\"plan\":[]}")")}));
  EXPECT_TRUE(l.todos.empty());
  // A user message after the plan: no todos from this file.
  l = read(artifact({first, user_event("t", "next")}));
  EXPECT_TRUE(l.todos.empty());
  // So does a new task from the parent, but not an assistant message.
  l = read(artifact({first, agent_event("t", "ok")}));
  EXPECT_EQ(l.todos.size(), 1u);
  l = read(artifact(
      {first,
       item(
           "t",
           R"({"type":"agent_message","content":[{"type":"input_text","text":"Message Type: NEW_TASK\nPayload:\nx"}]})")}));
  EXPECT_TRUE(l.todos.empty());
}

TEST(CodexEvents, PlanFromExecCode) {
  auto l = read(artifact({
      item(
          "t",
          R"({"type":"custom_tool_call","name":"exec","call_id":"x1","input":"await tools.update_plan({plan: [{step: \"Write tests\", status: \"in_progress\"},]});"})"),
      // "exec" only counts as a custom tool call.
      item(
          "t",
          R"x({"type":"function_call","name":"exec","call_id":"f1","input":"tools.update_plan({plan: [{step: \"no\", status: \"pending\"}]})"})x"),
  }));
  ASSERT_EQ(l.todos.size(), 1u);
  EXPECT_EQ(l.todos[0].content, "Write tests");
  EXPECT_EQ(l.todos[0].state, "current");
  EXPECT_EQ(l.todos[0].source, src(1) + ":plan:1");
}

TEST(CodexEvents, MalformedLinesAreSkippedButCounted) {
  auto l = read(artifact({
      "not json",
      "",
      R"({"type":"event_msg","payload":"user_message"})",
      R"({"type":"event_msg"})",
      R"([1,2])",
      R"({"type":"response_item","payload":{"type":"message","role":"user","id":"","content":"x"}})",
      user_event("t", "x"),
  }));
  ASSERT_EQ(l.messages.size(), 1u);
  EXPECT_EQ(l.messages[0].source, src(7));
  EXPECT_EQ(l.messages[0].id, std::nullopt);
}

}  // namespace
}  // namespace tl
