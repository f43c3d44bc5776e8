#include "codex.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <tuple>

#include "../classify/jsonl.hpp"
#include "../model_detail.hpp"
#include "../test_runs.hpp"
#include "../text.hpp"
#include "codex_events.hpp"

namespace tl {
namespace {

constexpr std::string_view kMain = "snapshots/s/home/.codex/sessions/2026/01/01/rollout-main.jsonl";
constexpr std::string_view kSub = "snapshots/s/home/.codex/sessions/2026/01/01/rollout-sub.jsonl";

std::string record(std::string_view ts, std::string_view type, std::string_view payload) {
  return text::concat({R"({"timestamp":")", ts, R"(","type":")", type, R"(","payload":)", payload, "}"});
}
std::string event(std::string_view ts, std::string_view payload) { return record(ts, "event_msg", payload); }
std::string user_event(std::string_view ts, std::string_view message) {
  return event(ts, text::concat({R"({"type":"user_message","message":")", message, R"("})"}));
}
std::string session(std::string_view payload) { return record("t0", "session_meta", payload); }
const std::string kSubSession =
    session(R"({"id":"sub","source":{"subagent":{"thread_spawn":{"agent_path":" /root/worker "}}}})");
const std::string kTrigger = record("t", "inter_agent_communication_metadata", R"({"trigger_turn":true})");

std::string join(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& l : lines) out += l + "\n";
  return out;
}

TextArtifact text_artifact(std::string_view path, std::string text) {
  TextArtifact a{std::string(path), std::move(text)};
  json::pad(a.text);
  return a;
}

RunArtifacts run_of(std::vector<TextArtifact> texts) {
  RunArtifacts run;
  run.texts = std::move(texts);
  return run;
}

CodexParser make() { return CodexParser("codex", "0::155::0", ParserResolution::Exact); }

std::vector<std::string> lines_of(std::string_view text) {
  std::vector<std::string> out;
  text::LineReader r(text);
  std::string_view l;
  while (r.next(l)) out.emplace_back(l);
  return out;
}

using testing::Lists;

Lists enrich(const CodexParser& p, const RunArtifacts& run) { return testing::enrich(p, run).lists; }

// The snapshots hook after `enrich`, as the generic parse calls it.
json::Value snapshots_of(const RunArtifacts& run) {
  return make().snapshots(run, *testing::enrich(make(), run).context);
}

template <typename T>
std::string dump(const std::vector<T>& items) {
  std::string out;
  for (const auto& item : items) {
    out += detail::record_json(item);
    out += "\n";
  }
  return out;
}

// ---- sub-agent context cut ---------------------------------------------------

TEST(CodexPrepare, SubAgentLogIsBlankedUpToTheTrigger) {
  std::vector<std::string> lines{kSubSession};
  for (int i = 2; i <= 40; ++i) lines.push_back(user_event("t", "parent context " + std::to_string(i)));
  lines.push_back(kTrigger);
  lines.push_back(user_event("t42", "the real task"));
  RunArtifacts run = make().prepare_artifacts(run_of({text_artifact(kSub, join(lines))}));
  auto after = lines_of(run.texts[0].text);
  ASSERT_EQ(after.size(), 42u);
  EXPECT_EQ(after[0], kSubSession);
  for (std::size_t i = 1; i < 41; ++i) EXPECT_EQ(after[i], "") << "line " << i + 1;
  EXPECT_EQ(after[41], lines[41]);
  EXPECT_EQ(run.texts[0].path, kSub);

  Lists l = enrich(make(), run);
  ASSERT_EQ(l.messages.size(), 1u);
  EXPECT_EQ(l.messages[0].text, "the real task");
  EXPECT_EQ(l.messages[0].source, text::source_of(kSub, 42));
}

TEST(CodexPrepare, SessionRecordMovesToLineOne) {
  // The session record on line 3 (after an unparsable marked line), the
  // trigger on line 5 with trailing whitespace, the file without a final
  // line feed and with CRLF line ends.
  std::string text = "junk\r\n\"session_meta\" broken\r\n" + kSubSession + "\r\n" + user_event("t", "x") + "\r\n" +
                     kTrigger + " \t\r\n" + user_event("t", "after");
  RunArtifacts run = make().prepare_artifacts(run_of({text_artifact(kSub, text)}));
  EXPECT_EQ(run.texts[0].text, kSubSession + "\n\n\n\n\n" + user_event("t", "after"));
}

TEST(CodexPrepare, ThreadSourceMarksASubAgent) {
  std::string head = session(R"({"thread_source":"subagent"})");
  std::string text = join({head, user_event("t", "x"), kTrigger, user_event("t", "y")});
  RunArtifacts run = make().prepare_artifacts(run_of({text_artifact(kSub, text)}));
  EXPECT_EQ(run.texts[0].text, join({head, "", "", user_event("t", "y")}));
}

TEST(CodexPrepare, OtherLogsAreUnchanged) {
  const std::string untriggered = record("t", "inter_agent_communication_metadata", R"({"trigger_turn":"true"})");
  const std::vector<std::pair<std::string_view, std::string>> cases{
      // No trigger record with trigger_turn true.
      {kSub, join({kSubSession, user_event("t", "x"), untriggered})},
      // A main agent's log (a null source.subagent still counts, a missing payload does not).
      {kMain, join({session(R"({"source":"cli"})"), kTrigger, user_event("t", "x")})},
      {kMain, join({R"({"type":"session_meta"})", kTrigger, user_event("t", "x")})},
      // The trigger before the session record.
      {kSub, join({kTrigger, kSubSession, user_event("t", "x")})},
      // Paths outside .codex/sessions or not ending in .jsonl (case-sensitive).
      {"snapshots/s/home/.codex/archive/a.jsonl", join({kSubSession, kTrigger, user_event("t", "x")})},
      {"snapshots/s/home/.codex/sessions/a.JSONL", join({kSubSession, kTrigger, user_event("t", "x")})},
  };
  for (const auto& [path, text] : cases) {
    RunArtifacts run = make().prepare_artifacts(run_of({text_artifact(path, text)}));
    EXPECT_EQ(run.texts[0].text, text) << path;
  }
  std::string null_sub = join({session(R"({"source":{"subagent":null}})"), kTrigger, user_event("t", "x")});
  RunArtifacts run = make().prepare_artifacts(run_of({text_artifact(kSub, null_sub)}));
  EXPECT_EQ(lines_of(run.texts[0].text)[1], "");
}

// Only a log that the preparation may cut is read whole; the test sees the
// log's first window.
TEST(CodexPrepare, OnlyALogThatMayBeCutIsReadWhole) {
  const std::vector<std::tuple<std::string_view, std::string, bool>> cases{
      {kMain, join({session(R"({"source":"cli"})"), user_event("t", "x")}), false},
      {kMain, join({"junk", "\"session_meta\" broken", session(R"({"id":"m"})"), kTrigger}), false},
      {kSub, join({kSubSession, user_event("t", "x")}), true},
      {kSub, join({session(R"({"thread_source":"subagent"})")}), true},
      {kMain, join({user_event("t", "no session record yet")}), true},
      {"snapshots/s/home/.codex/archive/a.jsonl", join({kSubSession, kTrigger}), false},
  };
  for (const auto& [path, text, whole] : cases) {
    EXPECT_EQ(codex_log_needs_whole(text_artifact(path, text)), whole) << path << "\n" << text;
  }
}

// ---- enrich -------------------------------------------------------------

const std::string kToWorker = record(
    "t5", "response_item",
    R"({"type":"agent_message","author":"/root","recipient":"/root/worker","content":[{"type":"input_text","text":"check the tests"}]})");

TEST(CodexEnrich, AgentPathFromTheSessionRecord) {
  RunArtifacts run = run_of({text_artifact(kSub, join({kSubSession, kToWorker}))});
  Lists l = enrich(make(), run);
  ASSERT_EQ(l.messages.size(), 1u);
  EXPECT_EQ(l.messages[0].role, "user");
  EXPECT_EQ(l.messages[0].text, "check the tests");
}

TEST(CodexEnrich, SessionRecordBeyondLine64GivesNoAgentPath) {
  std::vector<std::string> lines(64, "{}");
  lines.push_back(kSubSession);
  lines.push_back(kToWorker);
  RunArtifacts run = run_of({text_artifact(kSub, join(lines))});
  testing::Enriched e = testing::enrich(make(), run);
  EXPECT_TRUE(e.lists.messages.empty());
  // The snapshots still report the record.
  json::Value snaps = make().snapshots(run, *e.context);
  ASSERT_TRUE(snaps.contains("codexSessionMeta"));
  EXPECT_EQ(snaps["codexSessionMeta"][0]["id"], "sub");
}

// A log longer than the reading window, read from its file a window at a time,
// gives what the same text read whole gives: its session record, and whether
// completed items stand for its messages, which only a message event past the
// first window (or the log's end) settles.
TEST(CodexEnrich, ALogReadByWindowsReadsAsTheWholeText) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("codex-windows-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string item = event(
      "t1",
      R"({"type":"item_completed","item":{"type":"AgentMessage","content":[{"type":"text","text":"from an item"}]}})");
  std::string filler;  // beyond one window
  for (int i = 0; i < 12000; ++i) {
    filler += record("t", "response_item", R"({"type":"other","pad":")" + std::string(200, 'p') + R"("})") + "\n";
  }
  const std::string head = join({session(R"({"id":"m","source":"cli"})"), item});
  for (const std::string& tail : {user_event("t9", "late prompt"), item}) {
    const std::string text = head + filler + tail + "\n";
    ASSERT_GT(text.size(), kLogWindow);
    const std::string file = (dir / "rollout.jsonl").string();
    std::ofstream(file, std::ios::binary) << text;
    TextArtifact on_disk;
    on_disk.path = std::string(kMain);
    on_disk.file = file;
    testing::Enriched windows = testing::enrich(make(), make().prepare_artifacts(run_of({on_disk})));
    testing::Enriched whole = testing::enrich(make(), make().prepare_artifacts(run_of({text_artifact(kMain, text)})));
    EXPECT_EQ(dump(windows.lists.messages), dump(whole.lists.messages));
    EXPECT_EQ(dump(windows.lists.calls), dump(whole.lists.calls));
    EXPECT_EQ(make().snapshots(RunArtifacts{}, *windows.context), make().snapshots(RunArtifacts{}, *whole.context));
    const bool item_mode = tail == item;
    ASSERT_EQ(whole.lists.messages.size(), item_mode ? 2u : 1u);
    EXPECT_EQ(whole.lists.messages[0].text, item_mode ? "from an item" : "late prompt");
  }
  std::filesystem::remove_all(dir);
}

