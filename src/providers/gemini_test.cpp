#include "gemini.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <string>
#include <vector>

#include "../test_runs.hpp"

namespace tl {
namespace {

using testing::lines_of;
using testing::run_with;

const std::string kChat = "s/home/.gemini/tmp/p/chats/session-1.jsonl";

GeminiChat chat_of(const std::string& text, const std::string& path = kChat) {
  TextArtifact t{path, text};
  json::pad(t.text);
  return read_gemini_chat(t);
}

std::vector<std::string> texts(const GeminiChat& c) {
  std::vector<std::string> out;
  for (const Message& m : c.messages) out.push_back(m.role + ":" + m.text + "@" + m.source.substr(kChat.size()));
  return out;
}

std::vector<std::string> calls(const GeminiChat& c) {
  std::vector<std::string> out;
  for (const ToolCall& t : c.tool_calls) {
    out.push_back(t.tool_use_id.value_or("-") + " " + t.name + " " + t.result_text.value_or("<none>") +
                  (t.is_error ? " (error)" : "") + "@" + t.source.substr(kChat.size()));
  }
  return out;
}

// ---- replaying the records -------------------------------------------------

TEST(GeminiReplay, RecordsAreReplacedInPlaceRewoundAndReplacedWhole) {
  GeminiChat c = chat_of(lines_of({
      R"({"sessionId":"s1","projectHash":"h","kind":"main"})",
      R"({"id":"u1","type":"user","content":"first"})",
      R"({"id":"g1","type":"gemini","content":"draft"})",
      R"({"$set":{"lastUpdated":"later"}})",
      R"({"id":"g1","type":"gemini","content":"final answer"})",  // replaces g1 in its place
      R"({"id":"u2","type":"user","content":"second"})",
      R"({"id":"g2","type":"gemini","content":"gone"})",
      R"({"$rewindTo":"u2"})",  // u2 and everything after it
      R"({"$rewindTo":7})",     // not a string: skipped
      R"({"type":"user","content":"no id"})",
      R"(["not","an","object"])",
      "not json at all",
      R"({"sessionId":"s1","projectHash":"h","kind":"main","messages":[{"id":"x","type":"user","content":"ignored"}]})",
      R"({"id":"u3","type":"user","content":"third"})",
      R"({"id":"u4","type":"user","content":"cut o)",
  }));
  EXPECT_EQ(texts(c), (std::vector<std::string>{"user:first@:2", "assistant:final answer@:5", "user:third@:14"}))
      << "the order is that of first appearance";
  EXPECT_EQ(c.session_id, "s1");
  EXPECT_EQ(c.kind, "main");
  EXPECT_EQ(c.header_line, 1u);
}

TEST(GeminiReplay, SetMessagesReplacesTheListAndAnUnknownRewindClearsIt) {
  GeminiChat c = chat_of(lines_of({
      R"({"sessionId":"s1","projectHash":"h"})",
      R"({"id":"u1","type":"user","content":"before"})",
      R"({"$set":{"messages":[{"id":"c","type":"user","content":[{"text":"<session_context>\nctx"}]},{"type":"user","content":"no id"},{"id":"u2","type":"user","content":"listed"}],"sessionId":"s2"}})",
      R"({"id":"g1","type":"gemini","content":"after"})",
  }));
  EXPECT_EQ(texts(c), (std::vector<std::string>{"user:listed@:3", "assistant:after@:4"}));
  EXPECT_EQ(c.session_id, "s2");

  GeminiChat cleared = chat_of(lines_of({
      R"({"id":"u1","type":"user","content":"a"})",
      R"({"$rewindTo":"nope"})",
      R"({"id":"u2","type":"user","content":"b"})",
  }));
  EXPECT_EQ(texts(cleared), (std::vector<std::string>{"user:b@:3"}));
}

// ---- messages and tool calls ---------------------------------------------------

TEST(GeminiRecords, MessagesOfEachType) {
  GeminiChat c = chat_of(lines_of({
      R"({"id":"u1","timestamp":"T1","type":"user","content":[{"text":"Fix "},{"text":"the bug"}]})",
      R"({"id":"r1","type":"user","content":[{"functionResponse":{"id":"x","name":"ls","response":{"output":"a"}}}]})",
      R"({"id":"g1","timestamp":"T2","type":"gemini","content":[{"text":"thinking","thought":true},{"text":"Done."}],"thoughts":[{"description":"not text"}]})",
      R"({"id":"g2","type":"gemini","content":"","toolCalls":[]})",
      R"({"id":"i1","type":"info","content":"Request cancelled."})",
      R"({"id":"e1","type":"error","content":"boom"})",
      R"({"id":"w1","type":"warning","content":"careful"})",
  }));
  EXPECT_EQ(texts(c), (std::vector<std::string>{"user:Fix the bug@:1", "assistant:Done.@:3"}));
  EXPECT_EQ(c.messages[0].id, "u1");
  EXPECT_EQ(c.messages[0].timestamp, "T1");
  EXPECT_EQ(c.messages[1].position, 1u);
  EXPECT_EQ(c.first_user_text, "Fix the bug");
}

TEST(GeminiRecords, ToolCallItems) {
  const std::string long_output(900, 'o');
  GeminiChat c = chat_of(lines_of({
      R"({"id":"g1","type":"gemini","content":"","toolCalls":[)"
      R"({"id":"a","name":"run_shell_command","args":{"command":"git push"},"status":"error","timestamp":"T1","result":[{"functionResponse":{"id":"a","response":{"output":"Exit Code: 128"}}}],"resultDisplay":"rejected"},)"
      R"({"id":"b","name":"read_file","args":{},"status":"error","result":[{"functionResponse":{"id":"b","response":{"error":"File not found"}}}]},)"
      R"({"id":"c","name":"glob","status":"success","result":[],"resultDisplay":"3 files"},)"
      R"({"id":"d","name":"web_fetch","status":"cancelled","resultDisplay":{"todos":[]}},)"
      R"({"id":"e","name":"read_many_files","status":"success","result":[{"functionResponse":{"id":"e","response":{"output":")" +
          long_output + R"("}}}]}]})",
  }));
  EXPECT_EQ(calls(c), (std::vector<std::string>{"a run_shell_command Exit Code: 128 (error)@:1",
                                                "b read_file File not found (error)@:1", "c glob 3 files@:1",
                                                "d web_fetch <none>@:1",
                                                "e read_many_files " + std::string(800, 'o') + "\xE2\x80\xA6@:1"}));
  EXPECT_EQ(c.tool_calls[0].input->text, R"({"command":"git push"})");
  EXPECT_EQ(c.tool_calls[0].started_at, "T1");
  EXPECT_FALSE(c.tool_calls[2].input);
  EXPECT_TRUE(c.messages.empty());
}

