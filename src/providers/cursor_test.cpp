#include "cursor.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../test_runs.hpp"

namespace tl {
namespace {

const std::string kA = "snapshots/s/home/.cursor/projects/app/agent-transcripts/a.jsonl";
const std::string kB = "snapshots/s/home/.cursor/projects/app/agent-transcripts/b.jsonl";

using testing::lines_of;

using testing::Lists;
using testing::run_with;

CursorParser parser() { return CursorParser("family", ParserResolution::FamilyFallback); }

Lists enrich(const RunArtifacts& run, Lists start = {}) {
  return testing::enrich(parser(), run, std::move(start)).lists;
}

// The sub-agents hook after `enrich`, as the generic parse calls it.
std::vector<SubAgent> sub_agents_of(const RunArtifacts& run) {
  return parser().sub_agents(run, *testing::enrich(parser(), run).context);
}

// Parses one JSON text and hands its element to `f` while the parser lives.
template <typename F>
void with_element(std::string_view text, F f) {
  json::DocParser p;
  auto e = p.parse(text);
  ASSERT_TRUE(e.has_value()) << text;
  f(*e);
}

// ---- text functions -----------------------------------------------------------

TEST(CursorText, ExtractsEveryKindOfPiece) {
  EXPECT_EQ(extract_cursor_text(std::nullopt), "");
  with_element(R"("plain")", [](json::Element e) { EXPECT_EQ(extract_cursor_text(e), "plain"); });
  with_element("42", [](json::Element e) { EXPECT_EQ(extract_cursor_text(e), ""); });
  with_element(R"({"text":"x"})", [](json::Element e) { EXPECT_EQ(extract_cursor_text(e), ""); });
  with_element(R"([
      {"type":"thinking","thinking":"plan it"},
      {"type":"thinking","thinking":7},
      {"type":"tool_use","name":"Read"},
      {"type":"function_call"},
      {"type":"tool_result","content":[{"type":"text","text":"r1"},"r2",{"type":"image"}]},
      {"type":"toolResult"},
      {"type":"text","text":"hello"},
      {"type":"image"},
      {"text":"untyped"},
      {"type":3,"text":"odd type"},
      "bare string"
    ])",
               [](json::Element e) {
                 EXPECT_EQ(extract_cursor_text(e),
                           "[thinking] plan it\n[tool: Read]\n[tool: ]\n[tool_result] r1\nr2\n[tool_result]\n"
                           "hello\nuntyped\nodd type");
               });
}

TEST(CursorText, ToolResultTextIsAbsentOnlyWithoutUsableContent) {
  with_element(R"({"content":"out"})", [](json::Element e) { EXPECT_EQ(cursor_tool_result_text(e), "out"); });
  with_element(R"({"content":""})", [](json::Element e) { EXPECT_EQ(cursor_tool_result_text(e), ""); });
  with_element(R"({"content":[{"text":"a"},{"content":"b"},"c",5]})",
               [](json::Element e) { EXPECT_EQ(cursor_tool_result_text(e), "a\nc"); });
  // An array without text pieces gives the empty text, which is not absent.
  with_element(R"({"content":[{"type":"image"}]})",
               [](json::Element e) { EXPECT_EQ(cursor_tool_result_text(e), std::optional<std::string>("")); });
  with_element(R"({"content":{"text":"a"}})",
               [](json::Element e) { EXPECT_EQ(cursor_tool_result_text(e), std::nullopt); });
  with_element(R"({"output":"a"})", [](json::Element e) { EXPECT_EQ(cursor_tool_result_text(e), std::nullopt); });
}

