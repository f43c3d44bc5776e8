#include "claude.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../test_runs.hpp"

namespace tl {
namespace {

constexpr const char* kPath = "snapshots/s/home/.claude/projects/p/s.jsonl";

using testing::run_with;

ClaudeParser parser() { return ClaudeParser("claude", "2::1::217", ParserResolution::Exact); }

std::string src(int line) { return std::string(kPath) + ":" + std::to_string(line); }

// The hooks after `enrich`, each given the context that `enrich` filled.
std::optional<std::string> title_hook(const RunArtifacts& run) {
  return parser().title(run, *testing::enrich(parser(), run).context);
}
json::Value snapshots_hook(const RunArtifacts& run) {
  return parser().snapshots(run, *testing::enrich(parser(), run).context);
}
std::vector<SubAgent> sub_agents_hook(const RunArtifacts& run) {
  return parser().sub_agents(run, *testing::enrich(parser(), run).context);
}

// ---- queued prompts ---------------------------------------------------------

const std::string kQueued =
    R"({"type":"attachment","userType":"external","uuid":"q1","n":1.5,"message":{"old":true},)"
    R"("attachment":{"type":"queued_command","prompt":"  Also fix the README ","commandMode":"prompt","hostsOwnTurn":true}})";
const std::string kQueuedRewritten =
    R"({"attachment":{"commandMode":"prompt","hostsOwnTurn":true,"prompt":"  Also fix the README ","type":"queued_command"},)"
    R"("message":{"content":"  Also fix the README ","role":"user"},"n":1.5,"type":"attachment","userType":"external","uuid":"q1"})";

TEST(ClaudeQueuedPrompts, QualifyingLineGainsAUserMessage) {
  EXPECT_EQ(rewrite_queued_prompts(kQueued), kQueuedRewritten + "\n");
}

TEST(ClaudeQueuedPrompts, NonQualifyingLinesAreCopiedUnchanged) {
  const std::string lines[] = {
      R"({"type":"attachment","userType":"external","attachment":{"type":"queued_command","prompt":" \t ","commandMode":"prompt","hostsOwnTurn":true}})",
      R"({"type":"attachment","userType":"external","attachment":{"type":"queued_command","prompt":"x","commandMode":"bash","hostsOwnTurn":true}})",
      R"({"type":"attachment","userType":"external","attachment":{"type":"queued_command","prompt":"x","commandMode":"prompt","hostsOwnTurn":false}})",
      R"({"type":"attachment","userType":"external","attachment":{"type":"queued_command","prompt":"x","commandMode":"prompt"}})",
      R"({"type":"attachment","userType":"external","attachment":{"type":"queued_command","prompt":"x","commandMode":"prompt","hostsOwnTurn":"true"}})",
      R"({"type":"attachment","userType":"internal","attachment":{"type":"queued_command","prompt":"x","commandMode":"prompt","hostsOwnTurn":true}})",
      R"({"type":"user","userType":"external","attachment":{"type":"queued_command","prompt":"x","commandMode":"prompt","hostsOwnTurn":true}})",
      R"({"type":"attachment","userType":"external","attachment":{"type":"queued_command","prompt":["x"],"commandMode":"prompt","hostsOwnTurn":true}})",
      R"({"type":"attachment", "userType":"external", "note":"queued_command", "attachment":{"type":"file"}})",
      R"({"type":"attachment","attachment":{"type":"queued_command"} trailing)",
  };
  for (const std::string& line : lines) EXPECT_EQ(rewrite_queued_prompts(line + "\n"), line + "\n") << line;
}

TEST(ClaudeQueuedPrompts, RewrittenTranscriptHasLineFeedEndsOnly) {
  std::string in = "{\"a\":1}\r\n" + kQueued + "\r\n\r\nlast";
  EXPECT_EQ(rewrite_queued_prompts(in), "{\"a\":1}\n" + kQueuedRewritten + "\n\nlast\n");
  // A carriage return that ends the text goes too; one of two before a line
  // feed stays.
  EXPECT_EQ(rewrite_queued_prompts(kQueued + "\nx\r\r\nlast\r"), kQueuedRewritten + "\nx\r\nlast\n");
}

// A long transcript is prepared a window of lines at a time: whatever the
// window, its lines are those of the transcript prepared whole.
TEST(ClaudeQueuedPrompts, PreparedByWindowsGivesTheLinesOfThePreparedWhole) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("claude-windows-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string file = (dir / "s.jsonl").string();
  // Queued prompts before and after the first window's 8 KiB; CRLF ends, an
  // empty line, and a last line without its line feed.
  std::string filler;
  for (int i = 0; i < 400; ++i) filler += "{\"f\":\"" + std::string(90, 'x') + "\"}\r\n";
  std::ofstream(file, std::ios::binary) << "{\"a\":1}\r\n"
                                        << kQueued << "\r\n\r\n"
                                        << filler << kQueued << "\n"
                                        << filler << kQueued << "\nlast";
  RunArtifacts run = parser().prepare_artifacts(RunArtifacts{});
  TextArtifact log;
  log.path = kPath;
  log.file = file;
  auto lines_of = [](std::string_view text) {
    std::vector<std::string> out;
    text::LineReader reader(text);
    std::string_view line;
    while (reader.next(line)) out.emplace_back(line);
    return out;
  };
  LogReader whole_buffer;
  const std::vector<std::string> whole = lines_of(log_text(run, log, whole_buffer).text);
  ASSERT_EQ(whole.size(), 806u);
  EXPECT_EQ(whole[1], kQueuedRewritten);
  EXPECT_EQ(whole[403], kQueuedRewritten);
  EXPECT_EQ(whole[804], kQueuedRewritten);
  EXPECT_EQ(whole[805], "last");
  for (std::size_t window : {1u, 5u, 64u, 300u, 100000u}) {
    std::vector<std::string> joined;
    LogReader buffer;
    int pieces = 0;
    for_each_log_piece(
        run, log, buffer,
        [&](const TextArtifact& piece, std::uint64_t) {
          ++pieces;
          for (std::string& line : lines_of(piece.text)) joined.push_back(std::move(line));
          return true;
        },
        window);
    EXPECT_EQ(joined, whole) << window;
    if (window < 10000) {
      EXPECT_GT(pieces, 2) << window;
    }
  }
  std::filesystem::remove_all(dir);
}

TEST(ClaudeQueuedPrompts, PrepareTouchesOnlyProjectTranscriptsThatMentionQueuedCommands) {
  const std::string plain = "{\"type\":\"user\"}\r\n{\"x\":\"y\"}";  // CRLF and no final line feed
  RunArtifacts run = run_with({{kPath, kQueued},
                               {"snapshots/s/home/.claude/projects/p/plain.jsonl", plain},
                               {"snapshots/s/home/.Claude/Projects/p/upper.jsonl", kQueued},
                               {"snapshots/s/home/.claude/projects/p/s.JSONL", kQueued},
                               {"snapshots/s/home/.claude/todos/t.jsonl", kQueued}});
  RunArtifacts out = parser().prepare_artifacts(run);
  ASSERT_EQ(out.texts.size(), 5u);
  EXPECT_EQ(out.texts[0].text, kQueuedRewritten + "\n");
  EXPECT_EQ(out.texts[1].text, plain);
  EXPECT_EQ(out.texts[2].text, kQueued);
  EXPECT_EQ(out.texts[3].text, kQueued);
  EXPECT_EQ(out.texts[4].text, kQueued);
  // The rewritten text can still be parsed line by line in place.
  EXPECT_GE(out.texts[0].text.capacity(), out.texts[0].text.size() + json::kPadding);
}

// ---- title ------------------------------------------------------------------

std::optional<std::string> title_of(const std::string& transcript) {
  return title_hook(run_with({{kPath, transcript}}));
}

TEST(ClaudeTitle, CustomTitleWinsOverAgentName) {
  EXPECT_EQ(title_of(R"({"type":"custom-title","customTitle":"  Fix login  "})"
                     "\n"
                     R"({"type":"agent-name","agentName":"Helper"})"
                     "\n"),
            "Fix login");
  EXPECT_EQ(title_of(R"({"type":"agent-name","agentName":"First"})"
                     "\n"
                     R"({"type":"agent-name","agentName":"Second"})"
                     "\n"),
            "Second");
  EXPECT_EQ(title_of(R"({"type":"custom-title","customTitle":"Old"})"
                     "\n"
                     R"({"type":"custom-title","customTitle":"New"})"
                     "\n"),
            "New");
}

TEST(ClaudeTitle, BlankOrMistypedValuesAreIgnored) {
  EXPECT_EQ(title_of(R"({"type":"custom-title","customTitle":"Kept"})"
                     "\n"
                     R"({"type":"custom-title","customTitle":"   "})"
                     "\n"
                     R"({"type":"custom-title","customTitle":5})"
                     "\n"
                     R"({"type":"Custom-Title","customTitle":"Case"})"
                     "\n"
                     R"({"type":"ai-title","aiTitle":"AI"})"
                     "\n"),
            "Kept");
  EXPECT_EQ(title_of(R"({"type":"ai-title","aiTitle":"  "})"
                     "\n"
                     R"({"type":"summary","summary":7})"
                     "\n"),
            std::nullopt);
  EXPECT_EQ(title_of(""), std::nullopt);
}

// The custom title, else the agent name, else the last generated title
// ("ai-title", Claude Code 2.1.3xx), else the last summary (Claude Code 1.0.x).
TEST(ClaudeTitle, EachKindInItsPrecedencePosition) {
  const std::string custom = R"({"type":"custom-title","customTitle":"Custom"})";
  const std::string name = R"({"type":"agent-name","agentName":"Name"})";
  const std::string ai1 = R"({"type":"ai-title","aiTitle":"AI one"})";
  const std::string ai2 = R"({"type":"ai-title","aiTitle":" AI two "})";
  const std::string ai_blank = R"({"type":"ai-title","aiTitle":""})";
  const std::string sum1 = R"({"type":"summary","summary":"Summary one","leafUuid":"u1"})";
  const std::string sum2 = R"({"type":"summary","summary":"Summary two","leafUuid":"u2"})";
  struct Case {
    std::vector<std::string> lines;
    std::optional<std::string> title;
  };
  const Case cases[] = {
      {{sum1, ai1, name, custom}, "Custom"},
      {{custom, ai2, sum2}, "Custom"},
      {{sum1, ai1, name}, "Name"},
      {{sum1, ai1, ai2, ai_blank, sum2}, "AI two"},
      {{sum1, sum2}, "Summary two"},
      {{sum2, R"({"type":"summary","summary":"   "})"}, "Summary two"},
      {{R"({"type":"user","message":{"role":"user","content":"hi"},"summary":"not a title line"})"}, std::nullopt},
  };
  for (const Case& c : cases) {
    std::string transcript;
    for (const std::string& l : c.lines) transcript += l + "\n";
    EXPECT_EQ(title_of(transcript), c.title) << transcript;
  }
}

TEST(ClaudeTitle, SpansTranscriptsInRunOrder) {
  RunArtifacts run =
      run_with({{kPath, R"({"type":"custom-title","customTitle":"A"})"},
                {"snapshots/s/home/.claude/projects/p/t.jsonl", R"({"type":"agent-name","agentName":"B"})"},
                {"snapshots/s/home/.claude/projects/p/u.jsonl", R"({"type":"custom-title","customTitle":"C"})"},
                {"snapshots/s/work/x.jsonl", R"({"type":"custom-title","customTitle":"D"})"}});
  EXPECT_EQ(title_hook(run), "C");
}

// ---- session metadata -------------------------------------------------------

json::Value snapshots_of(const std::string& transcript, json::Value metadata = json::Value::object()) {
  RunArtifacts run = run_with({{kPath, transcript}});
  run.metadata = std::move(metadata);
  return snapshots_hook(run);
}

TEST(ClaudeSessionMeta, OneEntryPerDistinctTripleWithTheFirstLinesSource) {
  json::Value got = snapshots_of(
      R"({"type":"system","cwd":"/w","gitBranch":"main","sessionId":"s1"})"
      "\n"
      R"({"type":"user","cwd":"/w","gitBranch":"main","sessionId":"s1","message":{"role":"user","content":"Hi"},"uuid":"u1"})"
      "\n"
      R"({"sessionId":"s1"})"
      "\n"
      R"({"cwd":"/w","gitBranch":"","sessionId":"s1"})"
      "\n"
      R"({"cwd":5,"gitBranch":null})"
      "\n"
      R"({"type":"api-request","cwd":"/api"})"
      "\n"
      R"({"sessionId":"s1"})"
      "\n",
      json::Value::parse(R"({"snapshots":{"after":"snapshots/after","claudeSessionMeta":"old"}})"));
  json::Value want = json::Value::parse(R"({
    "after":"snapshots/after",
    "claudeSessionMeta":[
      {"conversationId":"u1","cwd":"/w","gitBranch":"main","sessionId":"s1","source":"snapshots/s/home/.claude/projects/p/s.jsonl:1"},
      {"conversationId":"u1","cwd":null,"gitBranch":null,"sessionId":"s1","source":"snapshots/s/home/.claude/projects/p/s.jsonl:3"},
      {"conversationId":"u1","cwd":"/w","gitBranch":"","sessionId":"s1","source":"snapshots/s/home/.claude/projects/p/s.jsonl:4"}]})");
  EXPECT_EQ(got, want);
  EXPECT_EQ(json::dump(got["claudeSessionMeta"][1]),
            R"({"conversationId":"u1","cwd":null,"gitBranch":null,"sessionId":"s1","source":")" + src(3) + R"("})");
}

TEST(ClaudeSessionMeta, ConversationIdIsTheFirstGenuineUserPrompt) {
  auto user = [](const std::string& extra, const std::string& content, const std::string& uuid) {
    return R"({"type":"user",)" + extra + R"("message":{"role":"user","content":)" + content + R"(},"uuid":")" + uuid +
           R"("})"
           "\n";
  };
  std::string t = user("", R"("  <command-name>/clear</command-name>")", "c1") +
                  user("", R"([{"type":"text","text":"<local-command-stdout>ok</local-command-stdout>"}])", "c2") +
                  user(R"("isMeta":true,)", R"("meta")", "c3") + user(R"("isSidechain":true,)", R"("side")", "c4") +
                  user("", R"([{"type":"tool_result","content":"r"}])", "c5") + user("", R"("   ")", "c6") +
                  R"({"type":"user","message":{"role":"assistant","content":"x"},"uuid":"c7"})"
                  "\n" +
                  R"({"type":"user","message":{"role":"user","content":"no uuid"},"uuid":7})"
                  "\n" +
                  user("", R"([" ",{"type":"image"},{"type":"text","content":"  Real prompt "}])", "real") +
                  user("", R"("later")", "later") +
                  R"({"sessionId":"s"})"
                  "\n";
  json::Value got = snapshots_of(t);
  ASSERT_TRUE(got.is_object());
  EXPECT_EQ(got["claudeSessionMeta"][0]["conversationId"], "real");
}

