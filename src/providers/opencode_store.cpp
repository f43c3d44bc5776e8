#include "opencode_store.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <unordered_set>
#include <utility>

#include "../classify/jsonl.hpp"
#include "../classify/todos.hpp"
#include "../classify/transcript_text.hpp"
#include "../text.hpp"

namespace tl {

namespace {

constexpr std::string_view kStoreMarker = "/.local/share/opencode/storage/";
constexpr std::string_view kDataMarker = "/.local/share/opencode/";

// The database's tables, in the order of the rule's queries, and their columns.
constexpr std::string_view kSessionColumns[] = {"id", "parent_id", "title", "time_created"};
constexpr std::string_view kMessageColumns[] = {"id", "session_id", "time_created", "data"};
constexpr std::string_view kPartColumns[] = {"id", "message_id", "data"};
constexpr std::string_view kTodoColumns[] = {"session_id", "content", "status", "position"};
constexpr SqliteQuery kQueries[] = {
    {"session", kSessionColumns}, {"message", kMessageColumns}, {"part", kPartColumns}, {"todo", kTodoColumns}};
enum Table : std::size_t { kSessions, kMessages, kParts, kTodos };
enum SessionColumn : std::size_t { kSessionId, kSessionParent, kSessionTitle, kSessionCreated };
enum MessageColumn : std::size_t { kMessageId, kMessageSession, kMessageCreated, kMessageData };
enum PartColumn : std::size_t { kPartId, kPartMessage, kPartData };
enum TodoColumn : std::size_t { kTodoSession, kTodoContent, kTodoStatus, kTodoPosition };

// A whole number of milliseconds: an integer, or a float without fraction.
std::optional<std::int64_t> whole_number(json::Element e) {
  std::int64_t i = 0;
  if (!e.get_int64().get(i)) return i;
  std::uint64_t u = 0;
  if (!e.get_uint64().get(u)) {
    if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
    return static_cast<std::int64_t>(u);
  }
  double d = 0;
  if (!e.get_double().get(d) && std::isfinite(d) && std::floor(d) == d && std::fabs(d) < 9.2e18) {
    return static_cast<std::int64_t>(d);
  }
  return std::nullopt;
}

std::optional<std::int64_t> whole_number_at(json::Element e, std::string_view ptr) {
  auto v = json::pointer(e, ptr);
  return v ? whole_number(*v) : std::nullopt;
}

// A non-zero integer (an exit status).
bool nonzero_integer(std::optional<json::Element> e) {
  if (!e) return false;
  std::int64_t i = 0;
  if (!e->get_int64().get(i)) return i != 0;
  std::uint64_t u = 0;
  return !e->get_uint64().get(u) && u != 0;
}

// The object's own string member, or `fallback` when it has none.
std::string id_or(json::Element object, std::string_view key, std::string_view fallback) {
  auto id = json::string_member(object, key);
  return std::string(id && !id->empty() ? *id : fallback);
}

std::optional<std::string> non_empty_string(std::optional<std::string_view> s) {
  if (!s || s->empty()) return std::nullopt;
  return std::string(*s);
}

// ---- the JSON store --------------------------------------------------------------

bool is_transcript_line(json::Element object) {
  return json::member(object, "role").has_value() && json::member(object, "content").has_value();
}

void add_store_file(std::vector<OpencodeJsonStore>& stores, const OpencodeStorePath& where, const TextArtifact& file,
                    json::Element value) {
  auto store =
      std::find_if(stores.begin(), stores.end(), [&](const OpencodeJsonStore& s) { return s.root == where.root; });
  if (store == stores.end()) {
    stores.push_back(OpencodeJsonStore{});
    store = stores.end() - 1;
    store->root = std::string(where.root);
  }
  switch (where.kind) {
    case OpencodeStoreKind::Session: {
      OpencodeSessionFile s;
      s.id = id_or(value, "id", where.name);
      s.parent_id = non_empty_string(json::string_member(value, "parentID"));
      s.title = non_empty_string(json::string_member(value, "title"));
      s.created = whole_number_at(value, "/time/created");
      s.path = file.path;
      store->sessions.push_back(std::move(s));
      break;
    }
    case OpencodeStoreKind::Message:
      store->messages[std::string(where.group)].push_back(
          opencode_message(value, id_or(value, "id", where.name), whole_number_at(value, "/time/created")));
      break;
    case OpencodeStoreKind::Part:
      store->parts[std::string(where.group)].push_back(opencode_part(value, id_or(value, "id", where.name)));
      break;
    case OpencodeStoreKind::Todo: {
      std::vector<OpencodeTodo>& list = store->todos[std::string(where.name)];
      list.clear();
      const auto items = json::as_array(value);
      for (json::Element item : *items) {
        auto content = json::string_member(item, "content");
        auto status = json::string_member(item, "status");
        if (content && status) list.push_back({std::string(*content), std::string(*status)});
      }
      break;
    }
  }
}

// ---- one session's records ---------------------------------------------------------

// Where a selected session's records are read from.
struct SessionSource {
  std::string id;
  std::optional<std::string> parent_id;
  std::optional<std::string> title;
  std::int64_t created = 0;
  std::string place;
  const OpencodeJsonStore* store = nullptr;  // else the database
  const DatabaseArtifact* database = nullptr;
};

// A database's rows grouped for reading one session at a time.
struct DatabaseIndex {
  const DatabaseArtifact* database = nullptr;
  std::unordered_map<std::string_view, std::vector<std::size_t>> messages;  // rows by session id
  std::unordered_map<std::string_view, std::vector<std::size_t>> parts;     // rows by message id
  std::unordered_map<std::string_view, std::vector<std::size_t>> todos;     // rows by session id
};

const std::string* text_of(const SqliteValue& v) { return std::get_if<std::string>(&v); }

std::optional<std::int64_t> integer_of(const SqliteValue& v) {
  if (const auto* i = std::get_if<std::int64_t>(&v)) return *i;
  return std::nullopt;
}

void group_rows(const SqliteRows& rows, std::size_t key_column,
                std::unordered_map<std::string_view, std::vector<std::size_t>>& out) {
  for (std::size_t r = 0; r < rows.size(); ++r) {
    if (const std::string* key = text_of(rows.at(r, key_column))) out[*key].push_back(r);
  }
}

DatabaseIndex index_database(const DatabaseArtifact& db) {
  DatabaseIndex index;
  index.database = &db;
  group_rows(db.tables[kMessages], kMessageSession, index.messages);
  group_rows(db.tables[kParts], kPartMessage, index.parts);
  group_rows(db.tables[kTodos], kTodoSession, index.todos);
  return index;
}

bool message_order(const OpencodeMessage& a, const OpencodeMessage& b) {
  const std::int64_t ta = a.created.value_or(0);
  const std::int64_t tb = b.created.value_or(0);
  if (ta != tb) return ta < tb;
  return a.id < b.id;
}

void sort_parts(std::vector<OpencodePart>& parts) {
  std::stable_sort(parts.begin(), parts.end(),
                   [](const OpencodePart& a, const OpencodePart& b) { return a.id < b.id; });
}

// The session's messages with their parts, and its todos, from a JSON store.
void load_json_session(const OpencodeJsonStore& store, const std::string& id, std::vector<OpencodeMessage>& messages,
                       std::vector<OpencodeTodo>& todos) {
  if (auto found = store.messages.find(id); found != store.messages.end()) messages = found->second;
  for (OpencodeMessage& m : messages) {
    if (auto found = store.parts.find(m.id); found != store.parts.end()) m.parts = found->second;
  }
  if (auto found = store.todos.find(id); found != store.todos.end()) todos = found->second;
}

// The same from a database; rows whose data is not a JSON object are left out.
void load_database_session(const DatabaseIndex& index, const std::string& id, json::DocParser& parser,
                           std::vector<OpencodeMessage>& messages, std::vector<OpencodeTodo>& todos) {
  const DatabaseArtifact& db = *index.database;
  if (auto found = index.messages.find(id); found != index.messages.end()) {
    const SqliteRows& rows = db.tables[kMessages];
    for (std::size_t r : found->second) {
      const std::string* message_id = text_of(rows.at(r, kMessageId));
      const std::string* data = text_of(rows.at(r, kMessageData));
      if (message_id == nullptr || message_id->empty() || data == nullptr) continue;
      auto value = parser.parse(*data);
      if (!value || !json::is_object(*value)) continue;
      messages.push_back(opencode_message(*value, *message_id, integer_of(rows.at(r, kMessageCreated))));
    }
  }
  const SqliteRows& part_rows = db.tables[kParts];
  for (OpencodeMessage& m : messages) {
    auto found = index.parts.find(m.id);
    if (found == index.parts.end()) continue;
    for (std::size_t r : found->second) {
      const std::string* part_id = text_of(part_rows.at(r, kPartId));
      const std::string* data = text_of(part_rows.at(r, kPartData));
      if (part_id == nullptr || part_id->empty() || data == nullptr) continue;
      auto value = parser.parse(*data);
      if (!value || !json::is_object(*value)) continue;
      m.parts.push_back(opencode_part(*value, *part_id));
    }
  }
  if (auto found = index.todos.find(id); found != index.todos.end()) {
    const SqliteRows& rows = db.tables[kTodos];
    std::vector<std::size_t> order = found->second;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
      return integer_of(rows.at(a, kTodoPosition)).value_or(0) < integer_of(rows.at(b, kTodoPosition)).value_or(0);
    });
    for (std::size_t r : order) {
      const std::string* content = text_of(rows.at(r, kTodoContent));
      const std::string* status = text_of(rows.at(r, kTodoStatus));
      if (content != nullptr && status != nullptr) todos.push_back({*content, *status});
    }
  }
}