// A file that both readers find something in: the generic reader reads the
// lines with a top-level role and the TaskCreate block; the event reader the
// Codex records.
std::string mixed_log(std::string_view prefix) {
  std::string p(prefix);
  return join({
      session(R"({"id":")" + p + R"("})"),
      R"({"role":"user","content":"generic prompt )" + p + R"(","timestamp":"g1"})",
      record("t1", "response_item",
             R"({"type":"message","role":"user","id":")" + p + R"(-u","content":"codex prompt"})"),
      user_event("t2", "codex prompt"),
      R"({"role":"assistant","content":[{"type":"tool_use","id":"tc)" + p +
          R"(","name":"TaskCreate","input":{"subject":"task )" + p + R"("}}]})",
      record(
          "t3", "response_item",
          R"x({"type":"custom_tool_call","name":"exec","call_id":"x1","input":"tools.update_plan({plan: [{step: 'q', status: 'pending'}]})"})x"),
      record("t4", "response_item", R"({"type":"custom_tool_call_output","call_id":"x1","output":"ok"})"),
      record(
          "t5", "response_item",
          R"({"type":"function_call","name":"update_plan","call_id":"p1","arguments":"{\"plan\":[{\"step\":\"plan step\",\"status\":\"in_progress\"}]}"})"),
      R"({"tool":"single","input":{"a":1},"output":"done"})",
      record("t6", "response_item", R"({"type":"custom_tool_call","name":"exec","call_id":"x2","input":"ls"})"),
      "- [ ] checklist line",
      record("t7", "response_item", R"({"type":"custom_tool_call_output","call_id":"x2","output":"exit code 1"})"),
      event("t8", R"({"type":"agent_message","message":"done"})"),
  });
}

