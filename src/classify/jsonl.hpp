// The generic reader of JSONL transcripts: messages, tool calls with their
// results, and todos, from the shapes that Claude, pi, omp, Codex and
// OpenCode logs share.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "../artifacts.hpp"
#include "../json.hpp"
#include "../model.hpp"
#include "todos.hpp"

namespace tl {

namespace jsonl_line {
struct MessageFields;
}

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
  struct Line;
  void read_message(const Line& l);
  void read_blocks(Line& l, json::Array blocks);
  void read_tool_call(const Line& l, json::Element block);
  void read_tool_result(Line& l, json::Element block);
  static const jsonl_line::MessageFields& block_object(const Line& l);

  std::string_view path_;
  std::vector<Message>& messages_;
  std::vector<ToolCall>& tool_calls_;
  std::vector<TodoItem>& todos_;
  std::unordered_map<std::string, std::size_t> call_index_;
  TaskTodoCollector tasks_;
};

// A user text as a prompt: cleaned (harness-made texts dropped, reminder
// blocks removed) and compacted, or nothing when it is no real prompt. A
// slash command counts only in a turn that a human started.
std::optional<std::string> clean_user_prompt(std::string_view text, bool human_turn);

void parse_jsonl_messages(const TextArtifact& artifact, std::vector<Message>& messages,
                          std::vector<ToolCall>& tool_calls, std::vector<TodoItem>& todos);

// True when `type` is a string that begins with "api-request".
bool is_api_request_line(json::Element line);
// The same for a line's "type" member, already looked up.
bool is_api_request_type(std::optional<json::Element> type);

}  // namespace tl
