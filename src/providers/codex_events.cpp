#include "codex_events.hpp"

#include <algorithm>

#include "../classify/transcript_text.hpp"
#include "../text.hpp"
#include "codex_plan.hpp"

namespace tl {

namespace {

// Walks a text backwards in its whitespace-normalised form: pieces between
// whitespace runs, separated by single spaces, with the ends trimmed. Each
// step yields one character (its UTF-8 bytes) or one separating space.
class ReverseNormalized {
 public:
  explicit ReverseNormalized(std::string_view s) : s_(s), end_(s.size()) { skip_spaces(); }

  bool next(std::string_view& unit) {
    if (end_ == 0) return false;
    std::size_t start = char_start(end_);
    if (space_at(start)) {
      skip_spaces();
      if (end_ == 0) return false;  // leading whitespace
      unit = " ";
      return true;
    }
    unit = s_.substr(start, end_ - start);
    end_ = start;
    return true;
  }

 private:
  std::size_t char_start(std::size_t end) const {
    std::size_t i = end - 1;
    while (i > 0 && (static_cast<unsigned char>(s_[i]) & 0xC0) == 0x80) --i;
    return i;
  }
  bool space_at(std::size_t start) const {
    unsigned char b = static_cast<unsigned char>(s_[start]);
    if (b < 0x80) return text::is_space(b);
    std::size_t p = start;
    return text::is_space(text::decode(s_, p));
  }
  void skip_spaces() {
    while (end_ > 0) {
      std::size_t start = char_start(end_);
      if (!space_at(start)) break;
      end_ = start;
    }
  }