TEST(CodexEnrich, OnePassEqualsBothReadersInTurn) {
  RunArtifacts run = run_of({text_artifact(kMain, mixed_log("a")), text_artifact(kSub, mixed_log("b"))});
  // Lists that already hold records, as the common pipeline leaves them.
  Lists expected;
  expected.messages.resize(1);
  expected.messages[0].role = "user";
  expected.messages[0].text = "terminal prompt";
  expected.messages[0].source = "terminal.log:1";
  expected.calls.resize(1);
  expected.calls[0].name = "$ ls";
  expected.calls[0].source = "terminal.log:2";
  Lists got = expected;
  for (const TextArtifact& a : run.texts) {
    parse_jsonl_messages(a, expected.messages, expected.calls, expected.todos);
    parse_codex_events(a, std::nullopt, expected.messages, expected.calls, expected.todos);
  }
  got = testing::enrich(make(), run, got).lists;
  EXPECT_EQ(dump(got.messages), dump(expected.messages));
  EXPECT_EQ(dump(got.calls), dump(expected.calls));
  EXPECT_EQ(dump(got.todos), dump(expected.todos));
  // Both readers contributed, and the collapse renumbered across files.
  ASSERT_GE(got.messages.size(), 5u);
  EXPECT_EQ(got.messages[1].text, "generic prompt a");
  EXPECT_EQ(got.messages[2].text, "codex prompt");
  EXPECT_EQ(got.messages[2].id, "a-u");
  for (std::size_t i = 0; i < got.calls.size(); ++i) EXPECT_EQ(got.calls[i].position, i);
}