TEST(ClaudeSessionMeta, HumanOriginCountsEvenWithoutText) {
  std::string t = R"({"type":"user","origin":{"kind":"human"},"message":{"role":"user","content":[]},"uuid":""})"
                  "\n"
                  R"({"type":"user","message":{"role":"user","content":"second"},"uuid":"u2","sessionId":"s"})"
                  "\n";
  EXPECT_EQ(snapshots_of(t)["claudeSessionMeta"][0]["conversationId"], "");
}

TEST(ClaudeSessionMeta, CombinesWithTheManifestSnapshots) {
  // No conversation: entries carry no conversation id; no manifest snapshots
  // become an empty array under "manifest".
  EXPECT_EQ(json::dump(snapshots_of(R"({"sessionId":"s","cwd":"/w"})")),
            R"({"claudeSessionMeta":[{"cwd":"/w","gitBranch":null,"sessionId":"s","source":")" + src(1) +
                R"("}],"manifest":[]})");
  json::Value wrapped = snapshots_of(R"({"sessionId":"s"})", json::Value::parse(R"({"snapshots":[{"name":"after"}]})"));
  EXPECT_EQ(wrapped["manifest"], json::Value::parse(R"([{"name":"after"}])"));
  EXPECT_EQ(wrapped["claudeSessionMeta"].size(), 1u);
  EXPECT_EQ(snapshots_of(R"({"sessionId":"s"})", json::Value::parse(R"({"snapshots":"x"})"))["manifest"], "x");
  // No entries: the manifest's value unchanged.
  EXPECT_EQ(snapshots_of(R"({"type":"user","message":{"role":"user","content":"hi"},"uuid":"u"})"),
            json::Value::array());
  json::Value snaps = json::Value::parse(R"({"snapshots":{"b":1,"a":2}})");
  EXPECT_EQ(snapshots_of("", snaps), snaps["snapshots"]);
}

