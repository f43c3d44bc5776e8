#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "activity.hpp"
#include "common.hpp"
#include "turns.hpp"

namespace tl {
namespace {

Message msg(std::uint64_t pos, std::string role, std::string source, std::string text = "t") {
  Message m;
  m.position = pos;
  m.role = std::move(role);
  m.text = std::move(text);
  m.source = std::move(source);
  return m;
}

ToolCall call_at(std::uint64_t pos, std::string source) {
  ToolCall c;
  c.position = pos;
  c.name = std::string(1, 'x');
  c.source = std::move(source);
  return c;
}

TEST(UserTurns, GroupingByPositionAndByFileLine) {
  std::vector<Message> messages = {
      msg(0, "assistant", "a.jsonl:1"),  // before the first user message
      msg(1, "user", "a.jsonl:2", "first"),  msg(2, "assistant", "a.jsonl:3"),
      msg(3, "user", "b.jsonl:5", "second"), msg(4, "user", "b.jsonl:5", "third"),  // same line: highest turn wins
      msg(5, "assistant", "b.jsonl:9"),
  };
  std::vector<ToolCall> calls = {
      call_at(0, "a.jsonl:1"),  // before the first user line of its file
      call_at(1, "a.jsonl:2"), call_at(2, "a.jsonl:40"),
      call_at(3, "b.jsonl:6"), call_at(4, "c.jsonl:99"),  // a file without user messages
      call_at(5, "no-line"),
  };
  std::vector<TodoItem> todos = {
      {0, std::nullopt, "a", "pending", "b.jsonl:7:TodoWrite:1"},
      {1, std::nullopt, "b", "pending", "a.jsonl:3:2"},  // a line source plus an item number
  };
  auto turns = group_user_turns(messages, calls, todos, ActivityState::Running);
  ASSERT_EQ(turns.size(), 3u);
  EXPECT_EQ(turns[0].prompt, "first");
  EXPECT_EQ(turns[0].start_message_position, 1u);
  EXPECT_EQ(turns[0].state, ActivityState::Finished);
  EXPECT_EQ(turns[0].message_positions, (std::vector<std::uint64_t>{1, 2}));
  EXPECT_EQ(turns[0].tool_call_positions, (std::vector<std::uint64_t>{1, 2}));
  EXPECT_EQ(turns[1].message_positions, (std::vector<std::uint64_t>{3}));
  EXPECT_TRUE(turns[1].tool_call_positions.empty());
  EXPECT_EQ(turns[2].position, 2u);
  EXPECT_EQ(turns[2].state, ActivityState::Running);
  EXPECT_EQ(turns[2].message_positions, (std::vector<std::uint64_t>{4, 5}));
  EXPECT_EQ(turns[2].tool_call_positions, (std::vector<std::uint64_t>{3}));
  EXPECT_EQ(turns[2].todo_positions, (std::vector<std::uint64_t>{0}));
  EXPECT_TRUE(turns[0].todo_positions.empty());
  EXPECT_TRUE(group_user_turns({msg(0, "assistant", "a:1")}, calls, todos, ActivityState::Running).empty());
}

RunArtifacts run_of(std::string terminal, std::vector<TextArtifact> texts = {}, std::string manifest = "{}") {
  RunArtifacts run;
  run.terminal = std::move(terminal);
  run.texts = std::move(texts);
  run.metadata = json::Value::parse(manifest);
  return run;
}

TEST(CommonPipeline, TerminalTranscriptMode) {
  RunArtifacts run = run_of(
      "> fix the   build\n"
      "Thinking...\n"
      "I'll update the config\n"
      "Done already\n"
      "\n"
      "User: capitalised prefix stays\n"
      "\xE2\x9D\xAF\xE2\x9D\xAF second\n"
      "bash(make) FAILED\n"
      "$ ls\n"
      "Do you want to proceed?\n"
      "- [ ] write docs\n"
      "Error: exploded\n");
  CommonParse c = common_parse(run, "gemini");
  ASSERT_EQ(c.messages.size(), 4u);
  EXPECT_EQ(c.messages[0].role, "user");
  EXPECT_EQ(c.messages[0].text, "fix the build");
  EXPECT_EQ(c.messages[0].source, "terminal.log:1");
  EXPECT_FALSE(c.messages[0].timestamp);
  EXPECT_EQ(c.messages[1].role, "assistant");
  EXPECT_EQ(c.messages[1].source, "terminal.log:3");
  EXPECT_EQ(c.messages[2].text, "User: capitalised prefix stays");
  EXPECT_EQ(c.messages[3].text, "second");
  ASSERT_EQ(c.tool_calls.size(), 2u);
  EXPECT_EQ(c.tool_calls[0].name, "bash(make) FAILED");
  EXPECT_TRUE(c.tool_calls[0].is_error);
  EXPECT_EQ(c.tool_calls[1].name, "$ ls");
  EXPECT_FALSE(c.tool_calls[1].is_error);
  ASSERT_EQ(c.approvals.size(), 1u);
  EXPECT_EQ(c.approvals[0].source, "terminal.log:10");
  EXPECT_EQ(c.approvals[0].state, "waiting_or_recent");
  ASSERT_EQ(c.todos.size(), 1u);
  EXPECT_EQ(c.todos[0].source, "terminal.log:11");
  ASSERT_EQ(c.tool_errors.size(), 1u);
  EXPECT_EQ(c.tool_errors[0].source, "terminal.log:12");
  // The evidence alone, as for a family without logs of its own, decides the
  // activity and the turns.
  Activity activity = classify_activity(run, c.messages, c.approvals, c.tool_errors, c.tool_calls);
  EXPECT_EQ(activity.state, ActivityState::NeedsApproval);
  std::vector<UserTurn> turns = group_user_turns(c.messages, c.tool_calls, c.todos, activity.state);
  ASSERT_EQ(turns.size(), 3u);
  EXPECT_EQ(turns[2].tool_call_positions, (std::vector<std::uint64_t>{0, 1}));
  EXPECT_EQ(turns[2].todo_positions, (std::vector<std::uint64_t>{0}));
  EXPECT_EQ(turns[2].state, ActivityState::NeedsApproval);
}

TEST(CommonPipeline, OwnTranscriptTurnsTerminalModeOff) {
  RunArtifacts run = run_of("> hello\nbash(ls)\nPermission required\nerror: x\n",
                            {TextArtifact{"snapshots/s/home/.claude/projects/p/a.jsonl", "{}\n"}});
  CommonParse c = common_parse(run, "claude");
  EXPECT_TRUE(c.messages.empty());
  EXPECT_TRUE(c.tool_calls.empty());
  EXPECT_EQ(c.approvals.size(), 1u);
  EXPECT_EQ(c.tool_errors.size(), 1u);
  // OpenCode never reads messages from the terminal.
  CommonParse o = common_parse(run_of("> hello\n"), "opencode");
  EXPECT_TRUE(o.messages.empty());
}

TEST(CommonPipeline, WhichArtifactsAreScanned) {
  const std::string evidence = "- [ ] from {P}\nerror: in {P}\n";
  auto art = [&](std::string path) {
    std::string t = evidence;
    for (std::size_t at; (at = t.find("{P}")) != std::string::npos;) t.replace(at, 3, path);
    return TextArtifact{path, t};
  };
  RunArtifacts run = run_of(
      "", {art("screens/001.txt"), art("live/x.txt"), art("snapshots/a/screens/2.txt"),
           art("snapshots/a/home/.codex/log.txt"), art("snapshots/a/home/.claude/x.txt"),
           art("snapshots/a/node_modules/screens/y.txt"), art("metadata.json"), art("snapshots/a/work/notes.txt")});
  CommonParse c = common_parse(run, "codex");
  std::vector<std::string> sources;
  for (const auto& t : c.todos) sources.push_back(t.source);
  EXPECT_EQ(sources, (std::vector<std::string>{"screens/001.txt:1", "live/x.txt:1", "snapshots/a/screens/2.txt:1",
                                               "snapshots/a/home/.codex/log.txt:1"}));
  EXPECT_EQ(c.tool_errors.size(), 4u);
  // An unregistered family scans the files of every harness.
  CommonParse any = common_parse(run, "mystery");
  EXPECT_EQ(any.todos.size(), 5u);
}

// Program sources in a harness home (pi's TypeScript extensions, hooks,
// plugins) are not read for checklists or tool errors; the same text in a
// Markdown file is, and screens and live captures are whatever they are named.
TEST(CommonPipeline, SourceCodeInAHarnessHomeIsNotScanned) {
  std::vector<TextArtifact> texts;
  for (std::string path : {"snapshots/a/home/.pi/agent/extensions/todo.ts", "snapshots/a/home/.pi/agent/EXT.TSX",
                           "snapshots/a/home/.pi/agent/hooks/run.sh", "snapshots/a/home/.pi/agent/tool.py",
                           "snapshots/a/home/.pi/agent/lib.mjs", "snapshots/a/home/.pi/agent/notes.md",
                           "screens/capture.ts", "live/pane.js"}) {
    texts.push_back(TextArtifact{path, "interface Todo {\n\tdone: boolean; // " + path + "\n}\n- [ ] task in " + path +
                                           "\nerror: `#${id} not found` in " + path + "\n"});
  }
  CommonParse c = common_parse(run_of("", std::move(texts)), "pi");
  std::vector<std::string> sources;
  for (const auto& t : c.todos) sources.push_back(t.source);
  EXPECT_EQ(sources, (std::vector<std::string>{"snapshots/a/home/.pi/agent/notes.md:2",
                                               "snapshots/a/home/.pi/agent/notes.md:4", "screens/capture.ts:2",
                                               "screens/capture.ts:4", "live/pane.js:2", "live/pane.js:4"}));
  EXPECT_EQ(c.todos[0].content, "boolean; // snapshots/a/home/.pi/agent/notes.md");
  std::vector<std::string> errors;
  for (const auto& e : c.tool_errors) errors.push_back(e.source);
  EXPECT_EQ(errors, (std::vector<std::string>{"snapshots/a/home/.pi/agent/notes.md:5", "screens/capture.ts:5",
                                              "live/pane.js:5"}));
}

TEST(CommonPipeline, ScreenCaptureFeedsTheActivity) {
  RunArtifacts run = run_of("", {TextArtifact{"screens/001.txt", "[x] compile\nError: link failed\n"}});
  CommonParse c = common_parse(run, "pi");
  ASSERT_EQ(c.todos.size(), 1u);
  EXPECT_EQ(c.todos[0].state, "done");
  Activity activity = classify_activity(run, c.messages, c.approvals, c.tool_errors, c.tool_calls);
  EXPECT_EQ(activity.state, ActivityState::Failed);
  EXPECT_EQ(activity.source, "screens/001.txt:2");
  // Approvals come from the terminal capture alone.
  RunArtifacts asks = run_of("", {TextArtifact{"screens/001.txt", "Do you want to proceed?\n"}});
  EXPECT_TRUE(common_parse(asks, "pi").approvals.empty());
}

TEST(CommonPipeline, ToolErrorReduction) {
  std::string terminal;
  for (int i = 0; i < 25; ++i) terminal += "error: case " + std::to_string(i) + "\n";
  CommonParse c = common_parse(run_of(terminal), "pi");
  ASSERT_EQ(c.tool_errors.size(), 20u);
  EXPECT_EQ(c.tool_errors[19].position, 19u);
  EXPECT_EQ(c.tool_errors[19].text, "error: case 19");
  CommonParse dup = common_parse(run_of("Error: Same\nother\nerror: same\nerror: new\n"), "pi");
  ASSERT_EQ(dup.tool_errors.size(), 2u);
  EXPECT_EQ(dup.tool_errors[0].text, "error: same");
  EXPECT_EQ(dup.tool_errors[0].source, "terminal.log:3");
  EXPECT_EQ(dup.tool_errors[0].position, 0u);
  EXPECT_EQ(dup.tool_errors[1].position, 1u);
}

// A text's scans stop once the run's lists are full, but only after that
// text's first finding: 120 checklist lines and 60 error lines in one
// screen, then one of each in the next.
TEST(CommonPipeline, ScanLimitsHoldAcrossTexts) {
  std::string first;
  for (int i = 1; i <= 60; ++i) first += "- [ ] step " + std::to_string(i) + "\nerror: disk full\n";
  for (int i = 61; i <= 120; ++i) first += "- [ ] step " + std::to_string(i) + "\n";
  CommonParse c = common_parse(run_of("", {TextArtifact{"screens/a.txt", first},
                                           TextArtifact{"screens/b.txt", "- [x] last\nerror: no network\n"}}),
                               "pi");
  ASSERT_EQ(c.todos.size(), 101u);
  EXPECT_EQ(c.todos[99].content, "step 100");
  EXPECT_EQ(c.todos[100].content, "last");
  EXPECT_EQ(c.todos[100].source, "screens/b.txt:1");
  // Fifty "disk full" lines (the last on line 100), then b's first error.
  ASSERT_EQ(c.tool_errors.size(), 2u);
  EXPECT_EQ(c.tool_errors[0].source, "screens/a.txt:100");
  EXPECT_EQ(c.tool_errors[1].source, "screens/b.txt:2");
}

// A log that the harness's reader reads to its end is scanned as it is read
// and not read again; one read only in part is read again, whole.
TEST(CommonPipeline, TextsScannedAlongTheHarnessReading) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("evidence-scan-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  auto log_file = [&](const std::string& name, const std::string& text) {
    std::ofstream((dir / name).string(), std::ios::binary) << text;
    TextArtifact t;
    t.path = "snapshots/s/home/.claude/projects/p/" + name;
    t.file = (dir / name).string();
    return t;
  };
  std::string long_log;
  for (int i = 0; i < 400; ++i)
    long_log += "{\"n\":" + std::to_string(i) + ",\"pad\":\"" + std::string(40, 'x') + "\"}\n";
  long_log += "- [ ] from the read log\nerror: from the read log\n";
  RunArtifacts run = run_of("", {log_file("a.jsonl", long_log), log_file("b.jsonl", "- [ ] from the cut log\n"),
                                 TextArtifact{"screens/s.txt", "error: on screen\n"}});
  const CommonParse whole = common_parse(run, "claude");
  ASSERT_EQ(whole.todos.size(), 2u);
  ASSERT_EQ(whole.tool_errors.size(), 2u);

  EvidenceScan scan(run, "claude");
  LogReader reader{{}, &scan};
  int pieces = 0;
  for_each_log_piece(
      run, run.texts[0], reader, [&](const TextArtifact&, std::uint64_t) { return ++pieces > 0; }, 1000);
  EXPECT_GT(pieces, 1);
  for_each_log_piece(run, run.texts[1], reader, [](const TextArtifact&, std::uint64_t) { return false; });
  std::filesystem::remove(dir / "a.jsonl");  // scanned already: not read again
  CommonParse watched;
  add_text_evidence(run, "claude", scan, watched);
  ASSERT_EQ(watched.todos.size(), 2u);
  ASSERT_EQ(watched.tool_errors.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(watched.todos[i].content, whole.todos[i].content);
    EXPECT_EQ(watched.todos[i].source, whole.todos[i].source);
    EXPECT_EQ(watched.tool_errors[i].source, whole.tool_errors[i].source);
  }
  EXPECT_EQ(watched.todos[0].source, "snapshots/s/home/.claude/projects/p/a.jsonl:401");
  EXPECT_EQ(watched.todos[1].source, "snapshots/s/home/.claude/projects/p/b.jsonl:1");
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tl
