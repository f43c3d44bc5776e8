#include "gemini.hpp"

#include <algorithm>
#include <functional>
#include <unordered_map>
#include <unordered_set>

#include "../classify/todos.hpp"
#include "../json_span.hpp"
#include "../text.hpp"

namespace tl {

namespace {

// ---- reading one record ------------------------------------------------------
//
// Each message record is read into what it says as soon as its line is
// parsed, so that every line is parsed once; a later record with the same id
// replaces the reading whole, and the chat is put together from the readings
// that remain once the replay is over.

void set_string(std::optional<std::string>& slot, std::optional<json::Element> value) {
  if (!value) return;
  if (auto s = json::as_string(*value)) slot = std::string(*s);
}

// Calls fn(part) for each part of a content value: the elements of a list, or
// the value itself when it is one part.
template <typename Fn>
void for_each_part(json::Element content, Fn&& fn) {
  if (auto parts = json::as_array(content)) {
    for (json::Element part : *parts) fn(part);
  } else if (json::is_object(content)) {
    fn(content);
  }
}

// The text of a content value (a string, a part or a list of parts): the
// string, or the text parts and plain strings joined; thought parts are not
// text. A view into the parsed value when there is one piece.
std::string_view content_text(json::Element content, std::string& storage) {
  if (auto s = json::as_string(content)) return *s;
  storage.clear();
  std::optional<std::string_view> single;
  std::size_t pieces = 0;
  for_each_part(content, [&](json::Element part) {
    std::optional<std::string_view> piece = json::as_string(part);
    if (!piece && !json::is_true(part, "thought")) piece = json::string_member(part, "text");
    if (!piece) return;
    if (pieces++ == 0) {
      single = piece;
      return;
    }
    if (pieces == 2) storage.assign(*single);
    storage.append(*piece);
  });
  if (pieces == 1) return *single;
  return storage;
}

// What a function response says: response.output, else response.error.
struct Response {
  std::optional<std::string_view> text;
  bool error = false;
};

Response function_response(json::Element response_part) {
  Response r;
  auto response = json::member(response_part, "response");
  if (!response) return r;
  if (auto out = json::string_member(*response, "output")) {
    r.text = out;
  } else if (auto err = json::string_member(*response, "error")) {
    r.text = err;
    r.error = true;
  }
  return r;
}

// The text the model saw of a call's result: its function responses' output
// or error, else the display text when it is a string.
std::optional<std::string> call_result_text(json::Element item) {
  std::string joined;
  text::LineJoiner pieces(joined);
  if (auto result = json::member(item, "result")) {
    if (auto s = json::as_string(*result)) {
      pieces.add(*s);
    } else {
      for_each_part(*result, [&](json::Element p) {
        if (auto fr = json::member(p, "functionResponse")) {
          if (auto t = function_response(*fr).text) pieces.add(*t);
        }
      });
    }
  }
  if (pieces.empty()) {
    if (auto display = json::string_member(item, "resultDisplay")) pieces.add(*display);
  }
  if (pieces.empty()) return std::nullopt;
  return text::truncate_readable(joined, text::kMessageChars);
}

// A call read from the chat, kept until the chat is over: a call written
// only as a functionCall part counts when no toolCalls item carries its id.
struct CallEntry {
  ToolCall call;
  bool from_part = false;
  bool completed = false;
  std::optional<std::vector<TodoItem>> todos;
  std::optional<GeminiLaunch> launch;
};

// A functionResponse part of a user record: the call it answers and what it
// says, shortened as results are.
struct ResponseReading {
  std::string call_id;
  std::optional<std::string> text;
  bool error = false;
};

// What one message record says.
struct RecordReading {
  std::optional<Message> message;     // its position is set when the chat is put together
  std::optional<std::string> prompt;  // a user message's text before shortening
  std::vector<CallEntry> calls;       // its toolCalls items, then its functionCall parts
  std::vector<std::string> item_ids;  // the ids its toolCalls items carry
  std::vector<ResponseReading> responses;
};

void fill_call(CallEntry& e, std::optional<std::string_view> call_id, std::string_view name,
               std::optional<json::Element> args, std::optional<std::string_view> started, const std::string& source) {
  if (call_id) e.call.tool_use_id = std::string(*call_id);
  e.call.name = std::string(name);
  if (args) e.call.input = json::encode(*args);
  if (started) e.call.started_at = std::string(*started);
  e.call.source = source;
  if (name == "write_todos" && args) {
    // Each list replaces the one before: the todos of the last call count.
    std::vector<TodoItem> todos;
    if (auto list = json::member(*args, "todos")) {
      parse_todo_value(text::concat({source, ":TodoWrite"}), *list, todos);
    }
    e.todos = std::move(todos);
  }
}

GeminiLaunch invoke_launch(std::optional<std::string_view> call_id, std::optional<json::Element> args,
                           const std::string& source) {
  GeminiLaunch launch;
  if (call_id) launch.call_id = std::string(*call_id);
  if (args) {
    set_string(launch.agent_name, json::member(*args, "agent_name"));
    set_string(launch.prompt, json::member(*args, "prompt"));
  }
  launch.source = source;
  return launch;
}

Message record_message(std::string_view role, std::string_view id, std::optional<std::string_view> timestamp,
                       std::string_view text, const std::string& source) {
  Message msg;
  msg.id = std::string(id);
  msg.role = std::string(role);
  msg.text = text::compact(text, text::kMessageChars);
  if (timestamp) msg.timestamp = std::string(*timestamp);
  msg.source = source;
  return msg;
}

void read_user(RecordReading& r, std::string_view id, std::optional<std::string_view> timestamp,
               std::optional<json::Element> content, const std::string& source) {
  if (!content) return;
  std::string storage;
  const std::string_view t = content_text(*content, storage);
  // Tool responses (records holding only functionResponse parts) have no
  // text; the session context is written by the CLI itself.
  if (!text::is_blank(t) && !text::trim_start(t).starts_with("<session_context>")) {
    r.message = record_message("user", id, timestamp, t, source);
    r.prompt = std::string(t);
  }
  for_each_part(*content, [&](json::Element part) {
    auto fr = json::member(part, "functionResponse");
    if (!fr) return;
    auto call_id = json::string_member(*fr, "id");
    if (!call_id) return;
    const Response response = function_response(*fr);
    ResponseReading reading{std::string(*call_id), std::nullopt, response.error};
    if (response.text) reading.text = text::truncate_readable(*response.text, text::kMessageChars);
    r.responses.push_back(std::move(reading));
  });
}

void read_tool_call_item(RecordReading& r, json::Element item, const std::string& source) {
  CallEntry e;
  auto call_id = json::string_member(item, "id");
  if (call_id) r.item_ids.emplace_back(*call_id);
  auto name_field = json::string_member(item, "name");
  const std::string_view name = name_field ? *name_field : std::string_view("toolCall");
  auto args = json::member(item, "args");
  fill_call(e, call_id, name, args, json::string_member(item, "timestamp"), source);
  e.call.result_text = call_result_text(item);
  auto status = json::string_member(item, "status");
  e.call.is_error = status && *status == "error";
  if (name == "invoke_agent") {
    e.launch = invoke_launch(call_id, args, source);
    set_string(e.launch->agent_id, json::member(item, "agentId"));
  } else if (auto description = json::string_member(item, "description");
             description && description->starts_with("Delegating to agent")) {
    GeminiLaunch launch;
    if (call_id) launch.call_id = std::string(*call_id);
    launch.agent_name = std::string(name);
    if (args) set_string(launch.prompt, json::member(*args, "request"));
    launch.source = source;
    e.launch = std::move(launch);
  }
  if (e.launch && status) e.launch->status = std::string(*status);
  r.calls.push_back(std::move(e));
}

void read_gemini_message(RecordReading& r, json::Element m, std::string_view id,
                         std::optional<std::string_view> timestamp, std::optional<json::Element> content,
                         const std::string& source) {
  if (content) {
    std::string storage;
    const std::string_view t = content_text(*content, storage);
    if (!text::is_blank(t)) r.message = record_message("assistant", id, timestamp, t, source);
  }
  bool has_items = false;
  if (auto calls = json::member(m, "toolCalls")) {
    if (auto items = json::as_array(*calls)) {
      for (json::Element item : *items) {
        if (!json::is_object(item)) continue;
        has_items = true;
        read_tool_call_item(r, item, source);
      }
    }
  }
  // A resumed chat's rewritten history keeps its calls only as parts.
  if (!content) return;
  for_each_part(*content, [&](json::Element part) {
    auto fc = json::member(part, "functionCall");
    if (!fc || !json::is_object(*fc)) return;
    auto call_id = json::string_member(*fc, "id");
    if (!call_id && has_items) return;
    CallEntry e;
    e.from_part = true;
    auto name = json::string_member(*fc, "name");
    fill_call(e, call_id, name ? *name : std::string_view("toolCall"), json::member(*fc, "args"), timestamp, source);
    if (name && *name == "invoke_agent") e.launch = invoke_launch(call_id, json::member(*fc, "args"), source);
    r.calls.push_back(std::move(e));
  });
}

// Reads one message record that starts on `line` of the chat at `path`. A
// record without a string id or type says nothing.
RecordReading read_record(json::Element m, const std::string& path, std::uint64_t line) {
  RecordReading r;
  auto id = json::string_member(m, "id");
  if (!id) return r;  // a message without id is not a message
  auto type = json::string_member(m, "type");
  if (!type) return r;
  const std::string source = text::source_of(path, line);
  std::optional<std::string_view> timestamp = json::string_member(m, "timestamp");
  std::optional<json::Element> content = json::member(m, "content");
  if (*type == "user") {
    read_user(r, *id, timestamp, content, source);
  } else if (*type == "gemini") {
    read_gemini_message(r, m, *id, timestamp, content, source);
  }
  return r;
}

// ---- replaying a chat -------------------------------------------------------

// The message records of a JSONL chat in the order the CLI keeps them: a
// record replaces the one with the same id in its place, a rewind removes a
// record and everything after it.
class RecordList {
 public:
  void upsert(std::string_view id, RecordReading record) {
    auto it = index_.find(id);
    if (it != index_.end()) {
      records_[it->second].second = std::move(record);
      return;
    }
    index_.emplace(std::string(id), records_.size());
    records_.emplace_back(std::string(id), std::move(record));
  }
  // Removes the record with this id and every later one; an unknown id
  // removes all, as the CLI does.
  void rewind_to(std::string_view id) {
    auto it = index_.find(id);
    if (it == index_.end()) {
      clear();
      return;
    }
    const std::size_t from = it->second;
    for (std::size_t k = from; k < records_.size(); ++k) index_.erase(records_[k].first);
    records_.resize(from);
  }
  void clear() {
    records_.clear();
    index_.clear();
  }
  std::vector<RecordReading> take() {
    std::vector<RecordReading> out;
    out.reserve(records_.size());
    for (auto& r : records_) out.push_back(std::move(r.second));
    return out;
  }

