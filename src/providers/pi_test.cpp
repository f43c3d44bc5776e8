#include "pi.hpp"

#include <gtest/gtest.h>

#include "../model_detail.hpp"
#include "../test_runs.hpp"
#include "../text.hpp"

namespace tl {
namespace {

using testing::lines_of;
using testing::run_with;

const std::string kLog = "snapshots/s/home/.pi/agent/sessions/--work--/2026-12-07T20-55-37_s.jsonl";

PiParser make() { return PiParser("pi", "0::73::1", ParserResolution::Exact); }

std::string result(std::string_view tool, std::string_view id, std::string_view details) {
  return text::concat({R"({"type":"message","message":{"role":"toolResult","toolCallId":")", id, R"(","toolName":")",
                       tool, R"(","content":[{"type":"text","text":"ok"}],"details":)", details, "}}"});
}
std::string run_of(std::string_view agent, std::string_view task, std::string_view rest) {
  return text::concat({R"({"agent":")", agent, R"(","task":")", task, R"(",)", rest, "}"});
}

template <typename T>
std::string dump(const std::vector<T>& items) {
  std::string out;
  for (const auto& item : items) out += detail::record_json(item) + "\n";
  return out;
}

// The todo extension writes the whole list after each change; only the last
// list counts, `done` deciding the state. An item without text or a boolean
// `done` is left out but keeps its number.
TEST(PiTodos, TheLastListOfTheTodoExtensionCounts) {
  RunArtifacts run = run_with(
      {{kLog, lines_of({R"({"type":"message","message":{"role":"user","content":"go"}})",
                        result("todo", "c1", R"({"action":"add","todos":[{"id":1,"text":"Build","done":false}]})"),
                        result("todo", "c2",
                               R"({"action":"toggle","todos":[{"id":1,"text":"Build","done":true},)"
                               R"({"id":2,"text":"Ship","done":"no"},{"id":3,"text":"  Test  ","done":false}]})"),
                        result("bash", "c3", R"({"todos":[{"id":9,"text":"Not a todo result","done":false}]})")})}});
  auto e = testing::enrich(make(), run);
  const std::string at = kLog + ":3:TodoWrite:";
  EXPECT_EQ(dump(e.lists.todos),
            dump(std::vector<TodoItem>{{0, "1", "Build", "done", at + "1"}, {1, "3", "Test", "pending", at + "3"}}));
}

// Each run a subagent result reports is a sub-agent: one run takes the
// call's id, several add their index; the state follows the exit code and
// the stop reason.
TEST(PiSubAgents, EachReportedRunWithItsState) {
  struct Case {
    std::string_view rest;
    ActivityState state;
  };
  const Case cases[] = {
      {R"("exitCode":0)", ActivityState::Finished},
      {R"("exitCode":2)", ActivityState::Failed},
      {R"("exitCode":0,"stopReason":"error")", ActivityState::Failed},
      {R"("exitCode":1,"stopReason":"aborted")", ActivityState::Cancelled},
      {R"("exitCode":-1)", ActivityState::Running},
      {R"("exitCode":"0")", ActivityState::Unknown},
  };
  for (const Case& c : cases) {
    RunArtifacts run =
        run_with({{kLog, lines_of({result("subagent", "call_1",
                                          text::concat({R"({"mode":"single","results":[)",
                                                        run_of("worker", "List the files.", c.rest), "]}"}))})}});
    PiParser parser = make();
    auto agents = parser.sub_agents(run, *testing::enrich(parser, run).context);
    ASSERT_EQ(agents.size(), 1u) << c.rest;
    EXPECT_EQ(detail::record_json(agents[0]),
              detail::record_json(SubAgent{"call_1", "worker", "List the files.", c.state, kLog + ":1"}))
        << c.rest;
  }

  // Two runs of one parallel call; a later report of a run replaces the earlier one; no agent name is "Sub-agent".
  RunArtifacts run = run_with(
      {{kLog,
        lines_of({result("subagent", "call_2",
                         text::concat({R"({"mode":"parallel","results":[)", run_of("a", "one", R"("exitCode":-1)"), ",",
                                       run_of(" ", "two", R"("exitCode":-1)"), "]}"})),
                  result("subagent", "call_2",
                         text::concat({R"({"mode":"parallel","results":[)", run_of("a", "one", R"("exitCode":0)"), ",",
                                       run_of(" ", "two", R"("exitCode":3)"), "]}"}))})}});
  PiParser parser = make();
  EXPECT_EQ(dump(parser.sub_agents(run, *testing::enrich(parser, run).context)),
            dump(std::vector<SubAgent>{{"call_2:1", "a", "one", ActivityState::Finished, kLog + ":2"},
                                       {"call_2:2", "Sub-agent", "two", ActivityState::Failed, kLog + ":2"}}));
}

}  // namespace
}  // namespace tl
