#include <gtest/gtest.h>

#include "detail.hpp"
#include "jsonl.hpp"
#include "todos.hpp"

namespace tl {
using namespace detail;
namespace {

json::Element parsed(json::DocParser& p, std::string_view text) {
  auto e = p.parse(text);
  EXPECT_TRUE(e) << text;
  return *e;
}

TEST(TodoState, Vocabulary) {
  EXPECT_EQ(normalize_todo_state("In-Progress"), "current");
  EXPECT_EQ(normalize_todo_state(" COMPLETED "), "done");
  for (const char* done : {"done", "Success", "complete", "succeeded"}) EXPECT_EQ(normalize_todo_state(done), "done");
  EXPECT_EQ(normalize_todo_state("not-started"), "pending");
  EXPECT_EQ(normalize_todo_state("in progress"), std::nullopt);
  EXPECT_EQ(normalize_todo_state(""), std::nullopt);
  EXPECT_EQ(normalize_todo_state("Cancelled"), std::nullopt);
  EXPECT_EQ(normalize_todo_state("abandoned"), std::nullopt);
  EXPECT_EQ(todo_state_of_word("cancelled"), "cancelled");
  EXPECT_EQ(todo_state_of_word("Done"), std::nullopt);
}

TEST(ChecklistPrefixes, StatesAndContent) {
  std::vector<TodoItem> todos;
  parse_todos("screen.txt",
              "- [x] Write the parser\n"
              "[ ] add tests\n"
              "  - [~] refactor  \n"
              "1. [x] numbered checkbox is not a todo\n"
              "2) pending review\n"
              "3. In progress: no (capital)\n"
              "in progress docs\n"
              "x ship it\n"
              "done: release\n"
              "completed: cleanup\n"
              "todo: todo: twice\n"
              "- [ ]   \n"
              "TODO: upper case is not a todo\n",
              todos);
  ASSERT_EQ(todos.size(), 9u);
  auto check = [&](std::size_t i, std::string_view content, std::string_view state, std::string_view source) {
    EXPECT_EQ(todos[i].content, content) << i;
    EXPECT_EQ(todos[i].state, state) << i;
    EXPECT_EQ(todos[i].source, source) << i;
    EXPECT_EQ(todos[i].position, i);
    EXPECT_FALSE(todos[i].id);
  };
  check(0, "Write the parser", "done", "screen.txt:1");
  check(1, "add tests", "pending", "screen.txt:2");
  check(2, "refactor", "current", "screen.txt:3");
  check(3, "pending review", "pending", "screen.txt:5");
  check(4, "in progress docs", "current", "screen.txt:7");
  check(5, "ship it", "done", "screen.txt:8");
  check(6, "release", "done", "screen.txt:9");
  check(7, "completed: cleanup", "done", "screen.txt:10");
  check(8, "todo: twice", "pending", "screen.txt:11");
}

TEST(ChecklistPrefixes, ScanStopsAtOneHundredTodos) {
  std::string text;
  for (int i = 0; i < 120; ++i) text += "- [ ] task " + std::to_string(i) + "\n";
  std::vector<TodoItem> todos;
  parse_todos("t", text, todos);
  EXPECT_EQ(todos.size(), 100u);
  // A list already full takes one more item per scan.
  parse_todos("u", "- [ ] a\n- [ ] b\n", todos);
  EXPECT_EQ(todos.size(), 101u);
}

TEST(StructuredTodos, ValuesObjectsAndFields) {
  json::DocParser p;
  std::vector<TodoItem> todos;
  parse_todo_value("f:3", parsed(p, R"({"todos":[
      {"content":"  first  ","status":"in_progress","id":"a"},
      {"content":"no state"},
      {"subject":7,"description":"from description","state":"done"},
      {"title":"t","status":"pending","taskId":5},
      {"text":"","status":"pending"},
      {"content":"x","status":3}
    ]})"),
                   todos);
  ASSERT_EQ(todos.size(), 3u);
  EXPECT_EQ(todos[0].content, "first");
  EXPECT_EQ(todos[0].state, "current");
  EXPECT_EQ(todos[0].id, "a");
  EXPECT_EQ(todos[0].source, "f:3:1");
  // "subject" is present but not a string: "description" is used.
  EXPECT_EQ(todos[1].content, "from description");
  EXPECT_EQ(todos[1].state, "done");
  EXPECT_EQ(todos[1].source, "f:3:3");
  // A numeric taskId is not an id.
  EXPECT_EQ(todos[2].content, "t");
  EXPECT_EQ(todos[2].source, "f:3:4");
  EXPECT_FALSE(todos[2].id);
  todos.clear();
  parse_todo_value("g", parsed(p, R"({"subject":7,"description":"from description","state":"done"})"), todos);
  ASSERT_EQ(todos.size(), 1u);
  EXPECT_EQ(todos[0].content, "from description");
  EXPECT_EQ(todos[0].source, "g");
  todos.clear();
  // A "todos" member that is not an array makes the object itself the todo.
  parse_todo_value("h", parsed(p, R"({"todos":"x","content":"self","status":"open"})"), todos);
  ASSERT_EQ(todos.size(), 1u);
  EXPECT_EQ(todos[0].content, "self");
  todos.clear();
  parse_todo_value("i", parsed(p, R"([{"content":"a","status":"done"},"bare",{"content":"b","status":"todo"}])"),
                   todos);
  ASSERT_EQ(todos.size(), 2u);
  EXPECT_EQ(todos[1].source, "i:3");
  todos.clear();
  parse_todo_value("j", parsed(p, "\"just text\""), todos);
  EXPECT_TRUE(todos.empty());
}