// ---- activity -------------------------------------------------------------

std::string task_complete(std::string_view ts, std::string_view last) {
  return event(ts, text::concat({R"({"type":"task_complete")", last, "}"}));
}

Activity classify(const RunArtifacts& run, const std::vector<Approval>& approvals = {}) {
  return make().classify_activity(run, *testing::enrich(make(), run).context, {}, approvals, {}, {});
}

TEST(CodexActivity, UserContinuesAFailedTask) {
  RunArtifacts run =
      run_of({text_artifact(kMain, join({event("2026-01-01T00:00:01Z", R"({"type":"task_started"})"),
                                         task_complete("2026-01-01T00:00:02Z", R"(,"last_agent_message":null)"),
                                         user_event("2026-01-01T00:00:03Z", "again")}))});
  Activity a = classify(run);
  EXPECT_EQ(a.state, ActivityState::Running);
  EXPECT_EQ(a.last_event_kind, "user");
  EXPECT_EQ(a.reason, "user continued a terminal task");
  EXPECT_EQ(a.source, text::source_of(kMain, 3));
}

TEST(CodexActivity, UserMessageBeforeTheTerminalEventProducesNothing) {
  // Read first, the user message finds no terminal candidate; the later
  // line's earlier timestamp does not matter for that.
  RunArtifacts run =
      run_of({text_artifact(kMain, join({user_event("2026-01-01T00:00:03Z", "again"),
                                         task_complete("2026-01-01T00:00:02Z", R"(,"last_agent_message":null)")}))});
  Activity a = classify(run);
  EXPECT_EQ(a.state, ActivityState::Failed);
  EXPECT_EQ(a.last_event_kind, "assistant-error");
  EXPECT_EQ(a.reason, "task completed without a final agent message");
  EXPECT_EQ(a.source, text::source_of(kMain, 2));
}