// Appends one session's records and returns its sub-agent record.
struct SessionResult {
  SubAgent agent;
  std::size_t message_count = 0;
};

SessionResult append_session(const SessionSource& s, std::vector<OpencodeMessage>& msgs,
                             const std::vector<OpencodeTodo>& session_todos, std::vector<Message>& messages,
                             std::vector<ToolCall>& tool_calls, std::vector<TodoItem>& todos) {
  std::stable_sort(msgs.begin(), msgs.end(), message_order);
  SessionResult result;
  result.agent.id = s.id;
  result.agent.title = s.title.value_or("");
  result.agent.source = s.place;
  result.agent.state = ActivityState::Running;
  std::optional<std::string> first_prompt;
  std::uint64_t rank = 0;
  auto next_source = [&] { return text::source_of(s.place, ++rank); };
  for (OpencodeMessage& m : msgs) {
    sort_parts(m.parts);
    const bool user = m.role == "user";
    std::string joined;
    bool any_text = false;
    for (const OpencodePart& p : m.parts) {
      if (p.kind != OpencodePart::Kind::Text || (user && p.hidden)) continue;
      if (any_text) joined.push_back('\n');
      joined += p.text;
      any_text = true;
    }
    std::optional<std::string> text;
    if (user && any_text) {
      text = clean_user_prompt(joined, false);
    } else if (m.role == "assistant" && any_text) {
      text = text::compact(joined, text::kMessageChars);
      if (text->empty()) text.reset();
    }
    if (text) {
      if (user && !first_prompt) first_prompt = *text;
      Message out;
      out.position = messages.size();
      out.id = m.id;
      out.role = m.role;
      out.text = std::move(*text);
      if (m.created) out.timestamp = rfc3339_millis(*m.created);
      out.source = next_source();
      messages.push_back(std::move(out));
      ++result.message_count;
    }
    for (OpencodePart& p : m.parts) {
      if (p.kind != OpencodePart::Kind::Tool) continue;
      ToolCall call;
      call.position = tool_calls.size();
      call.tool_use_id = std::move(p.call_id);
      call.name = std::move(p.tool);
      call.input = std::move(p.input);
      call.result_text = std::move(p.result);
      call.is_error = p.is_error;
      if (p.started) call.started_at = rfc3339_millis(*p.started);
      if (p.ended) call.ended_at = rfc3339_millis(*p.ended);
      call.source = next_source();
      tool_calls.push_back(std::move(call));
    }
    // A sub-agent's state follows its last assistant message.
    if (m.role == "assistant") {
      if (m.has_error) {
        result.agent.state = m.error_name == "MessageAbortedError" ? ActivityState::Cancelled : ActivityState::Failed;
      } else {
        result.agent.state = m.completed ? ActivityState::Finished : ActivityState::Running;
      }
    }
  }
  for (const OpencodeTodo& t : session_todos) {
    auto state = normalize_todo_state(t.status);
    std::string_view content = text::trim(t.content);
    if (!state || content.empty()) continue;
    TodoItem item;
    item.position = todos.size();
    item.content = text::compact(content, text::kTodoChars);
    item.state = std::string(*state);
    item.source = next_source();
    todos.push_back(std::move(item));
  }
  result.agent.prompt = first_prompt.value_or("");
  return result;
}

}  // namespace

