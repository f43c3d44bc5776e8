// The generic JSONL transcript reader: messages, tool calls with their
// results, and todos, from the many line shapes harnesses write.
#include "jsonl.hpp"
#include "../text.hpp"
#include "transcript_text.hpp"

namespace tl {

bool is_api_request_line(json::Element line) { return is_api_request_type(json::member(line, "type")); }

bool is_api_request_type(std::optional<json::Element> type) {
  const std::optional<std::string_view> name = type ? json::as_string(*type) : std::nullopt;
  return name && name->starts_with("api-request");
}

JsonlMessageReader::JsonlMessageReader(std::string_view path, std::vector<Message>& messages,
                                       std::vector<ToolCall>& tool_calls, std::vector<TodoItem>& todos)
    : path_(path), messages_(messages), tool_calls_(tool_calls), todos_(todos) {}

// The line's members and the helpers that read them. A named namespace, not
// an anonymous one, because the reader's own line record holds these types.
namespace jsonl_line {

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
  json::read_fields(line, {{"type", &f.type},
                           {"timestamp", &f.timestamp},
                           {"created_at", &f.created_at},
                           {"role", &f.role},
                           {"content", &f.content},
                           {"text", &f.text},
                           {"message", &f.message},
                           {"msg", &f.msg},
                           {"uuid", &f.uuid},
                           {"isMeta", &f.is_meta},
                           {"isCompactSummary", &f.is_compact_summary},
                           {"origin", &f.origin},
                           {"turnOrigin", &f.turn_origin},
                           {"tool", &f.tool},
                           {"name", &f.name},
                           {"id", &f.id},
                           {"tool_use_id", &f.tool_use_id},
                           {"toolUseId", &f.tool_use_id_camel},
                           {"input", &f.input},
                           {"result", &f.result},
                           {"output", &f.output},
                           {"is_error", &f.is_error},
                           {"error", &f.error}});
  return f;
}

MessageFields message_fields(Field object) {
  MessageFields f;
  if (!object) return f;
  json::read_fields(*object, {{"role", &f.role},
                              {"content", &f.content},
                              {"toolCallId", &f.tool_call_id},
                              {"isError", &f.is_error},
                              {"toolName", &f.tool_name}});
  return f;
}

Field first_of(std::initializer_list<Field> fields) {
  for (const Field& f : fields) {
    if (f) return f;
  }
  return std::nullopt;
}

std::optional<std::string_view> string_of(Field e) { return e ? json::as_string(*e) : std::nullopt; }

std::optional<std::string> optional_string(Field e) { return text::owned(string_of(e)); }

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
  auto origin = string_of(f.turn_origin);
  return clean_user_prompt(text, origin && *origin == "human");
}

}  // namespace jsonl_line

