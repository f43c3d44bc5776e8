#include "omp.hpp"

#include <gtest/gtest.h>

#include "../model_detail.hpp"
#include "../test_runs.hpp"
#include "../text.hpp"

namespace tl {
namespace {

using testing::lines_of;
using testing::run_with;

constexpr const char* kDir = "snapshots/s/home/.omp/agent/sessions/-work/";
const std::string kMain = std::string(kDir) + "2026-12-07T21-01-36_main.jsonl";

std::string sub_path(std::string_view name) {
  return text::concat({kDir, "2026-12-07T21-01-36_main/", name, ".jsonl"});
}

OmpParser make() { return OmpParser("omp", "18::2::3", ParserResolution::Exact); }

std::string user(std::string_view text) {
  return text::concat(
      {R"({"type":"message","message":{"role":"user","content":[{"type":"text","text":")", text, R"("}]}})"});
}
std::string answer(std::string_view text) {
  return text::concat(
      {R"({"type":"message","message":{"role":"assistant","content":[{"type":"text","text":")", text, R"("}]}})"});
}
std::string call(std::string_view name, std::string_view id) {
  return text::concat({R"({"type":"message","message":{"role":"assistant","content":[{"type":"toolCall","id":")", id,
                       R"(","name":")", name, R"(","arguments":{}}]}})"});
}
std::string result(std::string_view name, std::string_view id, std::string_view details = "{}") {
  return text::concat({R"({"type":"message","message":{"role":"toolResult","toolCallId":")", id, R"(","toolName":")",
                       name, R"(","content":[{"type":"text","text":"ok"}],"details":)", details, "}}"});
}
std::string sub_session(std::string_view id) {
  return text::concat({R"({"type":"session","version":3,"id":")", id, R"(","parentSession":"/home/x/main.jsonl"})"});
}
const std::string kExit = R"({"type":"custom","customType":"session_exit","data":{"reason":"dispose"}})";

std::string phases(std::string_view tasks) {
  return text::concat({R"({"op":"update","phases":[{"name":"A","tasks":[)", tasks, R"(]},{"name":"B","tasks":[)",
                       R"({"content":"Ship","status":"pending"}]}]})"});
}

template <typename T>
std::string dump(const std::vector<T>& items) {
  std::string out;
  for (const auto& item : items) out += detail::record_json(item) + "\n";
  return out;
}

// Each todo result holds the whole list; only the last one counts, its tasks
// numbered across the phases, states normalised.
TEST(OmpTodos, ALaterListReplacesTheEarlierOne) {
  RunArtifacts run = run_with(
      {{kMain,
        lines_of({R"({"type":"session","version":3,"id":"m"})", user("go"), call("todo", "c1"),
                  result("todo", "c1", phases(R"({"content":"Build","status":"in_progress"})")), call("todo", "c2"),
                  result("todo", "c2",
                         phases(R"({"content":"Build","status":"completed"},{"content":"Test","status":"abandoned"})")),
                  result("bash", "c3", phases(R"({"content":"Not a todo result","status":"pending"})"))})}});
  auto e = testing::enrich(make(), run);
  const std::string at = kMain + ":6:TodoWrite:";
  EXPECT_EQ(dump(e.lists.todos), dump(std::vector<TodoItem>{{0, std::nullopt, "Build", "done", at + "1"},
                                                            {1, std::nullopt, "Ship", "pending", at + "3"}}));
  // A session without a todo result adds none.
  EXPECT_TRUE(testing::enrich(make(), run_with({{kMain, lines_of({user("go")})}})).lists.todos.empty());
}

TEST(OmpTodos, AMainSessionsListWinsOverASubAgents) {
  RunArtifacts run =
      run_with({{kMain, lines_of({R"({"type":"session","id":"m"})",
                                  result("todo", "c1", phases(R"({"content":"Main","status":"done"})"))})},
                {sub_path("Worker"),
                 lines_of({sub_session("w"), result("todo", "c2", phases(R"({"content":"Sub","status":"done"})"))})}});
  auto e = testing::enrich(make(), run);
  ASSERT_EQ(e.lists.todos.size(), 2u);
  EXPECT_EQ(e.lists.todos[0].content, "Main");
  RunArtifacts only_sub =
      run_with({{sub_path("Worker"),
                 lines_of({sub_session("w"), result("todo", "c2", phases(R"({"content":"Sub","status":"done"})"))})}});
  EXPECT_EQ(testing::enrich(make(), only_sub).lists.todos.at(0).content, "Sub");
}

// The last non-empty title of the main sessions; a sub-agent's is not the run's.
TEST(OmpTitle, LastTitleOfTheMainSession) {
  RunArtifacts run = run_with(
      {{kMain, lines_of({R"({"type":"title","v":1,"title":"First","pad":"   "})", R"({"type":"session","id":"m"})",
                         R"({"type":"title_change","title":" Second "})", R"({"type":"title_change","title":"  "})"})},
       {sub_path("Worker"), lines_of({R"({"type":"title","title":"Sub title"})", sub_session("w")})}});
  auto e = testing::enrich(make(), run);
  EXPECT_EQ(make().title(run, *e.context), "Second");
  RunArtifacts untitled = run_with({{kMain, lines_of({R"({"type":"title","title":""})"})}});
  EXPECT_EQ(make().title(untitled, *testing::enrich(make(), untitled).context), std::nullopt);
}

// A session with a parentSession is a sub-agent, finished when it yielded
// its result, exited, or ended with an answer; running otherwise.
TEST(OmpSubAgents, SessionsWithAParentSession) {
  const std::string long_prompt(450, 'p');
  RunArtifacts run = run_with({
      {kMain, lines_of({R"({"type":"session","id":"m"})", user("go"), call("task", "t1")})},
      {sub_path("Yielded"),
       lines_of({"", sub_session("y"), user("List the files"), call("yield", "y1"), result("yield", "y1")})},
      {sub_path("Exited"), lines_of({sub_session("e"), user(long_prompt), call("bash", "b1"), kExit})},
      {sub_path("Answered"), lines_of({sub_session("a"), call("bash", "b2"), result("bash", "b2"), answer("done")})},
      {sub_path("Waiting"), lines_of({sub_session("r"), user("wait"), call("yield", "y2")})},
      {sub_path("Working"), lines_of({sub_session("w"), answer("partial"), call("bash", "b3")})},
  });
  auto e = testing::enrich(make(), run);
  run.metadata = json::Value({{"subAgentsObserved", true}});
  std::vector<SubAgent> agents = make().sub_agents(run, *e.context);
  ASSERT_EQ(agents.size(), 6u);
  EXPECT_EQ(agents[0].id, "omp-observed");
  EXPECT_EQ(dump(std::vector<SubAgent>(agents.begin() + 1, agents.end())),
            dump(std::vector<SubAgent>{
                {"y", "Yielded", "List the files", ActivityState::Finished, sub_path("Yielded") + ":2"},
                {"e", "Exited", std::string(400, 'p'), ActivityState::Finished, sub_path("Exited") + ":1"},
                {"a", "Answered", "", ActivityState::Finished, sub_path("Answered") + ":1"},
                {"r", "Waiting", "wait", ActivityState::Running, sub_path("Waiting") + ":1"},
                {"w", "Working", "", ActivityState::Running, sub_path("Working") + ":1"},
            }));
  // Their messages and calls stay part of the run.
  EXPECT_EQ(e.lists.messages.size(), 8u);
  EXPECT_EQ(e.lists.calls.size(), 6u);
}

}  // namespace
}  // namespace tl