std::optional<OpencodeStorePath> opencode_store_path(std::string_view path) {
  const std::size_t at = text::ascii_lower(path).find(kStoreMarker);
  if (at == std::string::npos) return std::nullopt;
  OpencodeStorePath out;
  out.root = path.substr(0, at + kStoreMarker.size());
  std::string_view rest = path.substr(out.root.size());
  if (!rest.ends_with(".json")) return std::nullopt;
  rest.remove_suffix(5);
  const std::size_t slash = rest.find('/');
  if (slash == std::string_view::npos) return std::nullopt;
  const std::string_view kind = rest.substr(0, slash);
  rest.remove_prefix(slash + 1);
  const std::size_t second = rest.find('/');
  if (kind == "todo") {
    if (second != std::string_view::npos || rest.empty()) return std::nullopt;
    out.kind = OpencodeStoreKind::Todo;
    out.name = rest;
    return out;
  }
  if (kind == "session") {
    out.kind = OpencodeStoreKind::Session;
  } else if (kind == "message") {
    out.kind = OpencodeStoreKind::Message;
  } else if (kind == "part") {
    out.kind = OpencodeStoreKind::Part;
  } else {
    return std::nullopt;
  }
  if (second == std::string_view::npos || second == 0) return std::nullopt;
  out.group = rest.substr(0, second);
  out.name = rest.substr(second + 1);
  if (out.name.empty() || out.name.find('/') != std::string_view::npos) return std::nullopt;
  return out;
}