// A resumed chat's history holds its calls only as functionCall parts and each
// response twice; calls that kept their toolCalls item are not doubled.
TEST(GeminiRecords, CallsOfAResumedHistory) {
  GeminiChat c = chat_of(lines_of({
      R"({"sessionId":"s1","projectHash":"h"})",
      R"({"id":"g0","type":"gemini","content":"","toolCalls":[{"id":"old","name":"ls","status":"success","result":[{"functionResponse":{"id":"old","response":{"output":"a.txt"}}}]}]})",
      R"({"$set":{"messages":[)"
      R"({"id":"u1","type":"user","content":[{"text":"list and read"}]},)"
      R"({"id":"g1","type":"gemini","content":[{"text":"Reading.","thought":false},{"functionCall":{"id":"f1","name":"ls","args":{"dir":"."}}},{"functionCall":{"id":"f2","name":"read_file","args":{}}},{"functionCall":{"name":"no_id"}}]},)"
      R"({"id":"r1","type":"user","content":[{"functionResponse":{"id":"f1","response":{"output":"a.txt"}}},{"functionResponse":{"id":"f2","response":{"error":"denied"}}}]},)"
      R"({"id":"r1_response","type":"user","content":[{"functionResponse":{"id":"f1","response":{"output":"changed"}}}]},)"
      R"({"id":"g2","type":"gemini","content":[{"functionCall":{"id":"k","name":"ls"}}],"toolCalls":[{"id":"k","name":"ls","status":"success"}]})"
      R"(]}})",
      R"({"id":"u2","type":"user","content":"next"})",
  }));
  EXPECT_EQ(texts(c), (std::vector<std::string>{"user:list and read@:3", "assistant:Reading.@:3", "user:next@:4"}));
  EXPECT_EQ(calls(c), (std::vector<std::string>{"f1 ls a.txt@:3", "f2 read_file denied (error)@:3", "- no_id <none>@:3",
                                                "k ls <none>@:3"}));
  EXPECT_EQ(c.tool_calls[0].input->text, R"({"dir":"."})");
}