TEST(CursorText, UserPromptTakesTheQueryTagContent) {
  EXPECT_EQ(cursor_user_prompt("<user_query>\n  fix   the\nbug \n</user_query>"), "fix the bug");
  EXPECT_EQ(cursor_user_prompt("ctx <USER_QUERY id=\"1\">Do it</User_Query> tail"), "Do it");
  // Without a closing tag every tag is stripped instead.
  EXPECT_EQ(cursor_user_prompt("<user_query>open only"), "open only");
  EXPECT_EQ(cursor_user_prompt("<b>bold</b> and   <i>it</i>"), "bold and it");
  EXPECT_EQ(cursor_user_prompt("keep <unclosed rest"), "keep");
  EXPECT_EQ(cursor_user_prompt("a > b"), "a b");
  EXPECT_EQ(cursor_user_prompt("<a><b>"), "");
}

TEST(CursorText, TodoStatesAreCaseSensitive) {
  EXPECT_EQ(cursor_todo_state("running"), "current");
  EXPECT_EQ(cursor_todo_state("cancelled"), "done");
  EXPECT_EQ(cursor_todo_state("Completed"), "pending");
  EXPECT_EQ(cursor_todo_state("in-progress"), "pending");
  EXPECT_EQ(cursor_todo_state("not_started"), "pending");
  EXPECT_EQ(cursor_todo_state("succeeded"), "done");
  EXPECT_EQ(cursor_todo_state(std::nullopt), "pending");
}

// ---- messages ------------------------------------------------------------------

TEST(CursorEnrich, MessagesByRoleWithSourcesAndTimestamps) {
  auto run = run_with(
      {{kA,
        lines_of({
            R"({"role":"user","timestamp":"t1","message":{"content":[{"type":"text","text":"<user_query> hi  there </user_query>"}]}})",
            "not json",
            R"({"role":"assistant","created_at":"t3","content":[{"type":"thinking","thinking":"hmm"},{"type":"text","text":"ok"}]})",
            R"({"role":"assistant","timestamp":5,"created_at":"t4","content":"plain reply"})",
            R"({"role":"system","content":"sys"})",
            R"({"content":"no role"})",
            R"({"role":["user"],"content":"array role"})",
            R"({"role":"assistant","content":"   "})",
            R"({"role":"user","message":{"role":"user"},"content":"<b>fallback</b> content"})",
        })}});
  Lists out = enrich(run);
  ASSERT_EQ(out.messages.size(), 4u);
  EXPECT_EQ(out.messages[0].role, "user");
  EXPECT_EQ(out.messages[0].text, "hi there");
  EXPECT_EQ(out.messages[0].source, kA + ":1");
  EXPECT_EQ(out.messages[0].timestamp, "t1");
  EXPECT_EQ(out.messages[0].id, std::nullopt);
  EXPECT_EQ(out.messages[1].role, "assistant");
  EXPECT_EQ(out.messages[1].text, "[thinking] hmm ok");
  EXPECT_EQ(out.messages[1].source, kA + ":3");
  EXPECT_EQ(out.messages[1].timestamp, "t3");
  // A timestamp that is not a string hides created_at.
  EXPECT_EQ(out.messages[2].text, "plain reply");
  EXPECT_EQ(out.messages[2].timestamp, std::nullopt);
  EXPECT_EQ(out.messages[3].text, "fallback content");
  EXPECT_EQ(out.messages[3].source, kA + ":9");
  for (std::size_t i = 0; i < out.messages.size(); ++i) EXPECT_EQ(out.messages[i].position, i);
}

TEST(CursorEnrich, LongTextsAreCompacted) {
  std::string word(900, 'w');
  auto run = run_with({{kA, lines_of({std::string(R"({"role":"assistant","content":")") + word + "\"}"})}});
  Lists out = enrich(run);
  ASSERT_EQ(out.messages.size(), 1u);
  EXPECT_EQ(out.messages[0].text, std::string(800, 'w') + "\xE2\x80\xA6");

  // A prompt is cut after 800 characters even when the cut falls on a space.
  std::string query = "<user_query>" + std::string(799, 'a') + "  b\\nc</user_query>";
  auto run2 = run_with({{kA, lines_of({std::string(R"({"role":"user","content":")") + query + "\"}"})}});
  Lists out2 = enrich(run2);
  ASSERT_EQ(out2.messages.size(), 1u);
  EXPECT_EQ(out2.messages[0].text, std::string(799, 'a') + " \xE2\x80\xA6");
  std::string short_query = "<user_query>" + std::string(798, 'a') + "  b</user_query>";
  auto run3 = run_with({{kA, lines_of({std::string(R"({"role":"user","content":")") + short_query + "\"}"})}});
  EXPECT_EQ(enrich(run3).messages[0].text, std::string(798, 'a') + " b");
}