std::optional<std::string> clean_user_prompt(std::string_view text, bool human_turn) {
  std::string_view t = text::trim(text);
  if (t.starts_with("<command-name>") || t.starts_with("<command-message>")) {
    if (human_turn) {
      if (auto prompt = slash_command_prompt(t)) return text::compact(*prompt, text::kMessageChars);
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
  return text::compact(t, text::kMessageChars);
}

namespace jsonl_line {

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
  if (f.input) call.input = json::encode(*f.input);
  Field result = first_of({f.result, f.output});
  if (result) call.result_text = json_text_truncated(*result, text::kMessageChars);
  if (Field err = first_of({f.is_error, f.error})) call.is_error = json::as_bool(*err).value_or(false);
  call.started_at = timestamp;
  if (result) call.ended_at = timestamp;
  call.source = source;
  tool_calls.push_back(std::move(call));
}

}  // namespace jsonl_line

using namespace jsonl_line;

// One parsed line as the handlers below see it.
struct JsonlMessageReader::Line {
  LineFields fields;
  // "/message/..." and "/msg/..." reach into these objects only.
  MessageFields message;
  MessageFields msg;
  std::optional<std::string> timestamp;
  std::optional<std::string_view> role;  // as written
  Field content;
  std::string source;
  // The tool results of one line share one result text, made when the first
  // result block needs it.
  std::optional<std::optional<std::string>> result_text;
};

void JsonlMessageReader::line(std::uint64_t number, std::string_view raw, const json::Element* parsed) {
  if (parsed == nullptr) return;
  Line l;
  l.fields = line_fields(*parsed);
  const LineFields& f = l.fields;
  if (auto type = string_of(f.type); type && type->starts_with("api-request")) return;
  l.source = text::source_of(path_, number);
  l.message = message_fields(f.message);
  l.msg = message_fields(f.msg);
  l.timestamp = optional_string(first_of({f.timestamp, f.created_at}));
  l.role = string_of(first_of({f.role, l.message.role, l.msg.role}));
  l.content = first_of({f.content, l.message.content, l.msg.content});

  if (l.role) read_message(l);
  if (auto blocks = l.content ? json::as_array(*l.content) : std::nullopt) read_blocks(l, *blocks);
  append_single_line_tool(f, l.timestamp, l.source, tool_calls_);
  parse_todos(l.source, raw, todos_);
}

// A user, assistant, system or tool message with its text; a user text is
// kept only when it is a real prompt, which also opens a new turn for the
// task tools. The text is only built for roles that keep it.
void JsonlMessageReader::read_message(const Line& l) {
  const LineFields& f = l.fields;
  std::string_view role = *l.role == "toolResult" ? std::string_view("tool") : *l.role;
  const bool user = role == "user" && !only_tool_results(l.content);
  if (!user && role != "assistant" && role != "system" && role != "tool") return;
  std::string storage;
  std::optional<std::string_view> text;
  if (Field t = first_of({f.content, f.text, l.message.content, l.msg.content})) text = json_text_view(*t, storage);
  if (!text) return;
  std::optional<std::string> kept;
  if (!user) {
    kept = text::compact(*text, text::kMessageChars);
  } else {
    kept = clean_user_text(f, *text);
    if (kept) tasks_.clear_current_turn();
  }
  if (!kept) return;
  Message m;
  m.position = messages_.size();
  if (auto id = string_of(f.uuid); id && !id->empty()) m.id = std::string(*id);
  m.role = std::string(role);
  m.text = std::move(*kept);
  m.timestamp = l.timestamp;
  m.source = l.source;
  messages_.push_back(std::move(m));
}

// The object whose members describe the blocks: "message" when present, else
// "msg".
const MessageFields& JsonlMessageReader::block_object(const Line& l) { return l.fields.message ? l.message : l.msg; }

// The content list's tool calls and tool results, in order. Every block of a
// message whose role is "toolResult" is a result.
void JsonlMessageReader::read_blocks(Line& l, json::Array blocks) {
  std::optional<std::string_view> role = string_of(block_object(l).role);
  if (!role) role = l.role;
  const bool all_results = role && *role == "toolResult";
  for (json::Element block : blocks) {
    auto type = json::string_member(block, "type");
    if (type && (*type == "toolCall" || *type == "tool_use" || *type == "tool_call")) {
      read_tool_call(l, block);
    } else if (all_results || (type && *type == "tool_result")) {
      read_tool_result(l, block);
    }
  }
}

// A tool call; TaskCreate and TaskUpdate inputs feed the task collector,
// TodoWrite inputs the todo list.
void JsonlMessageReader::read_tool_call(const Line& l, json::Element block) {
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
    tasks_.apply_update(name, *input, id, l.source);
  } else if (input && name == "TodoWrite") {
    parse_todo_value(l.source, *input, todos_);
  }
  ToolCall call;
  call.position = tool_calls_.size();
  call.tool_use_id = std::move(id);
  call.name = std::move(name);
  if (input) call.input = json::encode(*input);
  call.started_at = l.timestamp;
  call.source = l.source;
  tool_calls_.push_back(std::move(call));
}

// A tool result completes the call with its id, or stands as a call of its
// own when no call has that id.
void JsonlMessageReader::read_tool_result(Line& l, json::Element block) {
  if (!l.result_text) l.result_text = tool_result_text(*l.content, text::kMessageChars);
  const std::optional<std::string>& result_text = *l.result_text;
  const MessageFields& object = block_object(l);
  const bool has_message_object = l.fields.message || l.fields.msg;
  std::optional<std::string> id;
  if (has_message_object) id = optional_string(object.tool_call_id);
  if (!id) id = optional_string(json::member(block, "tool_use_id"));
  if (id && result_text) tasks_.check_result(*id, *result_text);
  // A result reports its own failure through the message's isError or,
  // failing that, the block's is_error.
  std::optional<bool> message_error;
  if (object.is_error) message_error = json::as_bool(*object.is_error);
  const bool is_error = message_error ? *message_error : json::bool_member(block, "is_error").value_or(false);
  auto found = id ? call_index_.find(*id) : call_index_.end();
  if (found != call_index_.end() && found->second < tool_calls_.size()) {
    ToolCall& call = tool_calls_[found->second];
    call.result_text = result_text;
    call.is_error = is_error;
    call.ended_at = l.timestamp;
    return;
  }
  ToolCall call;
  call.position = tool_calls_.size();
  std::optional<std::string_view> tool_name = string_of(object.tool_name);
  call.name = tool_name ? std::string(*tool_name) : "toolResult";
  call.tool_use_id = std::move(id);
  call.result_text = result_text;
  call.is_error = is_error;
  call.ended_at = l.timestamp;
  call.source = l.source;
  tool_calls_.push_back(std::move(call));
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
