// The Codex event stream: each line of a Codex session log is a record with a
// timestamp, a type ("event_msg", "response_item", ...) and a typed payload.
// The reader turns the records into messages (from events, with ids taken
// from the matching response items), tool calls joined with their outputs,
// plan todos and messages between agents.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "../artifacts.hpp"
#include "../json.hpp"
#include "../model.hpp"
#include "../text.hpp"

namespace tl {

// A response item's id waiting for the event message that says the same.
struct CodexMessageId {
  std::string role;
  std::string text;
  std::string id;
};

// The fields of one Codex record (a parsed line): each absent when missing or
// not a string (the payload: when missing).
struct CodexRecord {
  std::optional<std::string_view> type;
  std::optional<json::Element> payload;
  std::optional<std::string_view> payload_type;  // the payload's "type"
  std::optional<std::string_view> timestamp;
};

// The record fields of a parsed line, read in one walk over its members.
CodexRecord codex_record(json::Element line);

// Where the current plan of a log comes from: the call that set it. Its todos
// are made once, at the end of the file, since a later plan or user message
// usually replaces it.
struct CodexPlanSource {
  bool from_code = false;  // the code of an "exec" call, else update_plan arguments
  std::string text;
  std::uint64_t line = 0;
};

// A message made from a completed turn item.
struct CodexItemMessage {
  std::string role;
  std::string text;  // trimmed, not yet shortened
};

inline constexpr std::size_t kCodexPendingIds = 16;
inline constexpr std::size_t kCodexIdSearchDepth = 16;

// True when `response`, with whitespace runs collapsed to single spaces and
// the ends trimmed, ends with `event` treated the same way, and `event` is not
// empty then.
bool same_codex_message_text(std::string_view event, std::string_view response);
// The string "text" members of the array's elements, joined with line feeds.
std::string codex_response_message_text(json::Element content);
// The "input_text" texts of an inter-agent message's content, joined with line
// feeds; none when there is no content array or the text is blank.
std::optional<std::string> codex_agent_message_text(json::Element payload);
// The message an "item_completed" event's item stands for, if any.
std::optional<CodexItemMessage> codex_completed_item_message(json::Element item);
// The plan todos of a plan array; sources are `line_source`, ":plan:" and the
// element's number.
std::vector<TodoItem> codex_plan_todos(simdjson::dom::array plan, std::string_view line_source);
// Whether the log's messages arrive only as completed turn items: it has an
// "item_completed" event and no user, agent or assistant message event. Fed
// the log's lines in order; the first message event decides it, otherwise
// only the end of the log does.
class CodexItemModeScan {
 public:
  void line(std::string_view line);
  bool decided() const { return decided_; }
  bool on() const { return on_; }

 private:
  json::DocParser parser_;
  bool on_ = false;
  bool decided_ = false;
};
// The same over a whole text.
bool codex_item_completed_mode(std::string_view text);

// True when a line of a command's output, trimmed and lower-cased, reports a
// non-zero exit status: "process exited with code N" (Codex 0.130 on) or
// "exit code: N" (earlier versions).
bool codex_exit_status_failed(std::string_view output);
// The call id of a call that the event reports failed: an "exec_command_end"
// with a non-zero "exit_code", or an "item_completed" whose item (the call,
// by its id) has status "failed" or a non-zero "exit_code".
std::optional<std::string_view> codex_failed_call_event(std::string_view record_type, std::string_view payload_type,
                                                        json::Element payload);

// Reads one Codex log line by line into three lists. The lists may already
// hold records; this reader only appends to them, sets ids on the messages it
// appended, and at the end may remove some of its own tool calls (renumbering
// every tool call of the list).
class CodexEventReader {
 public:
  // `item_completed_mode` is what CodexItemModeScan says of the whole log.
  CodexEventReader(std::string_view path, bool item_completed_mode, std::optional<std::string_view> agent_path,
                   std::vector<Message>& messages, std::vector<ToolCall>& tool_calls, std::vector<TodoItem>& todos);
  // One line: its number, its text and its parsed value (null when the line
  // is not one JSON value).
  void line(std::uint64_t number, std::string_view raw, const json::Element* parsed);
  // The same for a line whose record fields the caller has read.
  void record(std::uint64_t number, const CodexRecord& record);
  // End of file: collapses repeated custom tool calls and hands the last plan
  // over to the todo list. True when tool calls were removed (and the whole
  // tool-call list renumbered).
  bool finish();

 private:
  void event_message(std::uint64_t number, std::string_view payload_type, json::Element payload,
                     std::optional<std::string_view> timestamp);
  void completed_item(std::uint64_t number, json::Element payload, std::optional<std::string_view> timestamp);
  void aborted_turn(std::uint64_t number, json::Element payload, std::optional<std::string_view> timestamp);
  void response_message(json::Element payload);
  void agent_message(std::uint64_t number, json::Element payload, std::optional<std::string_view> timestamp);
  void tool_call(std::uint64_t number, std::string_view payload_type, json::Element payload,
                 std::optional<std::string_view> timestamp);
  void tool_result(std::uint64_t number, std::string_view payload_type, json::Element payload,
                   std::optional<std::string_view> timestamp);
  void plan_from_call(std::uint64_t number, std::string_view payload_type, json::Element payload);
  void append_message(std::uint64_t number, std::string role, std::string text, std::optional<std::string> id,
                      std::optional<std::string_view> timestamp);
  std::optional<std::string> claim_pending_id(std::string_view role, std::string_view text);
  void failed_call(std::string_view call_id);

  std::string_view path_;
  std::optional<std::string_view> agent_path_;
  std::vector<Message>& messages_;
  std::vector<ToolCall>& tool_calls_;
  std::vector<TodoItem>& todos_;
  bool item_completed_mode_ = false;
  std::size_t start_index_ = 0;
  std::vector<CodexMessageId> pending_ids_;
  text::TextMap<std::size_t> call_index_;
  std::vector<std::size_t> custom_calls_;
  // Calls that an event reported failed, by call id.
  text::TextMap<bool> failed_calls_;
  std::optional<CodexPlanSource> plan_;
  json::DocParser nested_parser_;
};

// Reads one Codex log into the three lists; `agent_path` is the sub-agent's
// path when the log belongs to a spawned sub-agent.
void parse_codex_events(const TextArtifact& artifact, std::optional<std::string_view> agent_path,
                        std::vector<Message>& messages, std::vector<ToolCall>& tool_calls,
                        std::vector<TodoItem>& todos);

}  // namespace tl
