#include "opencode.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../test_runs.hpp"

namespace tl {
namespace {

const std::string kLog1 = "snapshots/s/home/.local/share/opencode/log/2025-01-01.log";
const std::string kLog2 = "snapshots/s/home/.local/share/opencode/log/2025-01-02.log";

using testing::lines_of;

RunArtifacts run_with(std::string terminal, const std::vector<std::pair<std::string, std::string>>& files) {
  return testing::run_with(files, std::move(terminal));
}

OpencodeParser parser() { return OpencodeParser("opencode", "1::17::3", ParserResolution::Exact); }

// The sub-agents hook after `enrich`, as the generic parse calls it.
std::vector<SubAgent> sub_agents_of(const RunArtifacts& run) {
  return parser().sub_agents(run, *testing::enrich(parser(), run).context);
}

struct Terminal {
  std::vector<Message> messages;
  std::vector<ToolCall> calls;
};

Terminal read_terminal(std::string_view text) {
  Terminal t;
  read_opencode_terminal(text, t.messages, t.calls);
  return t;
}

std::string command_of(const ToolCall& c) { return c.input ? c.input->text : "<none>"; }

// ---- the terminal interface ---------------------------------------------------------

TEST(OpencodeTerminal, PanelEdgesAndDurationsAreCutAway) {
  auto t = read_terminal(lines_of({
      "\xE2\x94\x83  # I will list the files.",
      "\xE2\x94\x82 $ ls -la    1.2s",
  }));
  ASSERT_EQ(t.messages.size(), 1u);
  EXPECT_EQ(t.messages[0].role, "assistant");
  EXPECT_EQ(t.messages[0].text, "I will list the files.");
  EXPECT_EQ(t.messages[0].source, "terminal.log:1");
  EXPECT_EQ(t.messages[0].timestamp, std::nullopt);
  ASSERT_EQ(t.calls.size(), 1u);
  EXPECT_EQ(t.calls[0].name, "bash");
  EXPECT_EQ(command_of(t.calls[0]), R"({"command":"ls -la"})");
  EXPECT_EQ(t.calls[0].source, "terminal.log:2");
  EXPECT_EQ(t.calls[0].result_text, std::nullopt);
  EXPECT_FALSE(t.calls[0].is_error);
}

TEST(OpencodeTerminal, OutputRunsAcrossMessagesUntilTheNextCommand) {
  auto t = read_terminal(lines_of({
      "$ make",
      "gcc -c a.c",
      "  gcc -o app a.o",
      "# Build finished.",
      "   linked ok",
      "Run the app.",
      "$ ./app",
      "hello",
  }));
  ASSERT_EQ(t.calls.size(), 2u);
  EXPECT_EQ(t.calls[0].result_text, "gcc -c a.c gcc -o app a.o linked ok");
  EXPECT_EQ(t.calls[0].position, 0u);
  EXPECT_EQ(t.calls[1].result_text, "hello");  // flushed at the end of the text
  EXPECT_EQ(t.calls[1].position, 1u);
  EXPECT_EQ(t.calls[1].source, "terminal.log:7");
  ASSERT_EQ(t.messages.size(), 2u);
  EXPECT_EQ(t.messages[0].text, "Build finished.");
  EXPECT_EQ(t.messages[0].source, "terminal.log:4");
  EXPECT_EQ(t.messages[1].role, "user");
  EXPECT_EQ(t.messages[1].text, "Run the app.");
  EXPECT_EQ(t.messages[1].position, 1u);
}

TEST(OpencodeTerminal, AnInterruptedCommandFailsAndEndsItsOutput) {
  auto t = read_terminal(lines_of({
      "interrupted before anything",
      "$ sleep 100",
      "zzz",
      "^C interrupted",
      "stray output",
      "$ echo hi",
      "hi",
  }));
  ASSERT_EQ(t.calls.size(), 2u);
  EXPECT_TRUE(t.calls[0].is_error);
  EXPECT_EQ(t.calls[0].result_text, "zzz");
  EXPECT_FALSE(t.calls[1].is_error);
  EXPECT_EQ(t.calls[1].result_text, "hi");
  EXPECT_TRUE(t.messages.empty());
}

TEST(OpencodeTerminal, SkippedLinesLeaveTheStateAlone) {
  const std::string deep22(22, ' ');
  const std::string deep21(21, ' ');
  const std::string deep20(20, ' ');
  auto t = read_terminal(lines_of({
      "$ run",
      "\xE2\x94\x83\xE2\x94\x83\xE2\x94\x82  ",
      "\xE2\x94\x83" + deep22 + "deep",
      "\xE2\x95\xB9\xE2\x96\x80\xE2\x96\x80",
      "Context 12% used",
      "$0.02 spent",
      "out",
      "\xE2\x94\x82" + deep21 + "x",
      "\xE2\x94\x82" + deep20 + "y",
      deep22 + "z",
      "",
  }));
  ASSERT_EQ(t.calls.size(), 1u);
  // Deep indentation counts only after the panel edge: "z" is kept.
  EXPECT_EQ(t.calls[0].result_text, "out y z");
}

TEST(OpencodeTerminal, OtherLinesNeedAnOpenCommand) {
  auto t = read_terminal(lines_of({
      "Run tests",
      "plain words",
      "#no space",
      "Run all the tests.    3s",
      "\xE2\x94\x83 # \xE2\x80\x83 padded   reply",
  }));
  EXPECT_TRUE(t.calls.empty());
  ASSERT_EQ(t.messages.size(), 2u);
  EXPECT_EQ(t.messages[0].text, "Run all the tests.");
  EXPECT_EQ(t.messages[0].source, "terminal.log:4");
  EXPECT_EQ(t.messages[1].text, "padded reply");
}

TEST(OpencodeTerminal, FlushNeedsPendingLinesAnOpenCommandAndAValidIndex) {
  std::vector<ToolCall> calls(1);
  calls[0].result_text = "kept";
  std::vector<std::string_view> pending;
  flush_opencode_output(calls, true, 0, pending);
  EXPECT_EQ(calls[0].result_text, "kept");

  pending = {"a  b", "c"};
  flush_opencode_output(calls, false, 0, pending);
  EXPECT_EQ(calls[0].result_text, "kept");
  EXPECT_TRUE(pending.empty());

  pending = {"a"};
  flush_opencode_output(calls, true, 1, pending);
  EXPECT_TRUE(pending.empty());

  pending = {"a  b", "c"};
  flush_opencode_output(calls, true, 0, pending);
  EXPECT_EQ(calls[0].result_text, "a b c");
  EXPECT_TRUE(pending.empty());
}

// ---- runtime logs -------------------------------------------------------------------

TEST(OpencodeRuntimeLogs, OnlyLogFilesOfOpencodeDirectories) {
  auto run = run_with("", {{"screens/opencode.log", "x"},
                           {"snapshots/s/home/.LOCAL/share/OpenCode/x.log", "x"},
                           {"snapshots/s/home/.config/opencode/debug.LOG", "x"},
                           {"snapshots/s/home/.local/share/opencode/log/a.log.gz", "x"},
                           {kLog1, "x"},
                           {"snapshots/s/home/.local/share/opencode/storage/session/a.jsonl", "x"}});
  auto logs = opencode_runtime_logs(run);
  ASSERT_EQ(logs.size(), 3u);
  EXPECT_EQ(logs[0]->path, "snapshots/s/home/.LOCAL/share/OpenCode/x.log");
  EXPECT_EQ(logs[1]->path, "snapshots/s/home/.config/opencode/debug.LOG");
  EXPECT_EQ(logs[2]->path, kLog1);
}

TEST(OpencodeRuntimeLogs, CancellationsAndAbortsBecomeCalls) {
  TextArtifact log{kLog1, lines_of({
                              "INFO  2025 service=session message=cancel id=1",
                              "ERROR service=bash error=Aborted",
                              "message=cancel at the start",
                              "INFO message=cancel and error=Aborted",
                              "plain line",
                              "x error=AbortedByUser",
                              "xmessage=cancel y",
                          })};
  std::vector<ToolCall> calls(1);
  read_opencode_runtime_log(log, calls);
  ASSERT_EQ(calls.size(), 5u);
  EXPECT_EQ(calls[1].name, "cancel");
  EXPECT_FALSE(calls[1].is_error);
  EXPECT_EQ(command_of(calls[1]), R"({"log":"INFO 2025 service=session message=cancel id=1"})");
  EXPECT_EQ(calls[1].source, kLog1 + ":1");
  EXPECT_EQ(calls[1].position, 1u);
  EXPECT_EQ(calls[2].name, "process_error");
  EXPECT_TRUE(calls[2].is_error);
  EXPECT_EQ(calls[2].source, kLog1 + ":2");
  EXPECT_EQ(calls[3].name, "cancel");
  EXPECT_TRUE(calls[3].is_error);
  EXPECT_EQ(calls[3].source, kLog1 + ":4");
  EXPECT_EQ(calls[4].name, "process_error");
  EXPECT_EQ(calls[4].source, kLog1 + ":6");
}

TEST(OpencodeRuntimeLogs, TheLogTextIsCompactedTo500Characters) {
  TextArtifact log{kLog1, " error=Aborted " + std::string(600, 'q')};
  std::vector<ToolCall> calls;
  read_opencode_runtime_log(log, calls);
  ASSERT_EQ(calls.size(), 1u);
  std::string expected = "error=Aborted " + std::string(486, 'q') + "\xE2\x80\xA6";
  EXPECT_EQ(json::parse_value(calls[0].input->text)->at("log").get<std::string>(), expected);
}

// ---- agent events and sub-agents ----------------------------------------------------------

TEST(OpencodeAgents, AgentEventWords) {
  EXPECT_TRUE(contains_opencode_agent_event("subagent started"));
  EXPECT_TRUE(contains_opencode_agent_event("level=INFO agent_finished id=3"));
  EXPECT_TRUE(contains_opencode_agent_event("Agent CREATED"));
  EXPECT_TRUE(contains_opencode_agent_event("spawn:agent"));
  EXPECT_TRUE(
      contains_opencode_agent_event("agent\xE2\x86\x92"
                                    "completed"));
  EXPECT_FALSE(contains_opencode_agent_event("agents started"));
  EXPECT_FALSE(contains_opencode_agent_event("agent restarted"));
  EXPECT_FALSE(contains_opencode_agent_event("subagent"));
  EXPECT_FALSE(contains_opencode_agent_event("started finished"));
  EXPECT_FALSE(contains_opencode_agent_event("agentstarted"));
  EXPECT_FALSE(contains_opencode_agent_event(""));
}

TEST(OpencodeAgents, TheLatestLogWithAnEventIsTheSource) {
  auto run = run_with("", {{kLog1, lines_of({"boot", "subagent started", "agent finished"})},
                           {kLog2, lines_of({"agents started", "nothing"})}});
  auto agents = sub_agents_of(run);
  ASSERT_EQ(agents.size(), 1u);
  EXPECT_EQ(agents[0].id, "opencode-agent-log");
  EXPECT_EQ(agents[0].title, "OpenCode agent log evidence");
  EXPECT_EQ(agents[0].prompt, "Detected from OpenCode session artifacts.");
  EXPECT_EQ(agents[0].state, ActivityState::Finished);
  EXPECT_EQ(agents[0].source, kLog1);

  auto both = run_with("", {{kLog1, "agent started\n"}, {kLog2, "agent_finished\n"}});
  both.metadata["subAgentsObserved"] = true;
  agents = sub_agents_of(both);
  ASSERT_EQ(agents.size(), 2u);
  EXPECT_EQ(agents[0].id, "opencode-observed");
  EXPECT_EQ(agents[1].source, kLog2);

  EXPECT_TRUE(sub_agents_of(run_with("subagent started", {})).empty());
}

TEST(OpencodeAgents, NoSecondRecordForTheSameLog) {
  TextArtifact log{kLog1, "agent spawned\n"};
  std::vector<SubAgent> agents(1);
  agents[0].source = kLog1;
  append_opencode_log_agent(agents, {&log});
  EXPECT_EQ(agents.size(), 1u);
  agents[0].source = kLog1 + ":1";
  append_opencode_log_agent(agents, {&log});
  EXPECT_EQ(agents.size(), 2u);
}

// ---- enrich -------------------------------------------------------------------------------

TEST(OpencodeEnrich, TranscriptsReplaceTheTerminalButLogsStillCount) {
  const std::string transcript = "snapshots/s/home/.local/share/opencode/storage/session/a.jsonl";
  auto run = run_with(
      lines_of({"$ ls", "Run it."}),
      {{kLog1, "INFO message=cancel \n"},
       {transcript,
        lines_of(
            {R"({"role":"assistant","content":[{"type":"tool_use","id":"t","name":"bash","input":{"command":"ls"}}]})",
             R"({"role":"user","content":"hello"})"})}});
  testing::Lists lists = testing::enrich(parser(), run).lists;
  const auto& messages = lists.messages;
  const auto& calls = lists.calls;
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, "hello");
  EXPECT_EQ(messages[0].source, transcript + ":2");
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].tool_use_id, "t");
  EXPECT_EQ(calls[1].name, "cancel");
  EXPECT_EQ(calls[1].position, 1u);
  EXPECT_EQ(calls[1].source, kLog1 + ":1");
  EXPECT_TRUE(lists.todos.empty());

  // Without transcripts the terminal is read, before the logs.
  run.texts.pop_back();
  lists = testing::enrich(parser(), run).lists;
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].name, "bash");
  EXPECT_EQ(calls[0].result_text, std::nullopt);
  EXPECT_EQ(calls[1].name, "cancel");
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, "Run it.");
  EXPECT_EQ(messages[0].source, "terminal.log:2");
}