TEST(GeminiRecords, OnlyTheLastTodoListCounts) {
  GeminiChat c = chat_of(lines_of({
      R"({"id":"g1","type":"gemini","content":"","toolCalls":[{"id":"t1","name":"write_todos","args":{"todos":[{"description":"Old task","status":"pending"}]}}]})",
      R"({"id":"g2","type":"gemini","content":"","toolCalls":[{"id":"t2","name":"write_todos","args":{"todos":[{"description":"Write code","status":"completed"},{"description":"Old task","status":"cancelled"},{"description":"Test it","status":"in_progress"},{"description":"Ship","status":"pending"}]}}]})",
  }));
  ASSERT_TRUE(c.todos);
  std::vector<std::string> got;
  for (const TodoItem& t : *c.todos) got.push_back(t.content + "/" + t.state + "@" + t.source.substr(kChat.size()));
  EXPECT_EQ(got, (std::vector<std::string>{"Write code/done@:2:TodoWrite:1", "Test it/current@:2:TodoWrite:3",
                                           "Ship/pending@:2:TodoWrite:4"}));
}

// ---- chats written as one object -----------------------------------------------

TEST(GeminiObject, MessagesCarryTheLineTheirObjectStartsOn) {
  const std::string chat =
      "{\n"
      "  \"sessionId\": \"s-old\",\n"
      "  \"kind\": \"main\",\n"
      "  \"messages\": [\n"
      "    {\n"
      "      \"id\": \"m1\", \"type\": \"user\", \"content\": \"Run it \\\"now\\\" {please}\"\n"
      "    },\n"
      "    {\"id\": \"m2\", \"type\": \"gemini\", \"content\": \"ok\"},\n"
      "    {\n"
      "      \"id\": \"m3\", \"type\": \"gemini\", \"content\": \"cut o";
  GeminiChat c = chat_of(chat, "s/home/.gemini/tmp/p/chats/session-1.json");
  std::vector<std::string> got;
  for (const Message& m : c.messages) got.push_back(m.text + "@" + m.source.substr(m.source.rfind(':')));
  EXPECT_EQ(got, (std::vector<std::string>{"Run it \"now\" {please}@:5", "ok@:8"}));
  EXPECT_EQ(c.session_id, "s-old");
  EXPECT_EQ(c.header_line, 1u);
}