  std::string_view s_;
  std::size_t end_;
};

constexpr std::string_view kNewTask = "Message Type: NEW_TASK";

// The joined "text" strings of the content blocks whose type is "text" in any
// ASCII letter case.
std::string text_block_text(std::optional<simdjson::dom::array> blocks) {
  std::string out;
  if (!blocks) return out;
  text::LineJoiner joiner(out);
  for (json::Element block : *blocks) {
    auto type = json::string_member(block, "type");
    if (!type || !text::iequals_ascii(*type, "text")) continue;
    auto piece = json::string_member(block, "text");
    if (!piece) continue;
    joiner.add(*piece);
  }
  return out;
}

// "## My request", optionally followed by " for Codex" (repeated) and colons.
bool is_request_heading(std::string_view line) {
  constexpr std::string_view kHeading = "## My request";
  std::string_view t = text::trim(line);
  if (!t.starts_with(kHeading)) return false;
  std::string_view rest = t.substr(kHeading.size());
  constexpr std::string_view kForCodex = " for Codex";
  while (rest.starts_with(kForCodex)) rest.remove_prefix(kForCodex.size());
  while (rest.ends_with(':')) rest.remove_suffix(1);
  return rest.empty();
}

// The text after the first request heading that has text after it.
std::optional<std::string_view> request_after_heading(std::string_view cleaned) {
  std::size_t pos = 0;
  while (pos < cleaned.size()) {
    std::size_t nl = cleaned.find('\n', pos);
    std::string_view line = cleaned.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
    if (is_request_heading(line)) {
      std::string_view after = nl == std::string_view::npos ? std::string_view() : cleaned.substr(nl + 1);
      std::string_view t = text::trim(after);
      if (!t.empty()) return t;
    }
    if (nl == std::string_view::npos) break;
    pos = nl + 1;
  }
  return std::nullopt;
}

bool has_image_block(std::optional<simdjson::dom::array> blocks) {
  if (!blocks) return false;
  for (json::Element block : *blocks) {
    auto type = json::string_member(block, "type");
    if (type && (*type == "image" || *type == "local_image")) return true;
  }
  return false;
}

// The message text of an inter-agent message: for a new task, its payload or
// its task name; otherwise the whole text.
std::string_view inter_agent_text(std::string_view trimmed) {
  if (!trimmed.starts_with(kNewTask)) return trimmed;
  constexpr std::string_view kPayload = "\nPayload:\n";
  if (std::size_t at = trimmed.find(kPayload); at != std::string_view::npos) {
    std::string_view after = text::trim(trimmed.substr(at + kPayload.size()));
    if (!after.empty()) return after;
  }
  constexpr std::string_view kTaskName = "Task name:";
  std::size_t pos = 0;
  while (pos < trimmed.size()) {
    std::size_t nl = trimmed.find('\n', pos);
    std::string_view line = trimmed.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
    if (line.starts_with(kTaskName)) {
      std::string_view rest = text::trim(line.substr(kTaskName.size()));
      return rest.empty() ? trimmed : rest;
    }
    if (nl == std::string_view::npos) break;
    pos = nl + 1;
  }
  return trimmed;
}

bool result_looks_failed(std::string_view result) {
  for (std::string_view needle : {"exit code 1", "permission denied", "no permissions", "timed out"}) {
    if (text::lower_contains(result, needle)) return true;
  }
  return false;
}

// A JSON number other than zero.
bool nonzero_number(json::Element e) {
  if (e.is_int64()) return e.get_int64().value_unsafe() != 0;
  if (e.is_uint64()) return e.get_uint64().value_unsafe() != 0;
  if (e.is_double()) return e.get_double().value_unsafe() != 0.0;
  return false;
}

// The output's whole text (json_text of "output"), unshortened.
std::optional<std::string> tool_output_text(json::Element payload) {
  auto output = json::member(payload, "output");
  if (!output) return std::nullopt;
  if (auto s = json::as_string(*output)) return std::string(*s);
  return json_text(*output);
}

}  // namespace

bool codex_exit_status_failed(std::string_view output) {
  text::LineReader lines(output);
  std::string_view line;
  while (lines.next(line)) {
    const std::string_view t = text::trim(line);
    std::string_view number;
    for (std::string_view prefix : {"process exited with code ", "exit code: "}) {
      if (t.size() >= prefix.size() && text::iequals_ascii(t.substr(0, prefix.size()), prefix)) {
        number = t.substr(prefix.size());
      }
    }
    if (number.starts_with('-')) number.remove_prefix(1);
    if (number.empty()) continue;
    bool digits = true;
    bool nonzero = false;
    for (char c : number) {
      digits = digits && c >= '0' && c <= '9';
      nonzero = nonzero || (c >= '1' && c <= '9');
    }
    if (digits && nonzero) return true;
  }
  return false;
}

std::optional<std::string_view> codex_failed_call_event(std::string_view record_type, std::string_view payload_type,
                                                        json::Element payload) {
  if (record_type != "event_msg") return std::nullopt;
  if (payload_type == "exec_command_end") {
    auto call_id = json::string_member(payload, "call_id");
    auto code = json::member(payload, "exit_code");
    if (call_id && code && nonzero_number(*code)) return call_id;
    return std::nullopt;
  }
  if (payload_type == "item_completed") {
    auto item = json::member(payload, "item");
    if (!item) return std::nullopt;
    auto id = json::string_member(*item, "id");
    if (!id) return std::nullopt;
    auto status = json::string_member(*item, "status");
    auto code = json::member(*item, "exit_code");
    if ((status && *status == "failed") || (code && nonzero_number(*code))) return id;
  }
  return std::nullopt;
}

namespace {

// A tool output's text, shortened; none when it has none or it is blank.
std::optional<std::string> tool_result_text(json::Element payload) {
  auto output = json::member(payload, "output");
  if (!output) return std::nullopt;
  if (auto s = json::as_string(*output)) {
    if (text::is_blank(*s)) return std::nullopt;
    return text::truncate_readable(*s, text::kMessageChars);
  }
  auto joined = json_text(*output);
  if (!joined || text::is_blank(*joined)) return std::nullopt;
  return text::truncate_readable(*joined, text::kMessageChars);
}

// The text of a content array whose only string "text" member is in its only
// element: what codex_response_message_text gives, without a copy.
std::optional<std::string_view> single_text(json::Element content) {
  auto items = json::as_array(content);
  if (!items || items->size() != 1) return std::nullopt;
  return json::string_member(*items->begin(), "text");
}

}  // namespace

bool same_codex_message_text(std::string_view event, std::string_view response) {
  // A byte suffix is a suffix of the normalised texts too (the usual case:
  // the same text twice).
  if (response.ends_with(event)) return !text::is_blank(event);
  ReverseNormalized e(event);
  ReverseNormalized r(response);
  std::string_view eu;
  std::string_view ru;
  bool any = false;
  while (e.next(eu)) {
    any = true;
    if (!r.next(ru) || ru != eu) return false;
  }
  return any;
}

std::string codex_response_message_text(json::Element content) {
  std::string out;
  auto items = json::as_array(content);
  if (!items) return out;
  text::LineJoiner joiner(out);
  for (json::Element item : *items) {
    auto piece = json::string_member(item, "text");
    if (!piece) continue;
    joiner.add(*piece);
  }
  return out;
}

std::optional<std::string> codex_agent_message_text(json::Element payload) {
  auto content = json::member(payload, "content");
  auto items = content ? json::as_array(*content) : std::nullopt;
  if (!items) return std::nullopt;
  std::string out;
  text::LineJoiner joiner(out);
  for (json::Element item : *items) {
    auto type = json::string_member(item, "type");
    if (!type || *type != "input_text") continue;
    auto piece = json::string_member(item, "text");
    if (!piece) continue;
    joiner.add(*piece);
  }
  if (text::is_blank(out)) return std::nullopt;
  return out;
}

std::optional<CodexItemMessage> codex_completed_item_message(json::Element item) {
  auto content = json::member(item, "content");
  std::optional<simdjson::dom::array> blocks = content ? json::as_array(*content) : std::nullopt;
  auto type = json::string_member(item, "type");
  if (!type) return std::nullopt;
  if (*type == "AgentMessage") {
    std::string joined = text_block_text(blocks);
    std::string_view t = text::trim(joined);
    if (t.empty()) return std::nullopt;
    return CodexItemMessage{"assistant", std::string(t)};
  }
  if (*type != "UserMessage") return std::nullopt;
  std::string joined = text_block_text(blocks);
  std::string cleaned = strip_tag_blocks(joined, "in-app-browser-context");
  std::string_view t;
  if (auto request = request_after_heading(cleaned)) {
    t = *request;
  } else {
    t = text::trim(cleaned);
    if (t.empty()) t = text::trim(joined);
  }
  if (t.empty()) {
    if (!has_image_block(blocks)) return std::nullopt;
    return CodexItemMessage{"user", "[image]"};
  }
  return CodexItemMessage{"user", std::string(t)};
}

std::vector<TodoItem> codex_plan_todos(simdjson::dom::array plan, std::string_view line_source) {
  std::vector<TodoItem> out;
  std::size_t number = 0;
  for (json::Element item : plan) {
    ++number;
    auto step = json::string_member(item, "step");
    auto status = json::string_member(item, "status");
    if (!step || !status) continue;
    std::string_view state;
    if (*status == "pending") {
      state = "pending";
    } else if (*status == "in_progress") {
      state = "current";
    } else if (*status == "completed") {
      state = "done";
    } else {
      continue;
    }
    TodoItem todo;
    todo.position = out.size();
    if (auto id = json::first_present(item, {"id", "taskId", "task_id"})) todo.id = text::owned(json::as_string(*id));
    todo.content = text::compact(*step, text::kTodoChars);
    todo.state = std::string(state);
    todo.source = text::concat({line_source, ":plan:", std::to_string(number)});
    out.push_back(std::move(todo));
  }
  return out;
}

void CodexItemModeScan::line(std::string_view line) {
  if (decided_) return;
  const bool message_marker = text::contains(line, "\"user_message\"") || text::contains(line, "\"agent_message\"") ||
                              text::contains(line, "\"assistant_message\"");
  if (!message_marker) {
    if (!text::contains(line, "\"item_completed\"")) return;
    // A line with the item marker alone is a message event only when its
    // type is written with \u escapes; otherwise it can only turn the mode
    // on, which needs no second look once it is on.
    if (on_ && !text::contains(line, "\\u")) return;
  }
  auto parsed = parser_.parse(line);
  if (!parsed) return;
  auto type = json::string_member(*parsed, "type");
  if (!type || *type != "event_msg") return;
  auto payload_type = json::string_at(*parsed, "/payload/type");
  if (!payload_type) return;
  if (*payload_type == "user_message" || *payload_type == "agent_message" || *payload_type == "assistant_message") {
    on_ = false;
    decided_ = true;
  } else if (*payload_type == "item_completed") {
    on_ = true;
  }
}

bool codex_item_completed_mode(std::string_view text) {
  CodexItemModeScan scan;
  text::LineReader lines(text);
  std::string_view line;
  while (!scan.decided() && lines.next(line)) scan.line(line);
  return scan.on();
}

CodexEventReader::CodexEventReader(std::string_view path, bool item_completed_mode,
                                   std::optional<std::string_view> agent_path, std::vector<Message>& messages,
                                   std::vector<ToolCall>& tool_calls, std::vector<TodoItem>& todos)
    : path_(path),
      agent_path_(agent_path),
      messages_(messages),
      tool_calls_(tool_calls),
      todos_(todos),
      item_completed_mode_(item_completed_mode),
      start_index_(messages.size()) {}

CodexRecord codex_record(json::Element line) {
  CodexRecord r;
  std::optional<json::Element> type, timestamp;
  if (!json::read_fields(line, {{"type", &type}, {"payload", &r.payload}, {"timestamp", &timestamp}})) return r;
  if (type) r.type = json::as_string(*type);
  if (timestamp) r.timestamp = json::as_string(*timestamp);
  if (r.payload) r.payload_type = json::string_member(*r.payload, "type");
  return r;
}

void CodexEventReader::line(std::uint64_t number, std::string_view, const json::Element* parsed) {
  if (parsed == nullptr) return;
  record(number, codex_record(*parsed));
}

void CodexEventReader::record(std::uint64_t number, const CodexRecord& r) {
  // Without a string payload type the pair matches no handling.
  if (!r.payload_type) return;
  const std::string_view record_type = r.type.value_or("");
  const std::string_view pt = *r.payload_type;
  const json::Element payload = *r.payload;
  const auto timestamp = r.timestamp;
  if (auto failed = codex_failed_call_event(record_type, pt, payload)) failed_call(*failed);
  if (record_type == "event_msg") {
    if (pt == "user_message") {
      plan_.reset();
      event_message(number, pt, payload, timestamp);
    } else if (pt == "agent_message" || pt == "assistant_message") {
      event_message(number, pt, payload, timestamp);
    } else if (pt == "item_completed") {
      if (item_completed_mode_) completed_item(number, payload, timestamp);
    } else if (pt == "turn_aborted") {
      aborted_turn(number, payload, timestamp);
    }
  } else if (record_type == "response_item") {
    if (pt == "message") {
      response_message(payload);
    } else if (pt == "agent_message") {
      agent_message(number, payload, timestamp);
    } else if (pt == "function_call" || pt == "custom_tool_call") {
      tool_call(number, pt, payload, timestamp);
    } else if (pt == "function_call_output" || pt == "custom_tool_call_output") {
      tool_result(number, pt, payload, timestamp);
    }
  }
}

void CodexEventReader::append_message(std::uint64_t number, std::string role, std::string text,
                                      std::optional<std::string> id, std::optional<std::string_view> timestamp) {
  Message m;
  m.position = messages_.size();
  m.id = std::move(id);
  m.role = std::move(role);
  m.text = std::move(text);
  m.timestamp = text::owned(timestamp);
  m.source = text::source_of(path_, number);
  messages_.push_back(std::move(m));
}

std::optional<std::string> CodexEventReader::claim_pending_id(std::string_view role, std::string_view text) {
  for (auto it = pending_ids_.begin(); it != pending_ids_.end(); ++it) {
    if (it->role == role && same_codex_message_text(text, it->text)) {
      std::string id = std::move(it->id);
      pending_ids_.erase(it);
      return id;
    }
  }
  return std::nullopt;
}

void CodexEventReader::event_message(std::uint64_t number, std::string_view payload_type, json::Element payload,
                                     std::optional<std::string_view> timestamp) {
  std::string_view role = payload_type == "user_message" ? "user" : "assistant";
  std::string_view text = payload_type;
  if (auto message = json::member(payload, "message")) {
    if (auto s = json::as_string(*message)) text = *s;
  } else if (auto s = json::string_member(payload, "text")) {
    text = *s;
  }
  std::optional<std::string> id = claim_pending_id(role, text);
  append_message(number, std::string(role), std::string(text), std::move(id), timestamp);
}

void CodexEventReader::completed_item(std::uint64_t number, json::Element payload,
                                      std::optional<std::string_view> timestamp) {
  auto item = json::member(payload, "item");
  if (!item) return;
  auto message = codex_completed_item_message(*item);
  if (!message) return;
  const bool user = message->role == "user";
  append_message(number, std::move(message->role), text::compact(message->text, text::kMessageChars),
                 text::owned(json::string_member(*item, "id")), timestamp);
  if (user) plan_.reset();
}

void CodexEventReader::aborted_turn(std::uint64_t number, json::Element payload,
                                    std::optional<std::string_view> timestamp) {
  ToolCall call;
  call.position = tool_calls_.size();
  call.name = "turn_aborted";
  call.input = json::encode(payload);
  call.started_at = text::owned(timestamp);
  call.ended_at = call.started_at;
  call.source = text::source_of(path_, number);
  tool_calls_.push_back(std::move(call));
}

void CodexEventReader::response_message(json::Element payload) {
  auto role = json::string_member(payload, "role");
  auto id = json::string_member(payload, "id");
  if (!role || !id || id->empty() || (*role != "assistant" && *role != "user")) return;
  std::string joined;
  std::string_view text;
  if (auto content = json::member(payload, "content")) {
    if (auto s = json::as_string(*content)) {
      text = *s;
    } else if (auto single = single_text(*content)) {
      text = *single;
    } else if (json::is_array(*content)) {
      joined = codex_response_message_text(*content);
      text = joined;
    }
  }
  std::size_t checked = 0;
  for (std::size_t i = messages_.size(); i > start_index_ && checked < kCodexIdSearchDepth; --i, ++checked) {
    Message& m = messages_[i - 1];
    if (!m.id && m.role == *role && same_codex_message_text(m.text, text)) {
      m.id = std::string(*id);
      return;
    }
  }
  if (pending_ids_.size() == kCodexPendingIds) pending_ids_.erase(pending_ids_.begin());
  pending_ids_.push_back(CodexMessageId{std::string(*role), std::string(text), std::string(*id)});
}

void CodexEventReader::agent_message(std::uint64_t number, json::Element payload,
                                     std::optional<std::string_view> timestamp) {
  std::optional<std::string> content = codex_agent_message_text(payload);
  std::string_view role;
  if (agent_path_) {
    auto recipient = json::string_member(payload, "recipient");
    auto author = json::string_member(payload, "author");
    if (recipient && *recipient == *agent_path_) {
      role = "user";
    } else if (author && *author == *agent_path_) {
      role = "assistant";
    } else {
      return;
    }
  } else {
    if (!content || !text::trim_start(*content).starts_with(kNewTask)) return;
    role = "user";
  }
  if (!content) return;
  std::string_view text = inter_agent_text(text::trim(*content));
  append_message(number, std::string(role), text::compact(text, text::kMessageChars), std::nullopt, timestamp);
  if (role == "user") plan_.reset();
}

namespace {

// The plan array of update_plan arguments: their "plan" member.
std::optional<simdjson::dom::array> update_plan_array(std::string_view arguments, json::DocParser& parser) {
  auto parsed = parser.parse(arguments);
  if (!parsed) return std::nullopt;
  auto plan = json::member(*parsed, "plan");
  return plan ? json::as_array(*plan) : std::nullopt;
}

}  // namespace

void CodexEventReader::plan_from_call(std::uint64_t number, std::string_view payload_type, json::Element payload) {
  auto name = json::string_member(payload, "name");
  if (!name) return;
  if (*name == "update_plan") {
    auto arguments = json::string_member(payload, "arguments");
    if (!arguments || !update_plan_array(*arguments, nested_parser_)) return;
    plan_ = CodexPlanSource{false, std::string(*arguments), number};
  } else if (*name == "exec" && payload_type == "custom_tool_call") {
    auto input = json::string_member(payload, "input");
    if (!input || !parse_nested_update_plan(*input, nested_parser_)) return;
    plan_ = CodexPlanSource{true, std::string(*input), number};
  }
}

void CodexEventReader::tool_call(std::uint64_t number, std::string_view payload_type, json::Element payload,
                                 std::optional<std::string_view> timestamp) {
  plan_from_call(number, payload_type, payload);
  const std::size_t index = tool_calls_.size();
  auto call_id = json::string_member(payload, "call_id");
  if (call_id) call_index_.insert_or_assign(std::string(*call_id), index);
  const bool custom = payload_type == "custom_tool_call";
  if (custom) custom_calls_.push_back(index);
  ToolCall call;
  call.position = index;
  call.tool_use_id = text::owned(call_id);
  auto name = json::string_member(payload, "name");
  call.name = std::string(name ? *name : payload_type);
  if (!custom) {
    call.input = json::encode(payload);
  } else if (auto input = json::string_member(payload, "input")) {
    call.input = json::encode(json::Value(text::truncate_readable(*input, text::kMessageChars)));
  }
  call.started_at = text::owned(timestamp);
  call.source = text::source_of(path_, number);
  tool_calls_.push_back(std::move(call));
}

void CodexEventReader::tool_result(std::uint64_t number, std::string_view payload_type, json::Element payload,
                                   std::optional<std::string_view> timestamp) {
  std::optional<std::string> result = tool_result_text(payload);
  auto call_id = json::string_member(payload, "call_id");
  const bool custom = payload_type == "custom_tool_call_output";
  if (call_id) {
    auto found = call_index_.find(*call_id);
    if (found != call_index_.end() && found->second < tool_calls_.size()) {
      ToolCall& call = tool_calls_[found->second];
      std::optional<std::string> whole = tool_output_text(payload);
      call.is_error = (result && result_looks_failed(*result)) || (whole && codex_exit_status_failed(*whole)) ||
                      failed_calls_.contains(*call_id);
      call.result_text = std::move(result);
      call.ended_at = text::owned(timestamp);
      if (custom) call.source = text::source_of(path_, number);
      return;
    }
  }
  const std::size_t index = tool_calls_.size();
  if (custom) custom_calls_.push_back(index);
  ToolCall call;
  call.position = index;
  call.tool_use_id = text::owned(call_id);
  call.name = "function_call_output";
  call.result_text = std::move(result);
  call.ended_at = text::owned(timestamp);
  if (!custom) call.input = json::encode(payload);
  call.source = text::source_of(path_, number);
  tool_calls_.push_back(std::move(call));
}

void CodexEventReader::failed_call(std::string_view call_id) {
  failed_calls_.insert_or_assign(std::string(call_id), true);
  // The event may come after the output that completed the call.
  auto found = call_index_.find(call_id);
  if (found != call_index_.end() && found->second < tool_calls_.size()) tool_calls_[found->second].is_error = true;
}

bool CodexEventReader::finish() {
  bool removed = false;
  if (!item_completed_mode_ && custom_calls_.size() >= 2) {
    std::vector<bool> drop(tool_calls_.size(), false);
    for (std::size_t k = 0; k + 1 < custom_calls_.size(); ++k) {
      if (custom_calls_[k] < drop.size()) drop[custom_calls_[k]] = true;
    }
    if (custom_calls_.back() < drop.size()) drop[custom_calls_.back()] = false;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < tool_calls_.size(); ++i) {
      if (drop[i]) continue;
      if (kept != i) tool_calls_[kept] = std::move(tool_calls_[i]);
      ++kept;
    }
    tool_calls_.resize(kept);
    for (std::size_t i = 0; i < tool_calls_.size(); ++i) tool_calls_[i].position = i;
    removed = true;
  }
  if (plan_) {
    // The same text gives the same array it gave when the call was read.
    auto plan = plan_->from_code ? parse_nested_update_plan(plan_->text, nested_parser_)
                                 : update_plan_array(plan_->text, nested_parser_);
    if (plan) {
      for (TodoItem& todo : codex_plan_todos(*plan, text::source_of(path_, plan_->line))) {
        todo.position = todos_.size();
        todos_.push_back(std::move(todo));
      }
    }
    plan_.reset();
  }
  custom_calls_.clear();
  call_index_.clear();
  failed_calls_.clear();
  pending_ids_.clear();
  return removed;
}

void parse_codex_events(const TextArtifact& artifact, std::optional<std::string_view> agent_path,
                        std::vector<Message>& messages, std::vector<ToolCall>& tool_calls,
                        std::vector<TodoItem>& todos) {
  CodexEventReader reader(artifact.path, codex_item_completed_mode(artifact.text), agent_path, messages, tool_calls,
                          todos);
  json::DocParser parser;
  json::for_each_line(artifact.text, parser,
                      [&](std::uint64_t number, std::string_view raw, const json::Element* parsed) {
                        reader.line(number, raw, parsed);
                      });
  reader.finish();
}

}  // namespace tl
