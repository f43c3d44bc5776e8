// The generic JSONL transcript reader: messages, tool calls with their
// results, and todos, from the many line shapes harnesses write.
#include "../text.hpp"
#include "classify.hpp"

namespace tl {

bool is_api_request_line(json::Element line) {
  auto type = json::string_member(line, "type");
  return type && type->starts_with("api-request");
}

JsonlMessageReader::JsonlMessageReader(std::string_view path, std::vector<Message>& messages,
                                       std::vector<ToolCall>& tool_calls, std::vector<TodoItem>& todos)
    : path_(path), messages_(messages), tool_calls_(tool_calls), todos_(todos) {}

namespace {

// The first present of `keys` (member names or pointers starting with "/").
std::optional<json::Element> first_present_path(json::Element line, std::initializer_list<std::string_view> keys) {
  for (std::string_view k : keys) {
    auto v = k.starts_with('/') ? json::pointer(line, k) : json::member(line, k);
    if (v) return v;
  }
  return std::nullopt;
}

std::optional<std::string> optional_string(std::optional<json::Element> e) {
  if (!e) return std::nullopt;
  if (auto s = json::as_string(*e)) return std::string(*s);
  return std::nullopt;
}

bool starts_with_any(std::string_view s, std::initializer_list<std::string_view> prefixes) {
  for (auto p : prefixes) {
    if (s.starts_with(p)) return true;
  }
  return false;
}

// A user message that only carries tool results.
bool only_tool_results(std::optional<json::Element> content) {
  auto blocks = content ? json::as_array(*content) : std::nullopt;
  if (!blocks) return false;
  std::size_t n = 0;
  for (json::Element block : *blocks) {
    ++n;
    auto type = json::string_member(block, "type");
    if (!type || (*type != "tool_result" && *type != "toolResult")) return false;
  }
  return n > 0;
}

// The cleaned text of a user message, or nothing when it is not a real prompt.
std::optional<std::string> clean_user_text(json::Element line, std::string_view text) {
  if (json::is_true(line, "isMeta")) return std::nullopt;
  if (json::is_true(line, "isCompactSummary")) return std::nullopt;
  if (auto kind = json::string_at(line, "/origin/kind"); kind && *kind != "human") return std::nullopt;
  std::string_view t = text::trim(text);
  if (t.starts_with("<command-name>") || t.starts_with("<command-message>")) {
    auto origin = json::string_member(line, "turnOrigin");
    if (origin && *origin == "human") return slash_command_prompt(t);
    return std::nullopt;
  }
  if (starts_with_any(t, {"<agent-message", "<task-notification", "<local-command-caveat>", "<local-command-stdout>",
                          "<local-command-stderr>", "<cross-session-message",
                          "This session is being continued from a previous conversation"})) {
    return std::nullopt;
  }
  std::string cleaned(text::trim(strip_tag_blocks(t, "system-reminder")));
  if (cleaned.empty()) return std::nullopt;
  return cleaned;
}

}  // namespace

void JsonlMessageReader::line(std::uint64_t number, std::string_view raw, const json::Element* parsed) {
  if (parsed == nullptr) return;
  const json::Element line = *parsed;
  if (is_api_request_line(line)) return;
  const std::string source = text::source_of(path_, number);

  // Step 1: the line's fields.
  std::optional<std::string> timestamp = optional_string(json::first_present(line, {"timestamp", "created_at"}));
  std::optional<std::string_view> raw_role;
  if (auto r = first_present_path(line, {"role", "/message/role", "/msg/role"})) raw_role = json::as_string(*r);
  std::optional<json::Element> content = first_present_path(line, {"content", "/message/content", "/msg/content"});

  // Steps 2 to 4: the message. Its text is only built for roles that keep it.
  if (raw_role) {
    std::string_view role = *raw_role == "toolResult" ? std::string_view("tool") : *raw_role;
    bool user = role == "user" && !only_tool_results(content);
    std::optional<std::string> text;
    if (user || role == "assistant" || role == "system" || role == "tool") {
      if (auto t = first_present_path(line, {"content", "text", "/message/content", "/msg/content"})) {
        text = json_text(*t);
      }
    }
    std::optional<std::string> kept;
    if (text && !user) {
      kept = std::move(text);
    } else if (text) {
      kept = clean_user_text(line, *text);
      // A real prompt starts a new turn for the task tools.
      if (kept) tasks_.clear_current_turn();
    }
    if (kept) {
      Message m;
      m.position = messages_.size();
      if (auto id = json::string_member(line, "uuid"); id && !id->empty()) m.id = std::string(*id);
      m.role = std::string(role);
      m.text = text::compact(*kept, 800);
      m.timestamp = timestamp;
      m.source = source;
      messages_.push_back(std::move(m));
    }
  }

  // Step 5: content blocks.
  if (auto blocks = content ? json::as_array(*content) : std::nullopt) {
    std::optional<json::Element> message_object = json::first_present(line, {"message", "msg"});
    std::optional<std::string_view> block_role;
    if (message_object) block_role = json::string_member(*message_object, "role");
    if (!block_role) block_role = raw_role;
    std::optional<std::optional<std::string>> result_text;  // computed once per line
    for (json::Element block : *blocks) {
      auto type = json::string_member(block, "type");
      if (type && (*type == "toolCall" || *type == "tool_use" || *type == "tool_call")) {
        std::optional<std::string> id;
        for (std::string_view k : {"id", "toolCallId", "tool_use_id"}) {
          if (auto s = json::string_member(block, k)) {
            id = std::string(*s);
            break;
          }
        }
        if (id) call_index_[*id] = tool_calls_.size();
        auto name_field = json::string_member(block, "name");
        std::string name = name_field ? std::string(*name_field) : "toolCall";
        std::optional<json::Element> input = json::first_present(block, {"input", "arguments"});
        if (input && (name == "TaskCreate" || name == "TaskUpdate")) {
          tasks_.apply_update(name, *input, id, source);
        } else if (input && name == "TodoWrite") {
          parse_todo_value(source, *input, todos_);
        }
        ToolCall call;
        call.position = tool_calls_.size();
        call.tool_use_id = std::move(id);
        call.name = std::move(name);
        if (input) call.input = json::to_value(*input);
        call.started_at = timestamp;
        call.source = source;
        tool_calls_.push_back(std::move(call));
      } else if ((block_role && *block_role == "toolResult") || (type && *type == "tool_result")) {
        if (!result_text) result_text = json_text_truncated(*content, 800);
        std::optional<std::string> id;
        if (message_object) id = optional_string(json::member(*message_object, "toolCallId"));
        if (!id) id = optional_string(json::member(block, "tool_use_id"));
        if (id && *result_text) tasks_.check_result(*id, **result_text);
        // A result reports its own failure through the message's isError or,
        // failing that, the block's is_error.
        std::optional<bool> message_error;
        if (message_object) message_error = json::bool_member(*message_object, "isError");
        bool is_error = message_error ? *message_error : json::bool_member(block, "is_error").value_or(false);
        auto found = id ? call_index_.find(*id) : call_index_.end();
        if (found != call_index_.end() && found->second < tool_calls_.size()) {
          ToolCall& call = tool_calls_[found->second];
          call.result_text = *result_text;
          call.is_error = is_error;
          call.ended_at = timestamp;
        } else {
          ToolCall call;
          call.position = tool_calls_.size();
          std::optional<std::string_view> tool_name;
          if (message_object) tool_name = json::string_member(*message_object, "toolName");
          call.name = tool_name ? std::string(*tool_name) : "toolResult";
          call.tool_use_id = std::move(id);
          call.result_text = *result_text;
          call.is_error = is_error;
          call.ended_at = timestamp;
          call.source = source;
          tool_calls_.push_back(std::move(call));
        }
      }
    }
  }

  // Step 6: single-line tool records and free-text todos.
  single_line_tool(line, timestamp, source);
  parse_todos(source, raw, todos_);
}

void JsonlMessageReader::single_line_tool(json::Element line, const std::optional<std::string>& timestamp,
                                          const std::string& source) {
  std::optional<std::string_view> name = json::string_member(line, "tool");
  if (!name) name = json::string_member(line, "name");
  if (!name) name = json::string_at(line, "/tool/name");
  if (!name) return;
  ToolCall call;
  call.position = tool_calls_.size();
  call.tool_use_id = optional_string(json::first_present(line, {"id", "tool_use_id", "toolUseId"}));
  call.name = std::string(*name);
  if (auto input = json::member(line, "input")) call.input = json::to_value(*input);
  auto result = json::first_present(line, {"result", "output"});
  if (result) call.result_text = json_text_truncated(*result, 800);
  if (auto err = json::first_present(line, {"is_error", "error"})) call.is_error = json::as_bool(*err).value_or(false);
  call.started_at = timestamp;
  if (result) call.ended_at = timestamp;
  call.source = source;
  tool_calls_.push_back(std::move(call));
}

void JsonlMessageReader::finish() { tasks_.flush(todos_); }

void parse_jsonl_messages(const TextArtifact& artifact, std::vector<Message>& messages,
                          std::vector<ToolCall>& tool_calls, std::vector<TodoItem>& todos) {
  JsonlMessageReader reader(artifact.path, messages, tool_calls, todos);
  json::Parser parser;
  text::LineReader lines(artifact.text);
  std::string_view raw;
  while (lines.next(raw)) {
    auto parsed = parser.parse(raw, &artifact.text);
    reader.line(lines.number(), raw, parsed ? &*parsed : nullptr);
  }
  reader.finish();
}

}  // namespace tl