TEST(StructuredTodos, WholeFileAsOneValue) {
  std::vector<TodoItem> todos;
  parse_structured_todos(TextArtifact{"home/.claude/todos/s.json", R"([{"content":"c","status":"completed"}])"}, todos);
  ASSERT_EQ(todos.size(), 1u);
  EXPECT_EQ(todos[0].source, "home/.claude/todos/s.json:1");
  parse_structured_todos(TextArtifact{"x.jsonl", "{\"content\":\"a\",\"status\":\"done\"}\n{}"}, todos);
  EXPECT_EQ(todos.size(), 1u);
}

TEST(Dedupe, IdsAndContentsMatchSeparately) {
  std::vector<TodoItem> todos = {
      {0, std::nullopt, "Write Tests", "pending", "a:1"},     {1, std::string("7"), "x", "pending", "a:2"},
      {2, std::nullopt, "write tests", "done", "a:3"},        {3, std::string("7"), "y", "done", "a:4"},
      {4, std::string("X"), "write tests", "pending", "a:5"}, {5, std::string("x"), "other", "pending", "a:6"},
  };
  dedupe_todos(todos);
  ASSERT_EQ(todos.size(), 4u);
  EXPECT_EQ(todos[0].content, "write tests");
  EXPECT_EQ(todos[0].state, "done");
  EXPECT_EQ(todos[0].source, "a:3");
  EXPECT_EQ(todos[1].content, "y");
  EXPECT_EQ(todos[2].id, "X");
  EXPECT_EQ(todos[3].id, "x");
  for (std::size_t i = 0; i < todos.size(); ++i) EXPECT_EQ(todos[i].position, i);
}

// Task tools through the JSONL reader, which owns the collector.
std::vector<TodoItem> task_todos(const std::string& transcript) {
  std::vector<Message> messages;
  std::vector<ToolCall> calls;
  std::vector<TodoItem> todos;
  parse_jsonl_messages(TextArtifact{"t.jsonl", transcript}, messages, calls, todos);
  return todos;
}

std::string tool_use(std::string_view id, std::string_view name, std::string_view input) {
  std::string block = "{\"type\":\"tool_use\",";
  if (!id.empty()) block += "\"id\":\"" + std::string(id) + "\",";
  block += "\"name\":\"" + std::string(name) + "\",\"input\":" + std::string(input) + "}";
  return "{\"type\":\"assistant\",\"message\":{\"role\":\"assistant\",\"content\":[" + block + "]}}\n";
}