// ---- activity -----------------------------------------------------------------

ToolCall call(const std::string& name, std::optional<std::string> id, bool ended, bool result,
              const std::string& source) {
  ToolCall c;
  c.name = name;
  c.tool_use_id = std::move(id);
  if (ended) c.ended_at = "2026-01-01T00:00:00Z";
  if (result) c.result_text = "answer";
  c.source = source;
  return c;
}

TEST(ClaudePendingQuestion, LatestUnansweredCallUnlessALaterCallSharesItsId) {
  std::vector<ToolCall> calls = {call("AskUserQuestion", "q1", false, false, "a:1"),
                                 call("AskUserQuestion", "q1", true, true, "a:2")};
  EXPECT_EQ(pending_question(calls), nullptr);
  calls.push_back(call("AskUserQuestion", "q2", false, true, "a:3"));  // a result without end time
  EXPECT_EQ(pending_question(calls), nullptr);
  calls.push_back(call("AskUserQuestion", std::nullopt, false, false, "a:4"));
  calls.push_back(call("askuserquestion", "q5", false, false, "a:5"));
  calls.push_back(call("AskUserQuestion", "q6", true, false, "a:6"));
  const ToolCall* found = pending_question(calls);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->source, "a:4");
  EXPECT_EQ(pending_question({}), nullptr);
}