// ---- tool calls and results -------------------------------------------------------

TEST(CursorEnrich, ToolCallsAndTheirResults) {
  auto run = run_with(
      {{kA,
        lines_of({
            R"({"role":"assistant","timestamp":"t1","message":{"content":[{"type":"text","text":"running"},{"type":"tool_use","id":"c1","name":"Shell","input":{"command":"ls"}},{"type":"toolCall","id":"c2","arguments":{"path":"a"}},{"type":"tool_call","name":7,"input":null},{"type":"function_call","name":"","id":"c4"}]}})",
            R"({"role":"user","timestamp":"t2","message":{"content":[{"type":"tool_result","tool_use_id":"c1","content":"a.txt\n  b.txt","is_error":true},{"type":"tool_result","tool_use_id":"c2","content":[{"type":"text","text":"x"}]}]}})",
        })}});
  Lists out = enrich(run);
  ASSERT_EQ(out.calls.size(), 4u);
  const ToolCall& shell = out.calls[0];
  EXPECT_EQ(shell.name, "Shell");
  EXPECT_EQ(shell.tool_use_id, "c1");
  EXPECT_EQ(shell.input->text, R"({"command":"ls"})");
  EXPECT_EQ(shell.result_text, "a.txt b.txt");
  EXPECT_TRUE(shell.is_error);
  EXPECT_EQ(shell.started_at, "t1");
  EXPECT_EQ(shell.ended_at, "t2");
  EXPECT_EQ(shell.source, kA + ":1");
  EXPECT_EQ(out.calls[1].name, "tool");
  EXPECT_EQ(out.calls[1].input->text, R"({"path":"a"})");
  EXPECT_EQ(out.calls[1].result_text, "x");
  EXPECT_FALSE(out.calls[1].is_error);
  // A name that is not a string gives "tool"; a null input is absent.
  EXPECT_EQ(out.calls[2].name, "tool");
  EXPECT_FALSE(out.calls[2].input.has_value());
  EXPECT_EQ(out.calls[2].tool_use_id, std::nullopt);
  EXPECT_EQ(out.calls[3].name, "");
  EXPECT_EQ(out.calls[3].result_text, std::nullopt);
  EXPECT_EQ(out.calls[3].ended_at, std::nullopt);
  for (std::size_t i = 0; i < out.calls.size(); ++i) EXPECT_EQ(out.calls[i].position, i);
  // The assistant message follows its calls; the result line is a tool message.
  ASSERT_EQ(out.messages.size(), 2u);
  EXPECT_EQ(out.messages[0].text, "running [tool: Shell] [tool: ] [tool: ] [tool: ]");
  EXPECT_EQ(out.messages[1].role, "tool");
  EXPECT_EQ(out.messages[1].text, "a.txt b.txt x");
  EXPECT_EQ(out.messages[1].timestamp, "t2");
}