TEST(CodexActivity, TaskCompleteVariants) {
  auto decide = [](std::string_view last) {
    return classify(run_of({text_artifact(kMain, join({task_complete("t", last)}))}));
  };
  EXPECT_EQ(decide("").state, ActivityState::Finished);
  EXPECT_EQ(decide(R"(,"last_agent_message":"Done")").state, ActivityState::Finished);
  EXPECT_EQ(decide(R"(,"last_agent_message":42)").state, ActivityState::Finished);
  EXPECT_EQ(decide(R"(,"last_agent_message":" \n ")").state, ActivityState::Failed);
  Activity a = decide(R"(,"last_agent_message":"ok")");
  EXPECT_EQ(a.last_event_kind, "assistant-final");
  EXPECT_EQ(a.reason, "task completed");
  EXPECT_EQ(classify(run_of({text_artifact(kMain, join({event("t", R"({"type":"turn_aborted"})")}))})).state,
            ActivityState::Cancelled);
}

TEST(CodexActivity, ResponseItemsAfterCompletion) {
  const std::string done = task_complete("t1", R"(,"last_agent_message":"ok")");
  const std::string output = record("t2", "response_item", R"({"type":"function_call_output","call_id":"c"})");
  Activity a = classify(run_of({text_artifact(kMain, join({done, output}))}));
  EXPECT_EQ(a.state, ActivityState::Finished);
  a = classify(run_of({text_artifact(kMain, join({done, output, record("t2", "response_item", "null")}))}));
  EXPECT_EQ(a.state, ActivityState::Running);
  EXPECT_EQ(a.last_event_kind, "assistant-tool-use");
  EXPECT_EQ(a.reason, "assistant response activity after completion");
  EXPECT_EQ(a.source, text::source_of(kMain, 3));
  // An older response item does not displace the newer terminal event.
  a = classify(run_of({text_artifact(kMain, join({done, record("t0", "response_item", "{}")}))}));
  EXPECT_EQ(a.state, ActivityState::Finished);
}

TEST(CodexActivity, EqualTimestampsLaterTranscriptWins) {
  RunArtifacts run = run_of({text_artifact(kMain, join({task_complete("t", R"(,"last_agent_message":"a")")})),
                             text_artifact(kSub, join({event("t", R"({"type":"turn_aborted"})")}))});
  Activity a = classify(run);
  EXPECT_EQ(a.state, ActivityState::Cancelled);
  EXPECT_EQ(a.last_event_kind, "user");
  EXPECT_EQ(a.reason, "turn aborted");
  EXPECT_EQ(a.source, text::source_of(kSub, 1));
}

TEST(CodexActivity, RunningWithApprovalNeedsApproval) {
  RunArtifacts run = run_of({text_artifact(kMain, join({event("t", R"({"type":"agent_message","message":"x"})")}))});
  std::vector<Approval> approvals(2);
  approvals[0].source = "terminal.log:3";
  approvals[1].source = "terminal.log:9";
  Activity a = classify(run, approvals);
  EXPECT_EQ(a.state, ActivityState::NeedsApproval);
  EXPECT_EQ(a.last_event_kind, "approval");
  EXPECT_EQ(a.reason, "approval evidence in terminal or snapshot");
  EXPECT_EQ(a.source, "terminal.log:9");
  a = classify(run);
  EXPECT_EQ(a.state, ActivityState::Running);
  EXPECT_EQ(a.reason, "task is active");
  EXPECT_EQ(a.source, text::source_of(kMain, 1));
  // A terminal candidate ignores approvals.
  run = run_of({text_artifact(kMain, join({task_complete("t", "")}))});
  EXPECT_EQ(classify(run, approvals).state, ActivityState::Finished);
}