 private:
  std::vector<std::pair<std::string, RecordReading>> records_;
  text::TextMap<std::size_t> index_;
};

struct Replay {
  std::vector<RecordReading> records;
  std::optional<std::string> session_id;
  std::optional<std::string> kind;
  std::uint64_t header_line = 0;
};

// Adds the elements of a message list held by one line.
void add_listed(RecordList& records, json::Element list, const std::string& path, std::uint64_t line) {
  auto items = json::as_array(list);
  if (!items) return;
  for (json::Element item : *items) {
    if (auto id = json::string_member(item, "id")) records.upsert(*id, read_record(item, path, line));
  }
}

// A JSONL chat replayed line by line.
struct JsonlReplay {
  std::string path;
  Replay replay;
  RecordList records;
  bool first = true;

  void line(std::uint64_t number, const json::Element* parsed) {
    if (parsed == nullptr) return;
    std::optional<json::Element> rewind, id, set, session_id, kind, messages;
    if (!json::read_fields(*parsed, {{"$rewindTo", &rewind},
                                     {"id", &id},
                                     {"$set", &set},
                                     {"sessionId", &session_id},
                                     {"kind", &kind},
                                     {"messages", &messages}})) {
      return;
    }
    const bool first_record = first;
    first = false;
    if (rewind && json::is_string(*rewind)) {
      records.rewind_to(*json::as_string(*rewind));
      return;
    }
    if (id && json::is_string(*id)) {
      records.upsert(*json::as_string(*id), read_record(*parsed, path, number));
      return;
    }
    if (set && json::is_object(*set)) {
      set_string(replay.session_id, json::member(*set, "sessionId"));
      set_string(replay.kind, json::member(*set, "kind"));
      if (auto list = json::member(*set, "messages"); list && json::is_array(*list)) {
        // The whole list is replaced (a resumed or rolled-back chat).
        records.clear();
        add_listed(records, *list, path, number);
      }
      return;
    }
    if (session_id && json::is_string(*session_id)) {
      // The header, written again when a chat is resumed: metadata only,
      // except that a chat written whole on its first line lists its messages.
      set_string(replay.session_id, session_id);
      set_string(replay.kind, kind);
      if (replay.header_line == 0) replay.header_line = number;
      if (first_record && messages && json::is_array(*messages)) {
        add_listed(records, *messages, path, number);
      }
    }
  }

