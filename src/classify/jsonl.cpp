// The generic JSONL transcript reader: messages, tool calls with their
// results, and todos, from the many line shapes harnesses write.
#include "jsonl.hpp"
#include "../text.hpp"
#include "transcript_text.hpp"

namespace tl {

bool is_api_request_line(json::Element line) {
  auto type = json::string_member(line, "type");
  return type && type->starts_with("api-request");
}

JsonlMessageReader::JsonlMessageReader(std::string_view path, std::vector<Message>& messages,
                                       std::vector<ToolCall>& tool_calls, std::vector<TodoItem>& todos)
    : path_(path), messages_(messages), tool_calls_(tool_calls), todos_(todos) {}

namespace {

using Field = std::optional<json::Element>;

// The members of a line that the reader looks at, read in one pass over the
// object (a repeated key keeps its last value).
struct LineFields {
  Field type, timestamp, created_at, role, content, text, message, msg, uuid, is_meta, is_compact_summary, origin,
      turn_origin, tool, name, id, tool_use_id, tool_use_id_camel, input, result, output, is_error, error;
};

// The members of a "message" or "msg" object.
struct MessageFields {
  Field role, content, tool_call_id, is_error, tool_name;
};

LineFields line_fields(json::Element line) {
  LineFields f;
  auto members = json::as_object(line);
  if (!members) return f;
  for (auto field : *members) {
    std::string_view k = field.key;
    Field* slot = nullptr;
    switch (k.size()) {
      case 2:
        if (k == "id") slot = &f.id;
        break;
      case 3:
        if (k == "msg") slot = &f.msg;
        break;
      case 4:
        if (k == "type")
          slot = &f.type;
        else if (k == "role")
          slot = &f.role;
        else if (k == "text")
          slot = &f.text;
        else if (k == "uuid")
          slot = &f.uuid;
        else if (k == "tool")
          slot = &f.tool;
        else if (k == "name")
          slot = &f.name;
        break;
      case 5:
        if (k == "input")
          slot = &f.input;
        else if (k == "error")
          slot = &f.error;
        break;
      case 6:
        if (k == "isMeta")
          slot = &f.is_meta;
        else if (k == "origin")
          slot = &f.origin;
        else if (k == "result")
          slot = &f.result;
        else if (k == "output")
          slot = &f.output;
        break;
      case 7:
        if (k == "content")
          slot = &f.content;
        else if (k == "message")
          slot = &f.message;
        break;
      case 8:
        if (k == "is_error") slot = &f.is_error;
        break;
      case 9:
        if (k == "timestamp")
          slot = &f.timestamp;
        else if (k == "toolUseId")
          slot = &f.tool_use_id_camel;
        break;
      case 10:
        if (k == "created_at")
          slot = &f.created_at;
        else if (k == "turnOrigin")
          slot = &f.turn_origin;
        break;
      case 11:
        if (k == "tool_use_id") slot = &f.tool_use_id;
        break;
      case 16:
        if (k == "isCompactSummary") slot = &f.is_compact_summary;
        break;
      default:
        break;
    }
    if (slot != nullptr) *slot = field.value;
  }
  return f;
}

MessageFields message_fields(Field object) {
  MessageFields f;
  auto members = object ? json::as_object(*object) : std::nullopt;
  if (!members) return f;
  for (auto field : *members) {
    std::string_view k = field.key;
    if (k == "role")
      f.role = field.value;
    else if (k == "content")
      f.content = field.value;
    else if (k == "toolCallId")
      f.tool_call_id = field.value;
    else if (k == "isError")
      f.is_error = field.value;
    else if (k == "toolName")
      f.tool_name = field.value;
  }
  return f;
}

Field first_of(std::initializer_list<Field> fields) {
  for (const Field& f : fields) {
    if (f) return f;
  }
  return std::nullopt;
}

std::optional<std::string_view> string_of(Field e) { return e ? json::as_string(*e) : std::nullopt; }

std::optional<std::string> optional_string(Field e) {
  if (auto s = string_of(e)) return std::string(*s);
  return std::nullopt;
}

bool is_true_field(Field e) { return e && json::as_bool(*e).value_or(false); }

// A user message that only carries tool results.
bool only_tool_results(Field content) {
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

// The text of a user message cleaned and compacted, or nothing when it is
// not a real prompt.
std::optional<std::string> clean_user_text(const LineFields& f, std::string_view text) {
  if (is_true_field(f.is_meta)) return std::nullopt;
  if (is_true_field(f.is_compact_summary)) return std::nullopt;
  if (f.origin) {
    if (auto kind = json::string_member(*f.origin, "kind"); kind && *kind != "human") return std::nullopt;
  }
  std::string_view t = text::trim(text);
  if (t.starts_with("<command-name>") || t.starts_with("<command-message>")) {
    auto origin = string_of(f.turn_origin);
    if (origin && *origin == "human") {
      if (auto prompt = slash_command_prompt(t)) return text::compact(*prompt, 800);
    }
    return std::nullopt;
  }
  if (text::starts_with_any(t, {"<agent-message", "<task-notification", "<local-command-caveat>",
                                "<local-command-stdout>", "<local-command-stderr>", "<cross-session-message",
                                "This session is being continued from a previous conversation"})) {
    return std::nullopt;
  }
  // Only a text that holds a reminder block is copied to remove it.
  std::string stripped;
  if (t.find("<system-reminder") != std::string_view::npos) {
    stripped = strip_tag_blocks(t, "system-reminder");
    t = stripped;
  }
  t = text::trim(t);
  if (t.empty()) return std::nullopt;
  return text::compact(t, 800);
}

// A tool record written as a single line.
void append_single_line_tool(const LineFields& f, const std::optional<std::string>& timestamp,
                             const std::string& source, std::vector<ToolCall>& tool_calls) {
  std::optional<std::string_view> name = string_of(f.tool);
  if (!name) name = string_of(f.name);
  if (!name && f.tool) name = json::string_member(*f.tool, "name");
  if (!name) return;
  ToolCall call;
  call.position = tool_calls.size();
  call.tool_use_id = optional_string(first_of({f.id, f.tool_use_id, f.tool_use_id_camel}));
  call.name = std::string(*name);
  if (f.input) call.input = json::to_value(*f.input);
  Field result = first_of({f.result, f.output});
  if (result) call.result_text = json_text_truncated(*result, 800);
  if (Field err = first_of({f.is_error, f.error})) call.is_error = json::as_bool(*err).value_or(false);
  call.started_at = timestamp;
  if (result) call.ended_at = timestamp;
  call.source = source;
  tool_calls.push_back(std::move(call));
}

}  // namespace

void JsonlMessageReader::line(std::uint64_t number, std::string_view raw, const json::Element* parsed) {
  if (parsed == nullptr) return;
  const LineFields f = line_fields(*parsed);
  if (auto type = string_of(f.type); type && type->starts_with("api-request")) return;
  const std::string source = text::source_of(path_, number);
  // "/message/..." and "/msg/..." reach into these objects only.
  const MessageFields message = message_fields(f.message);
  const MessageFields msg = message_fields(f.msg);

  // Step 1: the line's fields.
  std::optional<std::string> timestamp = optional_string(first_of({f.timestamp, f.created_at}));
  std::optional<std::string_view> raw_role = string_of(first_of({f.role, message.role, msg.role}));
  Field content = first_of({f.content, message.content, msg.content});

  // Steps 2 to 4: the message. Its text is only built for roles that keep it.
  if (raw_role) {
    std::string_view role = *raw_role == "toolResult" ? std::string_view("tool") : *raw_role;
    bool user = role == "user" && !only_tool_results(content);
    std::string storage;
    std::optional<std::string_view> text;
    if (user || role == "assistant" || role == "system" || role == "tool") {
      if (Field t = first_of({f.content, f.text, message.content, msg.content})) text = json_text_view(*t, storage);
    }
    std::optional<std::string> kept;
    if (text && !user) {
      kept = text::compact(*text, 800);
    } else if (text) {
      kept = clean_user_text(f, *text);
      // A real prompt starts a new turn for the task tools.
      if (kept) tasks_.clear_current_turn();
    }
    if (kept) {
      Message m;
      m.position = messages_.size();
      if (auto id = string_of(f.uuid); id && !id->empty()) m.id = std::string(*id);
      m.role = std::string(role);
      m.text = std::move(*kept);
      m.timestamp = timestamp;
      m.source = source;
      messages_.push_back(std::move(m));
    }
  }

  // Step 5: content blocks. The message object is "message" when present,
  // else "msg".
  if (auto blocks = content ? json::as_array(*content) : std::nullopt) {
    const bool has_message_object = f.message || f.msg;
    const MessageFields& object = f.message ? message : msg;
    std::optional<std::string_view> block_role = string_of(object.role);
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
        if (has_message_object) id = optional_string(object.tool_call_id);
        if (!id) id = optional_string(json::member(block, "tool_use_id"));
        if (id && *result_text) tasks_.check_result(*id, **result_text);
        // A result reports its own failure through the message's isError or,
        // failing that, the block's is_error.
        std::optional<bool> message_error;
        if (object.is_error) message_error = json::as_bool(*object.is_error);
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
          std::optional<std::string_view> tool_name = string_of(object.tool_name);
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
  append_single_line_tool(f, timestamp, source, tool_calls_);
  parse_todos(source, raw, todos_);
}

void JsonlMessageReader::finish() { tasks_.flush(todos_); }

void parse_jsonl_messages(const TextArtifact& artifact, std::vector<Message>& messages,
                          std::vector<ToolCall>& tool_calls, std::vector<TodoItem>& todos) {
  JsonlMessageReader reader(artifact.path, messages, tool_calls, todos);
  json::DocParser parser;
  json::for_each_line(artifact.text, parser,
                      [&](std::uint64_t number, std::string_view raw, const json::Element* parsed) {
                        reader.line(number, raw, parsed);
                      });
  reader.finish();
}

}  // namespace tl