TEST(CursorEnrich, UnknownOrForeignResultsBecomeCallsOfTheirOwn) {
  auto run = run_with({
      {kA, lines_of({R"({"role":"assistant","content":[{"type":"tool_use","id":"a1","name":"Read"}]})"})},
      {kB,
       lines_of({
           R"({"role":"user","timestamp":"t9","content":[{"type":"tool_result","tool_use_id":"a1","content":"late"}]})",
           R"({"role":"user","content":[{"type":"tool_result","content":"  "}, {"type":"tool_result","tool_use_id":5}]})",
       })},
  });
  Lists out = enrich(run);
  ASSERT_EQ(out.calls.size(), 4u);
  EXPECT_EQ(out.calls[0].result_text, std::nullopt);
  EXPECT_EQ(out.calls[1].name, "tool_result");
  EXPECT_EQ(out.calls[1].tool_use_id, "a1");
  EXPECT_EQ(out.calls[1].started_at, std::nullopt);
  EXPECT_EQ(out.calls[1].ended_at, "t9");
  EXPECT_EQ(out.calls[1].source, kB + ":1");
  EXPECT_EQ(out.calls[2].result_text, "");
  EXPECT_EQ(out.calls[2].tool_use_id, std::nullopt);
  EXPECT_EQ(out.calls[3].result_text, std::nullopt);
  EXPECT_EQ(out.calls[3].tool_use_id, std::nullopt);
  // A blank joined result gives no tool message.
  ASSERT_EQ(out.messages.size(), 2u);
  EXPECT_EQ(out.messages[1].role, "tool");
  EXPECT_EQ(out.messages[1].text, "late");
}

TEST(CursorEnrich, ALaterCallWithTheSameIdTakesTheResult) {
  auto run = run_with({{kA, lines_of({
                                R"({"role":"assistant","content":[{"type":"tool_use","id":"d","name":"A"}]})",
                                R"({"role":"assistant","content":[{"type":"tool_use","id":"d","name":"B"}]})",
                                R"({"role":"user","content":[{"type":"tool_result","tool_use_id":"d","content":"r"}]})",
                            })}});
  Lists out = enrich(run);
  ASSERT_EQ(out.calls.size(), 2u);
  EXPECT_EQ(out.calls[0].result_text, std::nullopt);
  EXPECT_EQ(out.calls[1].result_text, "r");
}

TEST(CursorEnrich, MixedUserContentIsAPromptAndStillCompletesCalls) {
  auto run = run_with(
      {{kA,
        lines_of({
            R"({"role":"assistant","content":[{"type":"tool_use","id":"k","name":"A"}]})",
            R"({"role":"user","content":[{"type":"tool_result","tool_use_id":"k","content":"res"},{"type":"text","text":"<user_query>next</user_query>"}]})",
        })}});
  Lists out = enrich(run);
  ASSERT_EQ(out.calls.size(), 1u);
  EXPECT_EQ(out.calls[0].result_text, "res");
  ASSERT_EQ(out.messages.size(), 2u);
  EXPECT_EQ(out.messages[0].text, "[tool: A]");
  EXPECT_EQ(out.messages[1].role, "user");
  EXPECT_EQ(out.messages[1].text, "next");
}

// ---- todos ------------------------------------------------------------------------

TEST(CursorEnrich, TodoWriteReplacesTheListAndNumbersEveryItem) {
  Lists start;
  start.todos.push_back(TodoItem{0, std::nullopt, "from the terminal", "pending", "terminal.log:3"});
  auto run = run_with(
      {{kA,
        lines_of({
            "",
            R"({"role":"assistant","content":[{"type":"tool_use","id":"w","name":"TodoWrite","input":{"todos":[{"content":"  first  step ","status":"in_progress","id":"t1"},{"content":"   ","status":"pending"},{"text":"third","state":"Completed","taskId":"t3"},{"content":5},{"content":"fifth","status":"completed","id":9}]}}]})",
        })}});
  Lists out = enrich(run, start);
  ASSERT_EQ(out.todos.size(), 3u);
  EXPECT_EQ(out.todos[0].content, "first step");
  EXPECT_EQ(out.todos[0].state, "current");
  EXPECT_EQ(out.todos[0].id, "t1");
  EXPECT_EQ(out.todos[0].source, kA + ":2:TodoWrite:1");
  EXPECT_EQ(out.todos[1].content, "third");
  EXPECT_EQ(out.todos[1].state, "pending");
  EXPECT_EQ(out.todos[1].id, "t3");
  EXPECT_EQ(out.todos[1].source, kA + ":2:TodoWrite:3");
  EXPECT_EQ(out.todos[2].state, "done");
  EXPECT_EQ(out.todos[2].id, std::nullopt);
  EXPECT_EQ(out.todos[2].source, kA + ":2:TodoWrite:5");
  for (std::size_t i = 0; i < out.todos.size(); ++i) EXPECT_EQ(out.todos[i].position, i);
  ASSERT_EQ(out.calls.size(), 1u);
  EXPECT_EQ(out.calls[0].name, "TodoWrite");
}