TEST(CodexActivity, WithoutCandidatesTheCommonDecision) {
  RunArtifacts run = run_of({text_artifact(kMain, join({session("{}"), user_event("t", "hi")}))});
  run.metadata = json::Value({{"status", "succeeded"}});
  Activity a = classify(run);
  EXPECT_EQ(a.state, ActivityState::Finished);
  EXPECT_EQ(a.reason, "manifest succeeded");
  EXPECT_EQ(a.source, "metadata.json");
}

TEST(CodexActivity, LatestTimestampWinsOverLineOrder) {
  RunArtifacts run =
      run_of({text_artifact(kMain, join({task_complete("t2", R"(,"last_agent_message":"ok")"), user_event("t3", "more"),
                                         "garbage", event("t1", R"({"type":"task_started"})")}))});
  testing::Enriched e = testing::enrich(make(), run);
  Activity a = make().classify_activity(run, *e.context, e.lists.messages, {}, {}, e.lists.calls);
  EXPECT_EQ(a.state, ActivityState::Running);
  EXPECT_EQ(a.source, text::source_of(kMain, 2));
}

// ---- snapshots -------------------------------------------------------------

TEST(CodexSnapshots, SessionPayloadsJoinTheManifestSnapshots) {
  RunArtifacts run = run_of(
      {text_artifact(kMain, join({user_event("t", "x"), session(R"({"id":"m"})"), session(R"({"id":"second"})")})),
       text_artifact(kSub, join({R"({"type":"session_meta"})"})),
       text_artifact("snapshots/s/home/.codex/sessions/none.jsonl", join({user_event("t", "y")}))});
  const json::Value metas = json::Value::array({json::Value({{"id", "m"}}), nullptr});
  run.metadata = json::Value({{"snapshots", {{"after", 1}, {"codexSessionMeta", "old"}}}});
  EXPECT_EQ(snapshots_of(run), json::Value({{"after", 1}, {"codexSessionMeta", metas}}));
  run.metadata = json::Value({{"snapshots", json::Value::array({"a"})}});
  EXPECT_EQ(snapshots_of(run), json::Value({{"manifest", json::Value::array({"a"})}, {"codexSessionMeta", metas}}));
  run.metadata = json::Value::object();
  EXPECT_EQ(snapshots_of(run), json::Value({{"manifest", json::Value::array()}, {"codexSessionMeta", metas}}));
}

TEST(CodexSnapshots, NoSessionRecordLeavesTheDefault) {
  RunArtifacts run = run_of({text_artifact(kMain, join({user_event("t", "x"), "\"session_meta\""}))});
  run.metadata = json::Value({{"snapshots", {{"after", 1}}}});
  EXPECT_EQ(snapshots_of(run), json::Value({{"after", 1}}));
}

// ---- sub-agents ----------------------------------------------------------------

std::vector<SubAgent> sub_agents_of(const RunArtifacts& run) {
  return make().sub_agents(run, *testing::enrich(make(), run).context);
}

std::string spawned_session(std::string_view id, std::string_view spawn, std::string_view extra = "") {
  return session(
      text::concat({R"({"id":")", id, R"(",)", extra, R"("source":{"subagent":{"thread_spawn":)", spawn, "}}}"}));
}

std::string item_of(std::string_view ts, std::string_view payload) { return record(ts, "response_item", payload); }