  Replay take() {
    replay.records = records.take();
    return std::move(replay);
  }
};

Replay replay_jsonl(const TextArtifact& artifact, json::DocParser& parser) {
  JsonlReplay replay{artifact.path, {}, {}, true};
  json::for_each_line(artifact.text, parser, [&](std::uint64_t number, std::string_view, const json::Element* parsed) {
    replay.line(number, parsed);
  });
  return replay.take();
}

// A chat written as one object: its messages in array order, each with the
// line its object starts on. A chat that breaks off keeps the messages that
// are complete before the cut.
Replay replay_object(const TextArtifact& artifact, json::DocParser& parser) {
  Replay replay;
  const std::string_view s = artifact.text;
  const std::size_t open = json::skip_space(s, 0);
  if (open >= s.size() || s[open] != '{') return replay;
  text::LineCounter lines(s);
  replay.header_line = lines.line_at(open);
  std::vector<json::Span> spans;
  std::optional<json::Span> session_id, kind;
  json::for_each_member(s, open, [&](std::string_view key, std::size_t start) {
    if (key == "messages" && start < s.size() && s[start] == '[') {
      spans.clear();
      return json::for_each_element(s, start, [&](json::Span span) { spans.push_back(span); });
    }
    const std::size_t end = json::value_end(s, start);
    if (end != json::kNone && key == "sessionId") session_id = json::Span{start, end};
    if (end != json::kNone && key == "kind") kind = json::Span{start, end};
    return end;
  });
  auto parse_span = [&](json::Span span) {
    return parser.parse(s.substr(span.begin, span.end - span.begin), &artifact.text);
  };
  auto read_string = [&](std::optional<json::Span> span, std::optional<std::string>& slot) {
    if (!span) return;
    if (auto v = parse_span(*span)) set_string(slot, *v);
  };
  read_string(session_id, replay.session_id);
  read_string(kind, replay.kind);
  replay.records.reserve(spans.size());
  for (json::Span span : spans) {
    const std::uint64_t line = lines.line_at(span.begin);
    if (auto m = parse_span(span)) replay.records.push_back(read_record(*m, artifact.path, line));
  }
  return replay;
}

}  // namespace

std::optional<bool> gemini_single_object(const TextArtifact& artifact, json::DocParser& parser) {
  text::LineReader lines(artifact.text);
  std::string_view line;
  while (lines.next(line)) {
    if (text::is_blank(line)) continue;
    if (parser.parse(line, &artifact.text)) return false;
    return text::trim(line) == "{" || text::ascii_lower(artifact.path).ends_with(".json");
  }
  return std::nullopt;
}

namespace {

// ---- putting a chat together ------------------------------------------------

// The chat's messages, calls, todos and launches from its records in order: a
// functionResponse completes the newest earlier call written as a part with
// its id (the first response counts; the history holds each twice), and such
// a call is dropped when some toolCalls item of the chat carries its id.
void assemble_chat(GeminiChat& chat, std::vector<RecordReading>& records) {
  std::vector<CallEntry> entries;
  std::unordered_set<std::string, text::TransparentHash, std::equal_to<>> item_ids;
  text::TextMap<std::size_t> pending_parts;
  for (RecordReading& r : records) {
    if (r.message) {
      r.message->position = chat.messages.size();
      chat.messages.push_back(std::move(*r.message));
    }
    if (r.prompt && !chat.first_user_text) chat.first_user_text = std::move(r.prompt);
    for (std::string& id : r.item_ids) item_ids.insert(std::move(id));
    for (CallEntry& e : r.calls) {
      if (e.from_part && e.call.tool_use_id) pending_parts[*e.call.tool_use_id] = entries.size();
      entries.push_back(std::move(e));
    }
    for (ResponseReading& response : r.responses) {
      auto found = pending_parts.find(response.call_id);
      if (found == pending_parts.end()) continue;
      CallEntry& e = entries[found->second];
      if (e.completed) continue;
      e.completed = true;
      if (response.text) e.call.result_text = std::move(response.text);
      e.call.is_error = response.error;
    }
  }
  for (CallEntry& e : entries) {
    if (e.from_part) {
      if (e.call.tool_use_id && item_ids.count(*e.call.tool_use_id) != 0) continue;
      if (e.launch && e.completed) e.launch->status = e.call.is_error ? "error" : "success";
    }
    if (e.todos) chat.todos = std::move(e.todos);
    if (e.launch) chat.launches.push_back(std::move(*e.launch));
    e.call.position = chat.tool_calls.size();
    chat.tool_calls.push_back(std::move(e.call));
  }
}

// The folder a chat sits in below chats/ (its parent's session id), if any.
std::optional<std::string_view> chat_folder(std::string_view path) {
  const std::string lower = text::ascii_lower(path);
  const std::size_t at = lower.rfind("/chats/");
  if (at == std::string::npos) return std::nullopt;
  const std::string_view rest = path.substr(at + 7);
  const std::size_t slash = rest.find('/');
  if (slash == std::string_view::npos || slash == 0) return std::nullopt;
  return rest.substr(0, slash);
}

ActivityState launch_state(const GeminiLaunch* launch) {
  if (launch == nullptr || !launch->status) return ActivityState::Running;
  const std::string& s = *launch->status;
  if (s == "success") return ActivityState::Finished;
  if (s == "error") return ActivityState::Failed;
  if (s == "cancelled") return ActivityState::Cancelled;
  return ActivityState::Running;
}

std::string launch_title(const GeminiLaunch* launch) {
  if (launch != nullptr && launch->agent_name && !launch->agent_name->empty()) return *launch->agent_name;
  return "Sub-agent";
}

}  // namespace

namespace {

GeminiChat chat_of(const std::string& path, Replay replay) {
  GeminiChat chat;
  chat.path = path;
  chat.session_id = std::move(replay.session_id);
  chat.kind = std::move(replay.kind);
  chat.header_line = replay.header_line;
  assemble_chat(chat, replay.records);
  return chat;
}

}  // namespace

GeminiChat read_gemini_chat(const TextArtifact& artifact) {
  json::DocParser parser;
  return chat_of(artifact.path, gemini_single_object(artifact, parser).value_or(false)
                                    ? replay_object(artifact, parser)
                                    : replay_jsonl(artifact, parser));
}

bool gemini_log_needs_whole(const TextArtifact& start) {
  json::DocParser parser;
  return gemini_single_object(start, parser).value_or(true);
}

GeminiChat read_gemini_log(const RunArtifacts& run, const TextArtifact& log, LogReader& logs,
                           GeminiUsageReader* usage) {
  // A JSONL chat is replayed a window of lines at a time. A chat written as
  // one object comes whole in a run prepared for Gemini (its needs_whole_log
  // asks for that); in any other run it is read again whole.
  const bool objects_whole = run.needs_whole_log == &gemini_log_needs_whole;
  json::DocParser parser;
  std::optional<JsonlReplay> jsonl;
  std::optional<GeminiChat> single;
  for_each_log_piece(run, log, logs, [&](const TextArtifact& piece, std::uint64_t first_line) {
    if (!jsonl) {
      if (gemini_single_object(piece, parser).value_or(true)) {
        if (!objects_whole) return false;
        single = read_gemini_chat(piece);
        if (usage != nullptr) usage->whole_chat(piece, parser);
        return true;
      }
      jsonl.emplace(JsonlReplay{piece.path, {}, {}, true});
      if (usage != nullptr) usage->begin_chat(log.path);
    }
    json::for_each_line(
        piece.text, parser,
        [&](std::uint64_t number, std::string_view, const json::Element* parsed) {
          jsonl->line(number, parsed);
          if (usage != nullptr) usage->line(number, parsed);
        },
        first_line);
    return true;
  });
  if (single) return std::move(*single);
  if (!jsonl) {
    const TextArtifact& whole = log_text(run, log, logs);
    if (usage != nullptr) usage->whole_chat(whole, parser);
    return read_gemini_chat(whole);
  }
  if (usage != nullptr) usage->end_chat();
  return chat_of(log.path, jsonl->take());
}

bool is_gemini_sub_agent_chat(const GeminiChat& chat) {
  return (chat.kind && *chat.kind == "subagent") || chat_folder(chat.path).has_value();
}

std::vector<GeminiChat> read_gemini_chats(const RunArtifacts& run, LogReader& logs, GeminiUsageReader* usage) {
  const std::vector<const TextArtifact*> texts = provider_transcripts(run, "gemini");
  std::unordered_set<std::string_view> paths;
  for (const TextArtifact* t : texts) paths.insert(t->path);
  std::vector<GeminiChat> main_chats;
  std::vector<GeminiChat> sub_chats;
  for (const TextArtifact* t : texts) {
    // Resuming a ".json" chat writes it again as ".jsonl" beside it.
    if (text::ascii_lower(t->path).ends_with(".json") && paths.count(t->path + "l") != 0) continue;
    GeminiChat chat = read_gemini_log(run, *t, logs, usage);
    (is_gemini_sub_agent_chat(chat) ? sub_chats : main_chats).push_back(std::move(chat));
  }
  for (GeminiChat& c : sub_chats) main_chats.push_back(std::move(c));
  return main_chats;
}

void append_gemini_records(std::vector<GeminiChat>& chats, std::vector<Message>& messages,
                           std::vector<ToolCall>& tool_calls, std::vector<TodoItem>& todos) {
  const std::vector<TodoItem>* last_main = nullptr;
  const std::vector<TodoItem>* last_sub = nullptr;
  for (GeminiChat& chat : chats) {
    for (Message& m : chat.messages) {
      m.position = messages.size();
      messages.push_back(std::move(m));
    }
    chat.messages.clear();
    for (ToolCall& c : chat.tool_calls) {
      c.position = tool_calls.size();
      tool_calls.push_back(std::move(c));
    }
    chat.tool_calls.clear();
    if (chat.todos) (is_gemini_sub_agent_chat(chat) ? last_sub : last_main) = &*chat.todos;
  }
  const std::vector<TodoItem>* list = last_main != nullptr ? last_main : last_sub;
  if (list == nullptr) return;
  for (const TodoItem& t : *list) {
    TodoItem item = t;
    item.position = todos.size();
    todos.push_back(std::move(item));
  }
}

namespace {

// The launches of the run, each claimed by at most one sub-agent chat, found
// through two indexes: by agent id, and by the launching chat's session and
// the prompt (trimmed). Each index keeps its launches in chat order and
// passes over the ones already claimed, so matching every chat takes time in
// proportion to the chats and launches.
class LaunchIndex {
 public:
  explicit LaunchIndex(const std::vector<GeminiChat>& chats) : chats_(chats), used_(chats.size()) {
    for (std::size_t c = 0; c < chats.size(); ++c) {
      used_[c].assign(chats[c].launches.size(), false);
      for (std::size_t l = 0; l < chats[c].launches.size(); ++l) {
        const GeminiLaunch& launch = chats[c].launches[l];
        if (launch.agent_id) by_agent_[*launch.agent_id].slots.push_back({c, l});
        if (chats[c].session_id && launch.prompt) {
          by_prompt_[prompt_key(*chats[c].session_id, text::trim(*launch.prompt))].slots.push_back({c, l});
        }
      }
    }
  }