TEST(CursorEnrich, UserPromptsClearTodosButToolResultsDoNot) {
  Lists start;
  start.todos.push_back(TodoItem{0, std::nullopt, "old", "pending", "terminal.log:1"});
  auto run = run_with({{kA, lines_of({
                                R"({"role":"user","content":[{"type":"tool_result","content":"r"}]})",
                            })}});
  Lists kept = enrich(run, start);
  EXPECT_EQ(kept.todos.size(), 1u);

  auto run2 = run_with(
      {{kA,
        lines_of({
            R"({"role":"assistant","content":[{"type":"tool_use","name":"TodoWrite","input":{"todos":[{"content":"a"}]}}]})",
            R"({"role":"user","content":"<user_query>  </user_query>"})",
            R"({"role":"assistant","content":"still there"})",
        })}});
  Lists blank = enrich(run2, start);
  // A blank prompt is no message and clears nothing.
  ASSERT_EQ(blank.todos.size(), 1u);
  EXPECT_EQ(blank.todos[0].content, "a");

  auto run3 = run_with(
      {{kA,
        lines_of({
            R"({"role":"assistant","content":[{"type":"tool_use","name":"TodoWrite","input":{"todos":[{"content":"a"}]}}]})",
            R"({"role":"user","content":"<user_query>next</user_query>"})",
            R"({"role":"assistant","content":[{"type":"tool_use","name":"TodoWrite","input":{"todos":[{"content":"b"}]}}]})",
        })}});
  Lists cleared = enrich(run3, start);
  ASSERT_EQ(cleared.todos.size(), 1u);
  EXPECT_EQ(cleared.todos[0].content, "b");
  EXPECT_EQ(cleared.todos[0].position, 0u);
  EXPECT_EQ(cleared.todos[0].source, kA + ":3:TodoWrite:1");

  // A TodoWrite without a todos array still empties the list.
  auto run4 =
      run_with({{kA, lines_of({R"({"role":"assistant","content":[{"type":"tool_use","name":"TodoWrite"}]})"})}});
  EXPECT_TRUE(enrich(run4, start).todos.empty());
  // Only the exact name counts.
  auto run5 = run_with(
      {{kA,
        lines_of(
            {R"({"role":"assistant","content":[{"type":"tool_use","name":"todowrite","input":{"todos":[{"content":"x"}]}}]})"})}});
  EXPECT_EQ(enrich(run5, start).todos.size(), 1u);
}

// ---- sub-agents ---------------------------------------------------------------------

