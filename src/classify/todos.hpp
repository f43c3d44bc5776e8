// Todos: checklist lines in free text, structured todo lists (TodoWrite
// inputs, task and todo files), tasks followed through TaskCreate and
// TaskUpdate calls, and the de-duplication of the run's todo list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "../artifacts.hpp"
#include "../json.hpp"
#include "../model.hpp"

namespace tl {

// A checklist scan stops once the todo list holds this many items.
inline constexpr std::size_t kTodoScanLimit = 100;

// The one vocabulary of todo states: the state ("done", "pending" or
// "current") that a status word names exactly as written, or "cancelled",
// which each reader shows its own way; none for a word it does not hold.
std::optional<std::string_view> todo_state_of_word(std::string_view word);
// The todo state of a status word in any letter case, with surrounding
// whitespace and hyphens for underscores ("In-Progress" is "in_progress");
// none for a cancelled item, which is left out.
std::optional<std::string_view> normalize_todo_state(std::string_view state);
// Checklist lines of `text`; sources are `path`, a colon and the line number.
void parse_todos(std::string_view path, std::string_view text, std::vector<TodoItem>& todos);
// One line of that scan; true when it appended a todo.
bool todo_from_line(std::string_view path, std::uint64_t number, std::string_view line, std::vector<TodoItem>& todos);
// A structured todo list (an array of items, or an object holding one under
// "todos", "items" or "tasks"); sources are `source`, ":TodoWrite:" and the
// item's 1-based index.
void parse_todo_value(std::string_view source, json::Element value, std::vector<TodoItem>& todos);
// Every line of a task or todo file read as a structured todo list.
void parse_structured_todos(const TextArtifact& artifact, std::vector<TodoItem>& todos);
// Later items replace earlier ones with the same id (or, without id, the same
// lower-cased content) in the earlier one's slot; positions are renumbered.
void dedupe_todos(std::vector<TodoItem>& todos);

// Keys in order of first insertion, with constant-time membership, removal
// and replacement in place.
class OrderedKeys {
 public:
  bool contains(const std::string& key) const { return index_.count(key) != 0; }
  void add(const std::string& key);
  void remove(const std::string& key);
  // `replacement` takes the slot of `key`; if it is already present, `key`
  // is only removed.
  void replace(const std::string& key, const std::string& replacement);
  void clear();
  template <typename Fn>
  void for_each(Fn fn) const {
    for (const auto& k : order_) {
      if (k) fn(*k);
    }
  }

 private:
  std::vector<std::optional<std::string>> order_;
  std::unordered_map<std::string, std::size_t> index_;
};

// Follows TaskCreate and TaskUpdate calls through one JSONL file. Only the
// tasks touched since the file's last real user prompt are reported.
class TaskTodoCollector {
 public:
  // One TaskCreate or TaskUpdate call with its input.
  void apply_update(std::string_view name, json::Element input, const std::optional<std::string>& tool_use_id,
                    std::string_view source);
  void note_current_turn(const std::string& key);
  // A tool result with text for `tool_use_id`: names a pending creation's task.
  void check_result(std::string_view tool_use_id, std::string_view text);
  void clear_current_turn() { current_turn_.clear(); }
  void flush(std::vector<TodoItem>& todos) const;

 private:
  void parse_created_task_result(const std::string& key, std::string_view text);

  std::unordered_map<std::string, TodoItem> todos_;
  OrderedKeys current_turn_;
  std::unordered_map<std::string, std::string> pending_;
  std::uint64_t counter_ = 0;
  bool seen_ = false;
};

}  // namespace tl