  // The first unclaimed launch with this agent id.
  const GeminiLaunch* claim_by_agent(const std::string& id) { return claim(by_agent_, id); }
  // The first unclaimed launch of the chat with session `session` whose
  // prompt, trimmed, is `prompt` trimmed.
  const GeminiLaunch* claim_by_prompt(std::string_view session, std::string_view prompt) {
    return claim(by_prompt_, prompt_key(session, text::trim(prompt)));
  }
  bool used(std::size_t chat, std::size_t launch) const { return used_[chat][launch]; }

 private:
  struct Slot {
    std::size_t chat = 0;
    std::size_t launch = 0;
  };
  struct Queue {
    std::vector<Slot> slots;
    std::size_t next = 0;  // slots before it are claimed
  };
  using Index = std::unordered_map<std::string, Queue>;

  // The session's length, the session and the prompt: two texts as one key.
  static std::string prompt_key(std::string_view session, std::string_view prompt) {
    std::string key = std::to_string(session.size());
    key.push_back(':');
    key += session;
    key += prompt;
    return key;
  }

  const GeminiLaunch* claim(Index& index, const std::string& key) {
    auto found = index.find(key);
    if (found == index.end()) return nullptr;
    Queue& q = found->second;
    while (q.next < q.slots.size() && used_[q.slots[q.next].chat][q.slots[q.next].launch]) ++q.next;
    if (q.next == q.slots.size()) return nullptr;
    const Slot slot = q.slots[q.next++];
    used_[slot.chat][slot.launch] = true;
    return &chats_[slot.chat].launches[slot.launch];
  }