const std::string kRunningAgent =
    R"({"message":{"content":[{"type":"tool_use","id":"t1","name":"Task","input":{"description":"bg"}}]}})"
    "\n"
    R"({"message":{"content":[{"type":"tool_result","tool_use_id":"t1","content":"Async agent launched successfully."}]}})"
    "\n"
    R"({"message":{"content":[{"type":"tool_use","id":"t2","name":"Task","input":{"description":"fg"}}]}})"
    "\n"
    R"({"message":{"content":[{"type":"tool_result","tool_use_id":"t2","content":"Done."}]}})"
    "\n";

Activity classify(const RunArtifacts& run, const std::vector<ToolCall>& calls,
                  const std::vector<Approval>& approvals = {}) {
  return parser().classify_activity(run, *testing::enrich(parser(), run).context, {}, approvals, {}, calls);
}

TEST(ClaudeActivity, PendingQuestionNeedsApproval) {
  RunArtifacts run = run_with({{kPath, kRunningAgent}});
  Activity a = classify(run, {call("AskUserQuestion", "q1", false, false, "x.jsonl:9")});
  EXPECT_EQ(a.state, ActivityState::NeedsApproval);
  EXPECT_EQ(a.last_event_kind, "assistant-tool-use");
  EXPECT_EQ(a.reason, "Claude is waiting for an AskUserQuestion response");
  EXPECT_EQ(a.source, "x.jsonl:9");
}