bool is_opencode_database(std::string_view path) {
  const std::string lower = text::ascii_lower(path);
  const std::size_t at = lower.rfind(kDataMarker);
  if (at == std::string::npos) return false;
  const std::string_view name = std::string_view(lower).substr(at + kDataMarker.size());
  if (name == "opencode.db") return true;
  return name.size() > 12 && name.starts_with("opencode-") && name.ends_with(".db") &&
         name.find('/') == std::string_view::npos;
}

const DatabaseRule kOpencodeDatabases[1] = {{is_opencode_database, kQueries}};

OpencodeMessage opencode_message(json::Element object, std::string id, std::optional<std::int64_t> created) {
  OpencodeMessage m;
  m.id = std::move(id);
  m.created = created;
  m.role = std::string(json::string_member(object, "role").value_or(""));
  if (auto error = json::member(object, "error"); error && !json::is_null(*error)) {
    m.has_error = true;
    m.error_name = std::string(json::string_member(*error, "name").value_or(""));
  }
  m.completed = whole_number_at(object, "/time/completed").has_value();
  return m;
}

OpencodePart opencode_part(json::Element object, std::string id) {
  OpencodePart p;
  p.id = std::move(id);
  const std::string_view type = json::string_member(object, "type").value_or("");
  if (type == "text") {
    p.kind = OpencodePart::Kind::Text;
    p.text = std::string(json::string_member(object, "text").value_or(""));
    p.hidden = json::is_true(object, "synthetic") || json::is_true(object, "ignored");
  } else if (type == "tool") {
    p.kind = OpencodePart::Kind::Tool;
    p.call_id = non_empty_string(json::string_member(object, "callID"));
    p.tool = std::string(json::string_member(object, "tool").value_or("toolCall"));
    if (auto state = json::member(object, "state")) {
      const std::string_view status = json::string_member(*state, "status").value_or("");
      if (auto input = json::member(*state, "input")) p.input = json::encode(*input);
      std::optional<json::Element> result;
      if (status == "completed") result = json::member(*state, "output");
      if (status == "error") result = json::member(*state, "error");
      if (result) p.result = json_text_truncated(*result, text::kMessageChars);
      p.is_error = status == "error" || nonzero_integer(json::pointer(*state, "/metadata/exit"));
      p.started = whole_number_at(*state, "/time/start");
      p.ended = whole_number_at(*state, "/time/end");
    }
  }
  return p;
}