  const std::vector<GeminiChat>& chats_;
  std::vector<std::vector<bool>> used_;
  Index by_agent_;
  Index by_prompt_;
};

}  // namespace

std::vector<SubAgent> gemini_sub_agents(const std::vector<GeminiChat>& chats) {
  LaunchIndex launches(chats);
  std::vector<SubAgent> agents;
  for (const GeminiChat& chat : chats) {
    if (!is_gemini_sub_agent_chat(chat)) continue;
    const std::string id = chat.session_id ? *chat.session_id : std::string(text::file_stem(chat.path));
    // The launching call names the chat's session; a resumed parent has lost
    // that member, so failing it, the parent's launch with the same prompt.
    const GeminiLaunch* launch = launches.claim_by_agent(id);
    const std::optional<std::string_view> parent = chat_folder(chat.path);
    if (launch == nullptr && parent && chat.first_user_text) {
      launch = launches.claim_by_prompt(*parent, *chat.first_user_text);
    }
    SubAgent a;
    a.id = id;
    a.title = launch_title(launch);
    a.prompt = std::string(text::take_chars(chat.first_user_text.value_or(""), text::kPromptChars));
    a.state = launch_state(launch);
    if (launch != nullptr) {
      a.source = launch->source;
    } else {
      a.source = chat.header_line > 0 ? text::source_of(chat.path, chat.header_line) : chat.path;
    }
    agents.push_back(std::move(a));
  }
  // Delegations of the versions before sub-agent chats, and launches whose
  // chat is not in the run.
  for (std::size_t c = 0; c < chats.size(); ++c) {
    for (std::size_t l = 0; l < chats[c].launches.size(); ++l) {
      if (launches.used(c, l)) continue;
      const GeminiLaunch& launch = chats[c].launches[l];
      SubAgent a;
      a.id = launch.call_id.value_or("gemini-subagent");
      a.title = launch_title(&launch);
      a.prompt = std::string(text::take_chars(launch.prompt.value_or(""), text::kPromptChars));
      a.state = launch_state(&launch);
      a.source = launch.source;
      agents.push_back(std::move(a));
    }
  }
  return agents;
}

RunArtifacts GeminiParser::prepare_artifacts(RunArtifacts run) const {
  run.needs_whole_log = &gemini_log_needs_whole;
  return run;
}

void GeminiParser::enrich(const RunArtifacts& run, ParseContext& context, LogReader& logs,
                          std::vector<Message>& messages, std::vector<ToolCall>& tool_calls,
                          std::vector<TodoItem>& todos) const {
  GeminiParseContext& own_context = own(context);
  std::vector<GeminiChat>& chats = own_context.chats;
  chats = read_gemini_chats(run, logs, context.usage ? &own_context.usage_reader : nullptr);
  append_gemini_records(chats, messages, tool_calls, todos);
}

UsageReading GeminiParser::usage(const RunArtifacts&, ParseContext& context, const std::vector<Message>&,
                                 const std::vector<SubAgent>& sub_agents) const {
  return own(context).usage_reader.finish(sub_agents);
}

std::vector<SubAgent> GeminiParser::sub_agents(const RunArtifacts& run, const ParseContext& context) const {
  std::vector<SubAgent> agents = gemini_sub_agents(own(context).chats);
  if (agents.empty()) return Parser::sub_agents(run, context);
  return agents;
}

}  // namespace tl