TEST(CursorSubAgents, LaunchesWithTitlesPromptsAndStates) {
  std::string long_prompt(450, 'p');
  auto run = run_with({
      {kA,
       lines_of({
           std::string(
               R"({"role":"assistant","content":[{"type":"tool_use","id":"s1","name":"Task","input":{"description":"  Explore  ","prompt":")") +
               long_prompt +
               R"("}},{"type":"tool_use","id":"s2","name":"SUBAGENT","input":{"description":"  ","title":"x"}},{"type":"toolCall","name":"agent"},{"type":"function_call","id":"","name":"task","arguments":{"title":5,"task":"t"}},{"type":"tool_use","id":"s5","name":"Shell","input":{"description":"no"}}]})",
           R"({"role":"user","content":[{"type":"tool_result","tool_use_id":"s1","content":"done"},{"type":"tool_result","tool_use_id":"s2","is_error":true}]})",
           R"({"role":"assistant","content":[{"type":"tool_use","id":"s6","name":"task","input":{}}]})",
       })},
      {kB, lines_of({R"({"role":"user","content":[{"type":"tool_result","tool_use_id":"s6","content":"x"}]})"})},
  });
  run.metadata = json::Value::object();
  run.metadata["subAgentsObserved"] = true;
  auto agents = sub_agents_of(run);
  ASSERT_EQ(agents.size(), 6u);
  EXPECT_EQ(agents[0].id, "cursor-observed");
  EXPECT_EQ(agents[0].source, "metadata.json");
  EXPECT_EQ(agents[1].id, "s1");
  EXPECT_EQ(agents[1].title, "Explore");
  EXPECT_EQ(agents[1].prompt, std::string(400, 'p'));
  EXPECT_EQ(agents[1].state, ActivityState::Finished);
  EXPECT_EQ(agents[1].source, kA + ":1");
  EXPECT_EQ(agents[2].title, "");  // a blank description is kept, trimmed
  EXPECT_EQ(agents[2].state, ActivityState::Failed);
  EXPECT_EQ(agents[3].id, "cursor-subagent");
  EXPECT_EQ(agents[3].title, "sub-agent");
  EXPECT_EQ(agents[3].prompt, "");
  EXPECT_EQ(agents[3].state, ActivityState::Running);
  EXPECT_EQ(agents[4].id, "");
  EXPECT_EQ(agents[4].title, "sub-agent");  // the first present member is not a string
  EXPECT_EQ(agents[5].id, "s6");
  EXPECT_EQ(agents[5].title, "sub-agent");  // an empty input object
  // A result in another transcript does not finish it.
  EXPECT_EQ(agents[5].state, ActivityState::Running);
}

TEST(CursorSubAgents, ARepeatedIdFollowsTheLatestLaunch) {
  auto run = run_with(
      {{kA,
        lines_of({
            R"({"role":"assistant","content":[{"type":"tool_use","id":"r","name":"Task"},{"type":"tool_use","id":"r","name":"Task"}]})",
            R"({"role":"user","content":[{"type":"tool_result","tool_use_id":"r","is_error":"true"}]})",
        })}});
  auto agents = sub_agents_of(run);
  ASSERT_EQ(agents.size(), 2u);
  EXPECT_EQ(agents[0].state, ActivityState::Running);
  EXPECT_EQ(agents[1].state, ActivityState::Finished);  // "true" as a string is not an error
}

TEST(CursorSubAgents, AResultFinishesItsLaunch) {
  auto run = run_with(
      {{kA, lines_of({
                R"({"role":"assistant","content":[{"type":"tool_use","id":"q","name":"Task","input":{"title":"T"}}]})",
                R"({"role":"user","content":[{"type":"tool_result","tool_use_id":"q"}]})",
            })}});
  auto agents = sub_agents_of(run);
  ASSERT_EQ(agents.size(), 1u);
  EXPECT_EQ(agents[0].id, "q");
  EXPECT_EQ(agents[0].title, "T");
  EXPECT_EQ(agents[0].state, ActivityState::Finished);
}

TEST(CursorParser, ProvenanceExtendsTheDefaults) {
  auto p = parser().provenance();
  ASSERT_EQ(p.size(), 8u);
  EXPECT_EQ(p[3].field, "state.snapshots");
  EXPECT_EQ(p[4].field, "state.messages");
  EXPECT_EQ(p[7].path, "Cursor agent/task/subagent tool_use blocks");
  EXPECT_EQ(parser().parser_name(), "cursorParser::family");
}

}  // namespace
}  // namespace tl