std::string tool_result(std::string_view id, std::string_view text) {
  return "{\"type\":\"user\",\"message\":{\"role\":\"user\",\"content\":[{\"type\":\"tool_result\",\"tool_use_id\":\"" +
         std::string(id) + "\",\"content\":\"" + std::string(text) + "\"}]}}\n";
}

const std::string kUserPrompt = "{\"type\":\"user\",\"message\":{\"role\":\"user\",\"content\":\"next\"}}\n";

TEST(TaskTools, CreationResultRenamesAndUpdatesFollow) {
  auto todos = task_todos(tool_use("toolu_1", "TaskCreate", R"({"subject":"Draft plan"})") +
                          tool_result("toolu_1", "Task #7 created: Draft the plan") +
                          tool_use("toolu_2", "TaskUpdate", R"({"taskId":"7","status":"completed"})"));
  ASSERT_EQ(todos.size(), 1u);
  EXPECT_EQ(todos[0].id, "7");
  EXPECT_EQ(todos[0].content, "Draft the plan");
  EXPECT_EQ(todos[0].state, "done");
  EXPECT_EQ(todos[0].source, "t.jsonl:1");
}

TEST(TaskTools, KeysWithoutIdAreNotBareNumbers) {
  auto todos = task_todos(tool_use("", "TaskCreate", R"({"description":"  Thing  "})") +
                          tool_use("", "TaskUpdate", R"({"taskId":"1","status":"completed"})"));
  ASSERT_EQ(todos.size(), 1u);
  EXPECT_EQ(todos[0].id, "task:1");
  EXPECT_EQ(todos[0].content, "Thing");
  EXPECT_EQ(todos[0].state, "pending");
}

TEST(TaskTools, DeletionAndTurnBoundaries) {
  // Deleted under its current key: gone even though touched this turn.
  auto deleted = task_todos(tool_use("a", "TaskCreate", R"({"subject":"one"})") +
                            tool_use("b", "TaskUpdate", R"({"taskId":"tool:a","status":"deleted"})"));
  EXPECT_TRUE(deleted.empty());
  // A real prompt ends the turn: untouched tasks are not reported.
  auto turns = task_todos(tool_use("a", "TaskCreate", R"({"subject":"one"})") +
                          tool_use("b", "TaskCreate", R"({"subject":"two"})") + kUserPrompt +
                          tool_use("c", "TaskUpdate", R"({"taskId":"tool:b","subject":"two again","state":"active"})"));
  ASSERT_EQ(turns.size(), 1u);
  EXPECT_EQ(turns[0].content, "two again");
  EXPECT_EQ(turns[0].state, "current");
  // A numeric taskId is not a string: nothing changes, but the flag is not
  // needed for the create to be reported.
  auto numeric = task_todos(tool_use("a", "TaskCreate", R"({"subject":"one"})") +
                            tool_use("b", "TaskUpdate", R"({"taskId":1,"status":"deleted"})"));
  ASSERT_EQ(numeric.size(), 1u);
  // Empty subjects create nothing.
  EXPECT_TRUE(task_todos(tool_use("a", "TaskCreate", R"({"subject":"   "})")).empty());
}

TEST(TaskTools, ResultLinePattern) {
  auto no_match =
      task_todos(tool_use("a", "TaskCreate", R"({"subject":"one"})") + tool_result("a", "Task #12x is bad\\nTask #"));
  ASSERT_EQ(no_match.size(), 1u);
  EXPECT_EQ(no_match[0].id, "tool:a");
  auto later_line = task_todos(tool_use("a", "TaskCreate", R"({"subject":"one"})") +
                               tool_result("a", "Created.\\n   Task #3\\tdone"));
  ASSERT_EQ(later_line.size(), 1u);
  EXPECT_EQ(later_line[0].id, "3");
  EXPECT_EQ(later_line[0].content, "one");
}

}  // namespace
}  // namespace tl
