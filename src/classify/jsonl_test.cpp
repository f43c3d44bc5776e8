#include <gtest/gtest.h>

#include "jsonl.hpp"
#include "transcript_text.hpp"

namespace tl {
namespace {

struct Read {
  std::vector<Message> messages;
  std::vector<ToolCall> calls;
  std::vector<TodoItem> todos;
};

Read read(const std::string& text, const std::string& path = "s.jsonl") {
  Read r;
  parse_jsonl_messages(TextArtifact{path, text}, r.messages, r.calls, r.todos);
  return r;
}

TEST(TextOps, JsonText) {
  json::DocParser p;
  auto text = [&](std::string_view v) { return json_text(*p.parse(v)); };
  EXPECT_EQ(text("\"\""), "");
  EXPECT_EQ(
      text(
          "[\"a\",{\"text\":\"b\"},{\"content\":\"c\"},{\"thinking\":\"d\"},{\"x\":1},{\"text\":1,\"content\":\"e\"}]"),
      "a\nb\nc\nd\ne");
  EXPECT_EQ(text("[{\"type\":\"text\",\"text\":\"\"}]"), std::nullopt);
  EXPECT_EQ(text("[]"), std::nullopt);
  EXPECT_EQ(text("{\"text\":\"x\"}"), std::nullopt);
  EXPECT_EQ(text("[\"\",\"a\"]"), "\na");
  EXPECT_EQ(json_text_truncated(*p.parse("[{\"text\":\"  hi  \"}]"), 800), "hi");
  EXPECT_EQ(json_text_truncated(*p.parse("\"\""), 800), "");
  EXPECT_EQ(json_text_truncated(*p.parse("[{\"text\":\"\"}]"), 800), std::nullopt);
}

TEST(TextOps, StripTagBlocks) {
  EXPECT_EQ(strip_tag_blocks("a<system-reminder>x</system-reminder>b", "system-reminder"), "ab");
  EXPECT_EQ(strip_tag_blocks("a<system-reminder\nattr>x</system-reminder>b<system-reminder>y</system-reminder>",
                             "system-reminder"),
            "ab");
  // A longer tag name is not a block.
  EXPECT_EQ(strip_tag_blocks("<system-reminders>x</system-reminder>", "system-reminder"),
            "<system-reminders>x</system-reminder>");
  // Unclosed: the rest is kept, opening tag included.
  EXPECT_EQ(strip_tag_blocks("a<t>b</t>c<t>d", "t"), "ac<t>d");
  // An opening match at the very end does not count.
  EXPECT_EQ(strip_tag_blocks("x<t", "t"), "x<t");
}

TEST(TextOps, SlashCommandPrompt) {
  EXPECT_EQ(slash_command_prompt("  <command-name>/review</command-name><command-args> src </command-args>"),
            "/review src");
  EXPECT_EQ(slash_command_prompt("<command-name>model</command-name><command-args></command-args>"), "/model");
  EXPECT_EQ(slash_command_prompt("<command-name> </command-name>"), std::nullopt);
  EXPECT_EQ(slash_command_prompt("<command-name>/x"), std::nullopt);
  EXPECT_EQ(slash_command_prompt("</command-name><command-name>/a</command-name>"), "/a");
}

TEST(TextOps, SourceLocation) {
  using Loc = std::optional<std::pair<std::string_view, std::uint64_t>>;
  EXPECT_EQ(source_location("a/b.jsonl:12"), Loc(std::make_pair(std::string_view("a/b.jsonl"), 12u)));
  EXPECT_EQ(source_location("s.jsonl:7:TodoWrite:2"), Loc(std::make_pair(std::string_view("s.jsonl"), 7u)));
  EXPECT_EQ(source_location("s.jsonl:7:plan:x"), Loc(std::make_pair(std::string_view("s.jsonl"), 7u)));
  EXPECT_EQ(source_location("s.jsonl:+9"), Loc(std::make_pair(std::string_view("s.jsonl"), 9u)));
  EXPECT_EQ(source_location("s.jsonl:3:1"), Loc(std::make_pair(std::string_view("s.jsonl:3"), 1u)));
  EXPECT_EQ(source_location("metadata.json"), std::nullopt);
  EXPECT_EQ(source_location("s.jsonl:x"), std::nullopt);
  EXPECT_EQ(source_location("s.jsonl:+"), std::nullopt);
  EXPECT_EQ(source_location("s.jsonl:"), std::nullopt);
  EXPECT_EQ(source_location("TodoWrite:2"), Loc(std::make_pair(std::string_view("TodoWrite"), 2u)));
  EXPECT_EQ(source_location("s:99999999999999999999"), std::nullopt);
}

TEST(UserMessageCleaning, DropsWhatIsNotARealPrompt) {
  Read r = read(
      R"({"type":"user","message":{"role":"user","content":"  keep me  "},"uuid":"u1","timestamp":"T1"})"
      "\n"
      R"({"type":"user","isMeta":true,"message":{"role":"user","content":"meta"}})"
      "\n"
      R"({"type":"user","isCompactSummary":true,"message":{"role":"user","content":"summary"}})"
      "\n"
      R"({"type":"user","origin":{"kind":"agent"},"message":{"role":"user","content":"from agent"}})"
      "\n"
      R"({"type":"user","turnOrigin":"human","message":{"role":"user","content":"  <command-name>/review</command-name><command-args>src</command-args>"}})"
      "\n"
      R"({"type":"user","message":{"role":"user","content":"<command-name>/review</command-name>"}})"
      "\n"
      R"({"type":"user","message":{"role":"user","content":"<task-notification>done</task-notification>"}})"
      "\n"
      R"({"type":"user","message":{"role":"user","content":"<system-reminder>only</system-reminder>"}})"
      "\n"
      R"({"type":"user","message":{"role":"user","content":"ask <system-reminder>hidden</system-reminder> this"}})"
      "\n"
      R"({"type":"user","uuid":"","message":{"role":"user","content":[{"type":"text","text":"from blocks"}]}})"
      "\n"
      R"({"type":"user","origin":{"kind":"human"},"message":{"role":"user","content":"human origin"}})"
      "\n");
  ASSERT_EQ(r.messages.size(), 5u);
  EXPECT_EQ(r.messages[0].text, "keep me");
  EXPECT_EQ(r.messages[0].id, "u1");
  EXPECT_EQ(r.messages[0].timestamp, "T1");
  EXPECT_EQ(r.messages[0].source, "s.jsonl:1");
  EXPECT_EQ(r.messages[1].text, "/review src");
  EXPECT_EQ(r.messages[1].source, "s.jsonl:5");
  EXPECT_EQ(r.messages[2].text, "ask this");
  EXPECT_EQ(r.messages[3].text, "from blocks");
  EXPECT_FALSE(r.messages[3].id);
  EXPECT_EQ(r.messages[4].text, "human origin");
  for (std::size_t i = 0; i < r.messages.size(); ++i) EXPECT_EQ(r.messages[i].position, i);
}

TEST(JsonlLines, RolesTimestampsAndSkippedLines) {
  Read r = read(
      "not json\n"
      "\n"
      R"({"type":"api-request-log","role":"assistant","content":"- [ ] hidden"})"
      "\n"
      R"({"role":"system","text":"sys","created_at":"C"})"
      "\n"
      R"({"role":"assistant","content":"a   b","timestamp":5,"created_at":"C"})"
      "\n"
      R"({"role":{"x":1},"message":{"role":"assistant","content":"no role"}})"
      "\n"
      R"({"msg":{"role":"assistant","content":"via msg"}})"
      "\n"
      R"({"role":"developer","content":"other role"})"
      "\n"
      "{\"role\":\"assistant\",\"content\":\"" +
      std::string(900, 'x') + "\"}\n");
  ASSERT_EQ(r.messages.size(), 4u);
  EXPECT_EQ(r.messages[0].role, "system");
  EXPECT_EQ(r.messages[0].source, "s.jsonl:4");
  EXPECT_EQ(r.messages[0].timestamp, "C");
  EXPECT_EQ(r.messages[1].text, "a b");
  EXPECT_FALSE(r.messages[1].timestamp);  // "timestamp" is present, so "created_at" is not read
  EXPECT_EQ(r.messages[2].text, "via msg");
  EXPECT_EQ(r.messages[2].source, "s.jsonl:7");
  EXPECT_EQ(r.messages[3].text, std::string(800, 'x') + "\xE2\x80\xA6");
  EXPECT_TRUE(r.todos.empty());  // the api-request line is not scanned for checklists
}

TEST(BlockWalk, CallsCompletedByResultsInTheSameFile) {
  Read r = read(
      R"({"type":"assistant","timestamp":"T1","message":{"role":"assistant","content":[{"type":"text","text":"running"},{"type":"tool_use","id":"t1","name":"Bash","input":{"command":"ls","b":[2,1]}}]}})"
      "\n"
      R"({"type":"user","timestamp":"T2","message":{"role":"user","content":[{"type":"tool_result","tool_use_id":"t1","content":"file.txt"}]}})"
      "\n"
      R"({"type":"assistant","timestamp":"T3","message":{"role":"assistant","content":[{"type":"tool_use","id":"t2","name":"Read","input":{}}]}})"
      "\n"
      R"({"type":"user","timestamp":"T4","message":{"role":"user","content":[{"type":"tool_result","tool_use_id":"t2","is_error":true,"content":[{"type":"text","text":"  boom  "}]}]}})"
      "\n"
      R"({"type":"user","timestamp":"T5","message":{"role":"user","content":[{"type":"tool_result","tool_use_id":"zz","content":"orphan"}]}})"
      "\n");
  ASSERT_EQ(r.messages.size(), 1u);
  EXPECT_EQ(r.messages[0].text, "running");
  ASSERT_EQ(r.calls.size(), 3u);
  const ToolCall& bash = r.calls[0];
  EXPECT_EQ(bash.name, "Bash");
  EXPECT_EQ(bash.tool_use_id, "t1");
  EXPECT_EQ(bash.input->text, "{\"b\":[2,1],\"command\":\"ls\"}");
  EXPECT_EQ(bash.result_text, "file.txt");
  EXPECT_FALSE(bash.is_error);
  EXPECT_EQ(bash.started_at, "T1");
  EXPECT_EQ(bash.ended_at, "T2");
  EXPECT_EQ(bash.source, "s.jsonl:1");
  // The result block reports its own failure; its text is given as a list of
  // blocks, which the block stands for.
  EXPECT_TRUE(r.calls[1].is_error);
  EXPECT_EQ(r.calls[1].result_text, "boom");
  EXPECT_EQ(r.calls[1].ended_at, "T4");
  const ToolCall& lone = r.calls[2];
  EXPECT_EQ(lone.name, "toolResult");
  EXPECT_EQ(lone.tool_use_id, "zz");
  EXPECT_EQ(lone.result_text, "orphan");
  EXPECT_FALSE(lone.started_at);
  EXPECT_EQ(lone.ended_at, "T5");
  EXPECT_EQ(lone.position, 2u);
}

// A result given as a list of blocks (the Agent tool, image reads, MCP tools)
// keeps the texts of its text blocks; a list without text gives none.
TEST(BlockWalk, ResultsGivenAsBlockLists) {
  Read r = read(
      R"({"message":{"role":"user","content":[{"type":"tool_result","tool_use_id":"a","content":[{"type":"text","text":"found it"},{"type":"image","source":{"type":"base64","data":"AAAA"}},{"type":"text","text":"agentId: x1"}]}]}})"
      "\n"
      R"({"message":{"role":"user","content":[{"type":"tool_result","tool_use_id":"b","content":[{"type":"image","source":{}}]}]}})"
      "\n"
      R"({"message":{"role":"user","content":[{"type":"tool_result","tool_use_id":"c","content":[]},{"type":"tool_result","tool_use_id":"d","content":"plain"}]}})"
      "\n");
  ASSERT_EQ(r.calls.size(), 4u);
  EXPECT_EQ(r.calls[0].result_text, "found it\nagentId: x1");
  EXPECT_FALSE(r.calls[1].result_text);
  // The whole line's list: the empty list stands for nothing, the string for itself.
  EXPECT_EQ(r.calls[2].result_text, "plain");
  EXPECT_EQ(r.calls[3].result_text, "plain");
}

TEST(BlockWalk, MessageIsErrorTakesPrecedenceOverTheBlock) {
  Read r = read(
      R"({"message":{"role":"assistant","content":[{"type":"toolCall","toolCallId":"c1","name":"edit","arguments":null}]}})"
      "\n"
      R"({"message":{"role":"toolResult","toolCallId":"c1","toolName":"edit","isError":false,"content":[{"type":"tool_result","is_error":true,"text":"ok"}]}})"
      "\n"
      R"({"message":{"role":"toolResult","toolCallId":"c9","toolName":"grep","isError":true,"content":[{"type":"text","text":"x"},{"type":"text","text":"y"}]}})"
      "\n");
  ASSERT_EQ(r.calls.size(), 3u);
  EXPECT_EQ(r.calls[0].name, "edit");
  ASSERT_TRUE(r.calls[0].input);
  EXPECT_EQ(r.calls[0].input->text, "null");
  EXPECT_FALSE(r.calls[0].is_error);
  EXPECT_EQ(r.calls[0].result_text, "ok");
  // A toolResult message with two text blocks: the first creates a lone
  // call (not indexed), so the second creates another one.
  EXPECT_EQ(r.calls[1].name, "grep");
  EXPECT_EQ(r.calls[1].result_text, "x\ny");
  EXPECT_TRUE(r.calls[1].is_error);
  EXPECT_EQ(r.calls[2].name, "grep");
  // The tool messages themselves are messages with role "tool".
  ASSERT_EQ(r.messages.size(), 2u);
  EXPECT_EQ(r.messages[0].role, "tool");
  EXPECT_EQ(r.messages[1].text, "x y");
}

TEST(BlockWalk, TopLevelToolResultRoleWithoutMessageObject) {
  Read r = read(R"({"role":"toolResult","toolCallId":"c1","content":[{"type":"text","text":"out"}]})"
                "\n");
  ASSERT_EQ(r.messages.size(), 1u);
  EXPECT_EQ(r.messages[0].role, "tool");
  ASSERT_EQ(r.calls.size(), 1u);
  EXPECT_EQ(r.calls[0].name, "toolResult");
  EXPECT_FALSE(r.calls[0].tool_use_id);
  EXPECT_EQ(r.calls[0].result_text, "out");
}

TEST(BlockWalk, ResultsDoNotCrossFilesAndLaterIdsWin) {
  std::vector<Message> messages;
  std::vector<ToolCall> calls;
  std::vector<TodoItem> todos;
  parse_jsonl_messages(
      TextArtifact{
          "a.jsonl",
          R"({"message":{"role":"assistant","content":[{"type":"tool_use","id":"t","name":"A"},{"type":"tool_use","id":"t","name":"B"}]}})"
          "\n"
          R"({"message":{"role":"user","content":[{"type":"tool_result","tool_use_id":"t","content":"r1"}]}})"},
      messages, calls, todos);
  parse_jsonl_messages(
      TextArtifact{
          "b.jsonl",
          R"({"message":{"role":"user","content":[{"type":"tool_result","tool_use_id":"t","content":"r2"}]}})"},
      messages, calls, todos);
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_FALSE(calls[0].result_text);
  EXPECT_EQ(calls[1].result_text, "r1");
  EXPECT_EQ(calls[2].name, "toolResult");
  EXPECT_EQ(calls[2].source, "b.jsonl:1");
  EXPECT_EQ(calls[2].position, 2u);
}

TEST(SingleLineTools, RecordsAndFreeTextTodos) {
  Read r = read(
      R"({"tool":"bash","id":"x1","input":{"cmd":"make"},"output":["built"],"is_error":"yes","error":true,"timestamp":"T"})"
      "\n"
      R"({"name":"grep","toolUseId":"x2","error":true})"
      "\n"
      R"({"tool":{"name":"nested"},"result":null})"
      "\n"
      R"({"role":"assistant","content":"- [x] shipped"})"
      "\n");
  ASSERT_EQ(r.calls.size(), 3u);
  EXPECT_EQ(r.calls[0].name, "bash");
  EXPECT_EQ(r.calls[0].tool_use_id, "x1");
  EXPECT_EQ(r.calls[0].result_text, "built");
  EXPECT_FALSE(r.calls[0].is_error);  // "is_error" is present and decides, but is not a boolean
  EXPECT_EQ(r.calls[0].started_at, "T");
  EXPECT_EQ(r.calls[0].ended_at, "T");
  EXPECT_EQ(r.calls[1].name, "grep");
  EXPECT_EQ(r.calls[1].tool_use_id, "x2");
  EXPECT_TRUE(r.calls[1].is_error);
  EXPECT_FALSE(r.calls[1].ended_at);
  EXPECT_EQ(r.calls[2].name, "nested");
  EXPECT_FALSE(r.calls[2].result_text);
  EXPECT_FALSE(r.calls[2].input);
  // The raw JSON line starts with "{", so it holds no checklist line.
  EXPECT_TRUE(r.todos.empty());
  Read plain = read("- [x] plain line in a jsonl file\n");
  ASSERT_EQ(plain.todos.size(), 0u);  // an unparsable line is skipped entirely
}

TEST(SingleLineTools, TodoWriteInputsAndChecklistInsideAString) {
  Read r = read(
      R"({"message":{"role":"assistant","content":[{"type":"tool_use","id":"w","name":"TodoWrite","input":{"todos":[{"content":"a","status":"pending"},{"content":"b","status":"completed"}]}}]}})"
      "\n"
      "\"- [ ] a JSON string line\"\n");
  ASSERT_EQ(r.todos.size(), 2u);
  EXPECT_EQ(r.todos[0].source, "s.jsonl:1:1");
  EXPECT_EQ(r.todos[1].state, "done");
  EXPECT_EQ(r.todos[1].source, "s.jsonl:1:2");
}

}  // namespace
}  // namespace tl