TEST(ClaudeActivity, RunningBackgroundSubAgentReplacesUnknownAndRunning) {
  RunArtifacts run = run_with({{kPath, kRunningAgent}});
  Activity a = classify(run, {});
  EXPECT_EQ(a.state, ActivityState::Running);
  EXPECT_EQ(a.last_event_kind, "assistant-tool-use");
  EXPECT_EQ(a.reason, "Claude background sub-agent is still running");
  EXPECT_EQ(a.source, src(2));

  run.terminal = "Esc to interrupt";
  EXPECT_EQ(classify(run, {}).reason, "Claude background sub-agent is still running");
  run.texts.clear();
  Activity common = classify(run, {});
  EXPECT_EQ(common.state, ActivityState::Running);
  EXPECT_EQ(common.reason, "terminal indicates active work");
}

TEST(ClaudeActivity, SettledCommonStatesAreKept) {
  RunArtifacts run = run_with({{kPath, kRunningAgent}});
  std::vector<ToolCall> question = {call("AskUserQuestion", "q1", false, false, "x.jsonl:9")};
  run.metadata = json::Value::parse(R"({"status":"succeeded"})");
  EXPECT_EQ(classify(run, question).state, ActivityState::Finished);
  run.metadata = json::Value::parse(R"({"status":"failed","failedStep":"build"})");
  EXPECT_EQ(classify(run, question).state, ActivityState::Failed);
  run.metadata = json::Value::object();
  Approval approval{0, "Do you want to proceed?", "waiting_or_recent", "terminal.log:3"};
  Activity a = classify(run, question, {approval});
  EXPECT_EQ(a.state, ActivityState::NeedsApproval);
  EXPECT_EQ(a.reason, "approval evidence in terminal or snapshot");
  EXPECT_EQ(classify(run_with({}), {}).state, ActivityState::Unknown);
}