// A chat written as one object, longer than the reading window, is read from
// its file once, whole, and watched once; read without the run's test it is
// read again whole after its first window. Either way it is the chat that
// its text gives.
TEST(GeminiObject, AChatWrittenAsOneObjectIsReadWholeOnce) {
  struct Seen : LogWatcher {
    std::string text;
    int pieces = 0;
    void begin(const TextArtifact&) override {}
    void piece(const TextArtifact& piece, std::uint64_t) override {
      text += piece.text;
      ++pieces;
    }
    void line(std::uint64_t, std::string_view, const json::Element*) override { ADD_FAILURE() << "no lines here"; }
    void end(bool) override {}
  };
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("gemini-object-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::string chat = "{\n  \"sessionId\": \"big\",\n  \"messages\": [\n";
  for (int i = 0; i < 6000; ++i) {
    chat += "    {\"id\": \"m" + std::to_string(i) + "\", \"type\": \"user\", \"content\": \"" + std::string(400, 'w') +
            "\"},\n";
  }
  chat += "    {\"id\": \"last\", \"type\": \"user\", \"content\": \"the last prompt\"},\n";
  chat +=
      "    {\"id\": \"g\", \"type\": \"gemini\", \"model\": \"m\", \"tokens\": {\"input\": 5, \"output\": 7}}\n  "
      "]\n}\n";
  ASSERT_GT(chat.size(), kLogWindow);
  const std::string file = (dir / "session-1.json").string();
  std::ofstream(file, std::ios::binary) << chat;
  TextArtifact log;
  log.path = "s/home/.gemini/tmp/p/chats/session-1.json";
  log.file = file;
  const GeminiChat expected = chat_of(chat, log.path);
  ASSERT_EQ(expected.messages.size(), 6001u);
  RunArtifacts prepared = GeminiParser("gemini", "0::61::0", ParserResolution::Exact).prepare_artifacts(run_with({}));
  for (const RunArtifacts& run : {prepared, run_with({})}) {
    Seen seen;
    LogReader logs{{}, &seen};
    GeminiUsageReader usage;
    const GeminiChat c = read_gemini_log(run, log, logs, &usage);
    EXPECT_EQ(c.session_id, expected.session_id);
    ASSERT_EQ(c.messages.size(), expected.messages.size());
    EXPECT_EQ(c.messages[6000].text, "the last prompt");
    EXPECT_EQ(c.messages[6000].source, expected.messages[6000].source);
    // The usage is read from the same reading: a chat written whole places
    // its responses on its first line.
    const UsageReading reading = usage.finish({});
    ASSERT_EQ(reading.responses.size(), 1u);
    EXPECT_EQ(reading.responses[0].tokens.output, 7u);
    EXPECT_EQ(reading.responses[0].source, log.path + ":1");
    if (run.needs_whole_log != nullptr) {
      EXPECT_EQ(seen.pieces, 1);
      EXPECT_EQ(seen.text.size(), chat.size());
    }
  }
  std::filesystem::remove_all(dir);
}

TEST(GeminiObject, AMigratedChatIsReadOnceAndMainChatsComeFirst) {
  const std::string dir = "s/home/.gemini/tmp/p/chats/";
  RunArtifacts run = run_with({
      {dir + "abc/agent.jsonl",
       lines_of({R"({"sessionId":"agent","kind":"subagent"})", R"({"id":"a","type":"user","content":"sub"})"})},
      {dir + "session-1.json", R"({"sessionId":"abc","messages":[{"id":"m","type":"user","content":"hi"}]})"},
      {dir + "session-1.jsonl",
       lines_of({R"({"sessionId":"abc","projectHash":"h"})", R"({"id":"m","type":"user","content":"hi"})"})},
  });
  LogReader logs;
  std::vector<GeminiChat> chats = read_gemini_chats(run, logs);
  ASSERT_EQ(chats.size(), 2u);
  EXPECT_EQ(chats[0].path, dir + "session-1.jsonl");
  EXPECT_EQ(chats[1].path, dir + "abc/agent.jsonl");
  std::vector<Message> messages;
  std::vector<ToolCall> tool_calls;
  std::vector<TodoItem> todos;
  append_gemini_records(chats, messages, tool_calls, todos);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[1].text, "sub");
  EXPECT_EQ(messages[1].position, 1u);
}

// ---- sub-agents -----------------------------------------------------------------

TEST(GeminiSubAgents, ChatsMatchTheirLaunchingCalls) {
  const std::string dir = "s/home/.gemini/tmp/p/chats/";
  RunArtifacts run = run_with({
      // Matched by agentId; matched by folder and prompt (the resumed parent
      // lost agentId); launched by nothing known.
      {dir + "p1/a1.jsonl", lines_of({R"({"sessionId":"a1","kind":"subagent"})",
                                      R"({"id":"x","type":"user","content":[{"text":"list files"}]})"})},
      {dir + "p1/a2.jsonl",
       lines_of({R"({"sessionId":"a2","kind":"subagent"})", R"({"id":"x","type":"user","content":"  check tests "})"})},
      {dir + "p2/a3.jsonl", lines_of({"", R"({"sessionId":"a3","kind":"subagent"})"})},
      {dir + "session-1.jsonl",
       lines_of({
           R"({"sessionId":"p1","projectHash":"h"})",
           R"({"id":"g1","type":"gemini","content":"","toolCalls":[{"id":"i1","name":"invoke_agent","agentId":"a1","status":"error","args":{"agent_name":"generalist","prompt":"list files"}}]})",
           R"({"id":"g2","type":"gemini","content":[{"functionCall":{"id":"i2","name":"invoke_agent","args":{"agent_name":"tester","prompt":"check tests"}}}]})",
           R"({"id":"r2","type":"user","content":[{"functionResponse":{"id":"i2","response":{"output":"ok"}}}]})",
           R"({"id":"g3","type":"gemini","content":"","toolCalls":[{"id":"i3","name":"invoke_agent","status":"cancelled","args":{"prompt":"never started"}}]})",
           R"({"id":"g4","type":"gemini","content":"","toolCalls":[{"id":"d1","name":"codebase_investigator","description":"Delegating to agent 'codebase_investigator'","status":"executing","args":{"request":"map the code"}}]})",
       })},
  });
  LogReader logs;
  std::vector<GeminiChat> chats = read_gemini_chats(run, logs);
  std::vector<SubAgent> agents = gemini_sub_agents(chats);
  std::vector<std::string> got;
  for (const SubAgent& a : agents) {
    got.push_back(a.id + "|" + a.title + "|" + a.prompt + "|" + std::string(to_string(a.state)) + "|" +
                  a.source.substr(dir.size()));
  }
  EXPECT_EQ(got, (std::vector<std::string>{
                     "a1|generalist|list files|failed|session-1.jsonl:2",
                     "a2|tester|  check tests |finished|session-1.jsonl:3",
                     "a3|Sub-agent||running|p2/a3.jsonl:2",
                     "i3|Sub-agent|never started|cancelled|session-1.jsonl:5",
                     "d1|codebase_investigator|map the code|running|session-1.jsonl:6",
                 }));
}

TEST(GeminiSubAgents, EachLaunchIsClaimedOnceInChatOrder) {
  const std::string dir = "s/home/.gemini/tmp/p/chats/";
  auto sub = [](const std::string& id, const std::string& prompt) {
    return lines_of({R"({"sessionId":")" + id + R"(","kind":"subagent"})",
                     R"({"id":"x","type":"user","content":")" + prompt + R"("})"});
  };
  auto launch = [](const std::string& call, const std::string& agent, const std::string& prompt) {
    return R"({"id":"g)" + call + R"(","type":"gemini","content":"","toolCalls":[{"id":")" + call +
           R"(","name":"invoke_agent",)" + (agent.empty() ? "" : R"("agentId":")" + agent + R"(",)") +
           R"("args":{"agent_name":"n","prompt":")" + prompt + R"("}}]})";
  };
  RunArtifacts run = run_with({
      // a1 takes the first launch with its prompt, though that launch names
      // a2; a2 then finds its own launch claimed and takes the next one with
      // the prompt; a3 has the same prompt but no launch is left for it; a4
      // is claimed by its id.
      {dir + "p1/a1.jsonl", sub("a1", "same")},
      {dir + "p1/a2.jsonl", sub("a2", "same")},
      {dir + "p1/a3.jsonl", sub("a3", " same ")},
      {dir + "p1/a4.jsonl", sub("a4", "other")},
      {dir + "p2/a5.jsonl", sub("a5", "same")},  // another session's launches are not its own
      {dir + "session-1.jsonl", lines_of({R"({"sessionId":"p1","projectHash":"h"})", launch("l1", "a2", "same"),
                                          launch("l2", "", "same"), launch("l3", "a4", "other")})},
  });
  LogReader logs;
  std::vector<GeminiChat> chats = read_gemini_chats(run, logs);
  std::vector<std::string> got;
  for (const SubAgent& a : gemini_sub_agents(chats)) got.push_back(a.id + "|" + a.source.substr(dir.size()));
  EXPECT_EQ(got, (std::vector<std::string>{"a1|session-1.jsonl:2", "a2|session-1.jsonl:3", "a3|p1/a3.jsonl:1",
                                           "a4|session-1.jsonl:4", "a5|p2/a5.jsonl:1"}));
}

TEST(GeminiSubAgents, NoneFallsBackToTheManifest) {
  RunArtifacts run = run_with({});
  run.metadata["subAgentsObserved"] = true;
  GeminiParser parser("gemini", "family", ParserResolution::FamilyFallback);
  testing::Enriched e = testing::enrich(parser, run);
  std::vector<SubAgent> agents = parser.sub_agents(run, *e.context);
  ASSERT_EQ(agents.size(), 1u);
  EXPECT_EQ(agents[0].id, "gemini-observed");
}

}  // namespace
}  // namespace tl