std::vector<OpencodeJsonStore> collect_opencode_json_stores(const RunArtifacts& run, LogReader& logs,
                                                            const std::vector<const TextArtifact*>& transcripts,
                                                            std::vector<const TextArtifact*>& others) {
  std::vector<OpencodeJsonStore> stores;
  json::DocParser parser;
  for (const TextArtifact* t : transcripts) {
    auto where = opencode_store_path(t->path);
    std::optional<json::Element> value;
    if (where) {
      const TextArtifact& log = log_text(run, *t, logs);
      value = parser.parse(log.text, &log.text);
    }
    bool store_file = false;
    if (value) {
      store_file = where->kind == OpencodeStoreKind::Todo ? json::is_array(*value)
                                                          : json::is_object(*value) && !is_transcript_line(*value);
    }
    if (!store_file) {
      others.push_back(t);
      continue;
    }
    add_store_file(stores, *where, *t, *value);
  }
  std::sort(stores.begin(), stores.end(),
            [](const OpencodeJsonStore& a, const OpencodeJsonStore& b) { return a.root < b.root; });
  return stores;
}

OpencodeStoreSummary append_opencode_store(const std::vector<OpencodeJsonStore>& stores,
                                           const std::vector<DatabaseArtifact>& databases,
                                           std::vector<Message>& messages, std::vector<ToolCall>& tool_calls,
                                           std::vector<TodoItem>& todos) {
  // Every session once: databases in path order first, then JSON stores.
  std::vector<SessionSource> sessions;
  std::unordered_set<std::string> seen;
  std::vector<DatabaseIndex> indexes;
  indexes.reserve(databases.size());
  for (const DatabaseArtifact& db : databases) {
    if (db.tables.size() != 4) continue;
    const SqliteRows& rows = db.tables[kSessions];
    bool any = false;
    for (std::size_t r = 0; r < rows.size(); ++r) {
      const std::string* id = text_of(rows.at(r, kSessionId));
      if (id == nullptr || id->empty() || !seen.insert(*id).second) continue;
      SessionSource s;
      s.id = *id;
      if (const std::string* parent = text_of(rows.at(r, kSessionParent)); parent && !parent->empty()) {
        s.parent_id = *parent;
      }
      if (const std::string* title = text_of(rows.at(r, kSessionTitle)); title && !title->empty()) s.title = *title;
      s.created = integer_of(rows.at(r, kSessionCreated)).value_or(0);
      s.place = db.path + "/" + *id;
      s.database = &db;
      sessions.push_back(std::move(s));
      any = true;
    }
    if (any) indexes.push_back(index_database(db));
  }
  for (const OpencodeJsonStore& store : stores) {
    for (const OpencodeSessionFile& f : store.sessions) {
      if (!seen.insert(f.id).second) continue;
      SessionSource s;
      s.id = f.id;
      s.parent_id = f.parent_id;
      s.title = f.title;
      s.created = f.created.value_or(0);
      s.place = f.path;
      s.store = &store;
      sessions.push_back(std::move(s));
    }
  }
  std::stable_sort(sessions.begin(), sessions.end(), [](const SessionSource& a, const SessionSource& b) {
    if (a.created != b.created) return a.created < b.created;
    return a.id < b.id;
  });

  OpencodeStoreSummary summary;
  bool root_seen = false;
  json::DocParser parser;
  for (const SessionSource& s : sessions) {
    std::vector<OpencodeMessage> session_messages;
    std::vector<OpencodeTodo> session_todos;
    if (s.store != nullptr) {
      load_json_session(*s.store, s.id, session_messages, session_todos);
    } else {
      auto index = std::find_if(indexes.begin(), indexes.end(),
                                [&](const DatabaseIndex& i) { return i.database == s.database; });
      load_database_session(*index, s.id, parser, session_messages, session_todos);
    }
    SessionResult r = append_session(s, session_messages, session_todos, messages, tool_calls, todos);
    if (s.database != nullptr && r.message_count > 0) summary.database_messages = true;
    if (s.parent_id) {
      summary.sub_agents.push_back(std::move(r.agent));
    } else if (!root_seen) {
      root_seen = true;
      summary.title = s.title;
    }
  }
  return summary;
}

std::optional<std::string> rfc3339_millis(std::int64_t millis) {
  if (millis < 0 || millis > 253402300799999) return std::nullopt;
  const std::chrono::sys_days day{std::chrono::days{millis / 86400000}};
  const std::chrono::year_month_day date{day};
  const std::int64_t in_day = millis % 86400000;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(in_day / 3600000), static_cast<int>(in_day / 60000 % 60),
                static_cast<int>(in_day / 1000 % 60), static_cast<int>(in_day % 1000));
  return std::string(buf);
}

}  // namespace tl