// ---- enrichment and the shared pass -----------------------------------------

const std::string kSession =
    R"({"type":"custom-title","customTitle":"Session","sessionId":"s1"})"
    "\n"
    R"({"type":"user","uuid":"u1","sessionId":"s1","cwd":"/w","timestamp":"t1","message":{"role":"user","content":"Plan it"}})"
    "\n"
    R"({"type":"assistant","uuid":"a1","sessionId":"s1","cwd":"/w","timestamp":"t2","message":{"role":"assistant","content":[)"
    R"({"type":"text","text":"Launching."},{"type":"tool_use","id":"t1","name":"Task","input":{"description":"Scan","prompt":"Scan it"}},)"
    R"({"type":"tool_use","id":"w1","name":"TodoWrite","input":{"todos":[{"content":"Scan","status":"in_progress"}]}}]}})"
    "\n"
    R"({"type":"user","uuid":"u2","sessionId":"s1","cwd":"/w","timestamp":"t3","message":{"role":"user","content":[)"
    R"({"type":"tool_result","tool_use_id":"t1","content":"Async agent launched successfully.\nagentId: ag1"}]}})"
    "\n";

TEST(ClaudeEnrich, OnePassFeedsTheLaterHooks) {
  RunArtifacts run = run_with({{kPath, kSession}});
  testing::Enriched e = testing::enrich(parser(), run);
  EXPECT_EQ(e.lists.messages.size(), 2u);
  EXPECT_EQ(e.lists.calls.size(), 2u);
  auto agents = parser().sub_agents(run, *e.context);
  ASSERT_EQ(agents.size(), 1u);
  EXPECT_EQ(agents[0].id, "ag1");
  EXPECT_EQ(agents[0].state, ActivityState::Running);
  EXPECT_EQ(agents[0].prompt, "Scan it");
  EXPECT_EQ(agents[0].source, src(4));
  EXPECT_EQ(parser().title(run, *e.context), "Session");
  json::Value meta = parser().snapshots(run, *e.context);
  EXPECT_EQ(meta["claudeSessionMeta"][0]["conversationId"], "u1");
  EXPECT_EQ(meta["claudeSessionMeta"][0]["source"], src(1));
  EXPECT_EQ(meta["claudeSessionMeta"][1]["source"], src(2));
}

TEST(ClaudeSubAgentsHook, FallsBackToTheObservedRule) {
  RunArtifacts run = run_with({{kPath, R"({"type":"user","message":{"role":"user","content":"hi"}})"}});
  EXPECT_TRUE(sub_agents_hook(run).empty());
  run.metadata = json::Value::parse(R"({"subAgentsObserved":true})");
  auto agents = sub_agents_hook(run);
  ASSERT_EQ(agents.size(), 1u);
  EXPECT_EQ(agents[0].id, "claude-observed");
  EXPECT_EQ(agents[0].title, "Sub-agent observed");
  EXPECT_EQ(agents[0].state, ActivityState::Finished);
  EXPECT_EQ(agents[0].source, "metadata.json");
}

}  // namespace
}  // namespace tl