TEST(OpencodeEnrich, TheStoreComesAfterTranscriptsAndItsDatabaseMessagesKeepTheTerminalUnread) {
  const std::string db = "snapshots/s/home/.local/share/opencode/opencode.db";
  const std::string transcript = "snapshots/s/home/.local/share/opencode/sessions/s.jsonl";
  auto database = [&](bool with_message) {
    SqliteRows sessions{4,
                        {std::string("ses_root"), std::monostate{}, std::string("Root"), std::int64_t{1},
                         std::string("ses_kid"), std::string("ses_root"), std::string("Kid"), std::int64_t{2}}};
    SqliteRows messages{4, {}};
    if (with_message) {
      messages.values = {std::string("msg_1"), std::string("ses_kid"), std::int64_t{3},
                         std::string(R"({"role":"user"})")};
    }
    SqliteRows parts{3, {std::string("prt_1"), std::string("msg_1"), std::string(R"({"type":"text","text":"look"})")}};
    return DatabaseArtifact{db, {sessions, messages, parts, SqliteRows{4, {}}}};
  };
  auto run = run_with(lines_of({"Run it."}),
                      {{kLog1, "INFO message=cancel \n"}, {transcript, R"({"role":"user","content":"first"})"}});
  run.databases.push_back(database(true));
  testing::Enriched e = testing::enrich(parser(), run);
  ASSERT_EQ(e.lists.messages.size(), 2u);
  EXPECT_EQ(e.lists.messages[0].source, transcript + ":1");
  EXPECT_EQ(e.lists.messages[1].text, "look");
  EXPECT_EQ(e.lists.messages[1].source, db + "/ses_kid:1");
  ASSERT_EQ(e.lists.calls.size(), 1u);
  EXPECT_EQ(e.lists.calls[0].name, "cancel");
  // The later hooks take the store's title and sub-agents from the context.
  EXPECT_EQ(parser().title(run, *e.context), "Root");
  std::vector<SubAgent> agents = parser().sub_agents(run, *e.context);
  ASSERT_EQ(agents.size(), 1u);
  EXPECT_EQ(agents[0].id, "ses_kid");
  EXPECT_EQ(agents[0].prompt, "look");
  EXPECT_EQ(agents[0].state, ActivityState::Running);
  EXPECT_EQ(parser().title(run, *parser().new_context()), std::nullopt);

  // Without a transcript, a database that yields no message leaves the
  // terminal to be read; one that yields a message does not.
  run.texts.pop_back();
  e = testing::enrich(parser(), run);
  ASSERT_EQ(e.lists.messages.size(), 1u);
  EXPECT_EQ(e.lists.messages[0].source, db + "/ses_kid:1");
  run.databases[0] = database(false);
  e = testing::enrich(parser(), run);
  ASSERT_EQ(e.lists.messages.size(), 1u);
  EXPECT_EQ(e.lists.messages[0].source, "terminal.log:1");
  EXPECT_EQ(parser().title(run, *e.context), "Root");

  // A store file keeps the terminal unread even when it yields nothing.
  run.texts.push_back({"snapshots/s/home/.local/share/opencode/storage/part/msg_9/prt_9.json", R"({"type":"text"})"});
  e = testing::enrich(parser(), run);
  EXPECT_TRUE(e.lists.messages.empty());
}

}  // namespace
}  // namespace tl