// A spawned log is a sub-agent after the default list: its nickname (else the
// last segment of its path, else "Sub-agent"), its first user message (else
// the spawn call's message), and its state from its last turn event.
TEST(CodexSubAgents, SpawnedLogsAfterTheDefaultList) {
  const std::string spawn_call = item_of(
      "t1",
      R"({"type":"function_call","name":"spawn_agent","arguments":"{\"message\":\"Review the code\"}","call_id":"s1"})");
  const std::string spawn_output = item_of(
      "t2", R"({"type":"function_call_output","call_id":"s1","output":"{\"agent_id\":\"a2\",\"nickname\":\"Ada\"}"})");
  RunArtifacts run = run_of({
      text_artifact(
          kMain, join({session(R"({"id":"main","source":"exec"})"), user_event("t0", "go"), spawn_call, spawn_output})),
      // Nickname in thread_spawn; its first user message is the prompt; finished.
      text_artifact("snapshots/s/home/.codex/sessions/2026/01/01/rollout-a1.jsonl",
                    join({spawned_session("a1", R"({"agent_nickname":"Parfit","agent_path":"/root/x"})"),
                          event("t1", R"({"type":"task_started"})"), user_event("t1", "list the files"),
                          event("t2", R"({"type":"task_complete","last_agent_message":"done"})")})),
      // No user message: the spawn call's message; the payload's nickname;
      // an error after the last task_started: failed.
      text_artifact("snapshots/s/home/.codex/sessions/2026/01/01/rollout-a2.jsonl",
                    join({spawned_session("a2", R"({"agent_nickname":""})", R"("agent_nickname":"Ada",)"),
                          event("t1", R"({"type":"task_complete"})"), event("t2", R"({"type":"task_started"})"),
                          event("t3", R"({"type":"error","message":"boom"})")})),
      // The path's last segment; aborted: cancelled.
      text_artifact("snapshots/s/home/.codex/sessions/2026/01/01/rollout-a3.jsonl",
                    join({spawned_session("a3", R"({"agent_path":" /root/reviewer "})"),
                          event("t1", R"({"type":"task_started"})"), event("t2", R"({"type":"turn_aborted"})")})),
      // Nothing to name it by; no turn ended: running.
      text_artifact("snapshots/s/home/.codex/sessions/2026/01/01/rollout-a4.jsonl",
                    join({spawned_session("a4", R"({"agent_path":null})"), event("t1", R"({"type":"task_started"})")})),
      // Already listed by the manifest's observed sub-agent id.
      text_artifact("snapshots/s/home/.codex/sessions/2026/01/01/rollout-a5.jsonl",
                    join({spawned_session("codex-observed", "{}")})),
      // A thread_source without thread_spawn is no spawned log here.
      text_artifact("snapshots/s/home/.codex/sessions/2026/01/01/rollout-a6.jsonl",
                    join({session(R"({"id":"a6","thread_source":"subagent"})")})),
  });
  run.metadata = json::Value({{"subAgentsObserved", true}});
  std::vector<SubAgent> agents = sub_agents_of(run);
  ASSERT_EQ(agents.size(), 5u);
  EXPECT_EQ(agents[0].id, "codex-observed");
  auto source = [](std::string_view name) {
    return text::concat({"snapshots/s/home/.codex/sessions/2026/01/01/rollout-", name, ".jsonl:1"});
  };
  EXPECT_EQ(dump(std::vector<SubAgent>(agents.begin() + 1, agents.end())),
            dump(std::vector<SubAgent>{
                {"a1", "Parfit", "list the files", ActivityState::Finished, source("a1")},
                {"a2", "Ada", "Review the code", ActivityState::Failed, source("a2")},
                {"a3", "reviewer", "", ActivityState::Cancelled, source("a3")},
                {"a4", "Sub-agent", "", ActivityState::Running, source("a4")},
            }));
}

TEST(CodexSubAgents, PromptsAreCutTo400Characters) {
  std::string long_prompt(450, 'p');
  RunArtifacts run = run_of(
      {text_artifact(kSub, join({spawned_session("s", R"({"agent_nickname":"N"})"), user_event("t1", long_prompt)}))});
  std::vector<SubAgent> agents = sub_agents_of(run);
  ASSERT_EQ(agents.size(), 1u);
  EXPECT_EQ(agents[0].prompt, std::string(400, 'p'));
  // Without any spawned log the list is the default one.
  EXPECT_TRUE(sub_agents_of(run_of({text_artifact(kMain, join({user_event("t", "x")}))})).empty());
}

}  // namespace
}  // namespace tl
