// Harness-independent analysis of a run: the generic JSONL reader, todos,
// tool errors, the activity decision and user turns.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "../artifacts.hpp"
#include "../json.hpp"
#include "../model.hpp"

namespace tl {

struct CommonParse {
  Activity activity;
  std::vector<Message> messages;
  std::vector<ToolCall> tool_calls;
  std::vector<TodoItem> todos;
  std::vector<Approval> approvals;
  std::vector<ToolError> tool_errors;
  std::vector<UserTurn> user_turns;
};

CommonParse common_parse(const RunArtifacts& run, std::string_view family);

// ---- small text operations --------------------------------------------------

std::optional<std::string> json_text(json::Element value);
// json_text as a view: into the parsed value when there is one piece, else
// into `storage`, which holds the joined pieces.
std::optional<std::string_view> json_text_view(json::Element value, std::string& storage);
// truncate_readable of json_text, without joining when there is one piece.
std::optional<std::string> json_text_truncated(json::Element value, std::size_t max_chars);
std::string strip_tag_blocks(std::string_view text, std::string_view tag);
std::optional<std::string> slash_command_prompt(std::string_view text);
// The trimmed text between the first "<tag>" and the first "</tag>" after it.
std::optional<std::string_view> xml_tag(std::string_view text, std::string_view tag);
// "path:N" (or "path:N:TodoWrite:K", "path:N:plan:K") to its path and line.
std::optional<std::pair<std::string_view, std::uint64_t>> source_location(std::string_view source);

// ---- todos ------------------------------------------------------------------

std::optional<std::string_view> normalize_todo_state(std::string_view state);
// Checklist lines of `text`; sources are `path`, a colon and the line number.
void parse_todos(std::string_view path, std::string_view text, std::vector<TodoItem>& todos);
// One line of that scan; true when it appended a todo.
bool todo_from_line(std::string_view path, std::uint64_t number, std::string_view line, std::vector<TodoItem>& todos);
void parse_todo_value(std::string_view source, json::Element value, std::vector<TodoItem>& todos);
void parse_todo_object(std::string_view source, json::Element value, std::vector<TodoItem>& todos);
void parse_structured_todos(const TextArtifact& artifact, std::vector<TodoItem>& todos);
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

// Follows TaskCreate and TaskUpdate calls through one JSONL file.
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

// ---- JSONL transcripts -----------------------------------------------------

// Reads one JSONL transcript line by line into the three lists. Callers that
// read the same file for other purposes feed it the lines they have parsed,
// so that every line is parsed once.
class JsonlMessageReader {
 public:
  JsonlMessageReader(std::string_view path, std::vector<Message>& messages, std::vector<ToolCall>& tool_calls,
                     std::vector<TodoItem>& todos);
  // One line: its number, its text and its parsed value (null when the line
  // is not one JSON value).
  void line(std::uint64_t number, std::string_view raw, const json::Element* parsed);
  // End of file: the task collector reports the current turn's tasks.
  void finish();

 private:
  void block_walk(json::Element line, json::Element content, const std::optional<std::string>& timestamp,
                  std::string_view source);

  std::string_view path_;
  std::vector<Message>& messages_;
  std::vector<ToolCall>& tool_calls_;
  std::vector<TodoItem>& todos_;
  std::unordered_map<std::string, std::size_t> call_index_;
  TaskTodoCollector tasks_;
};

void parse_jsonl_messages(const TextArtifact& artifact, std::vector<Message>& messages,
                          std::vector<ToolCall>& tool_calls, std::vector<TodoItem>& todos);

// True when `type` is a string that begins with "api-request".
bool is_api_request_line(json::Element line);

// ---- user turns -------------------------------------------------------------

using TurnLineIndex = std::unordered_map<std::string_view, std::vector<std::pair<std::uint64_t, std::size_t>>>;

std::vector<UserTurn> group_user_turns(const std::vector<Message>& messages, const std::vector<ToolCall>& tool_calls,
                                       const std::vector<TodoItem>& todos, ActivityState state);
std::optional<std::size_t> turn_owner_for_source(std::string_view source, const TurnLineIndex& index);

// ---- tool errors and activity -----------------------------------------------

inline constexpr std::size_t kToolErrorScanLimit = 50;
inline constexpr std::size_t kTodoScanLimit = 100;

void parse_tool_errors(std::string_view path, std::string_view text, std::vector<ToolError>& errors);
// One line of that scan at a time, for callers that read the lines anyway.
class ToolErrorScanner {
 public:
  void line(std::string_view path, std::uint64_t number, std::string_view line, std::vector<ToolError>& errors);

 private:
  json::Parser parser_;
};
bool looks_provider_api_error_line(std::string_view lower_line);
std::optional<std::string> structured_tool_error_text(std::string_view output);

using LatestLines = std::unordered_map<std::string_view, std::uint64_t>;
LatestLines latest_activity_lines(const std::vector<Message>& messages, const std::vector<ToolCall>& tool_calls);
std::optional<std::string> terminal_abort_source(std::string_view terminal, const LatestLines& latest,
                                                 const std::vector<ToolCall>& tool_calls);
std::optional<std::string> terminal_tool_error_source(const std::vector<Message>& messages,
                                                      const std::vector<ToolError>& tool_errors,
                                                      const std::vector<ToolCall>& tool_calls);
Activity activity(ActivityState state, std::string_view kind, std::string_view reason,
                  std::optional<std::string> source);
Activity classify_activity(const RunArtifacts& run, const std::vector<Message>& messages,
                           const std::vector<Approval>& approvals, const std::vector<ToolError>& tool_errors,
                           const std::vector<ToolCall>& tool_calls);

}  // namespace tl
