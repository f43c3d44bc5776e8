// OpenCode's own store, read into messages, tool calls and todos: the JSON
// files it wrote up to 1.1 (storage/session|message|part|todo under
// .local/share/opencode/) and the SQLite database it writes from 1.2 on
// (opencode.db or opencode-<channel>.db beside them).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "../artifacts.hpp"
#include "../artifacts_sqlite.hpp"
#include "../json.hpp"
#include "../model.hpp"

namespace tl {

// ---- where the store lives ----------------------------------------------------------

enum class OpencodeStoreKind { Session, Message, Part, Todo };

// A path inside a JSON store: <root>session/<project>/<session>.json,
// <root>message/<session>/<message>.json, <root>part/<message>/<part>.json or
// <root>todo/<session>.json, where the root ends in
// "/.local/share/opencode/storage/".
struct OpencodeStorePath {
  std::string_view root;
  OpencodeStoreKind kind = OpencodeStoreKind::Session;
  std::string_view group;  // the directory the file is in; empty for a todo file
  std::string_view name;   // the file name without ".json"
};

std::optional<OpencodeStorePath> opencode_store_path(std::string_view path);

// opencode.db or opencode-<channel>.db directly in .local/share/opencode/.
bool is_opencode_database(std::string_view path);

// OpenCode's databases and what is read from them: the columns of the
// session, message, part and todo tables that every version has.
extern const DatabaseRule kOpencodeDatabases[1];

// ---- the records of one session, either store -------------------------------------

struct OpencodePart {
  enum class Kind { Text, Tool, Other };
  std::string id;
  Kind kind = Kind::Other;
  // Text parts.
  std::string text;
  bool hidden = false;  // marked synthetic or ignored
  // Tool parts.
  std::optional<std::string> call_id;
  std::string tool;
  std::optional<json::Encoded> input;
  std::optional<std::string> result;
  bool is_error = false;
  std::optional<std::int64_t> started;
  std::optional<std::int64_t> ended;
};

struct OpencodeMessage {
  std::string id;
  std::optional<std::int64_t> created;
  std::string role;
  bool has_error = false;
  std::string error_name;
  bool completed = false;
  std::vector<OpencodePart> parts;
};

struct OpencodeTodo {
  std::string content;
  std::string status;
};

// A message or part object (its id given separately: the file name or the
// database column when the object has none).
OpencodeMessage opencode_message(json::Element object, std::string id, std::optional<std::int64_t> created);
OpencodePart opencode_part(json::Element object, std::string id);

// ---- the JSON store ----------------------------------------------------------------

struct OpencodeSessionFile {
  std::string id;
  std::optional<std::string> parent_id;
  std::optional<std::string> title;
  std::optional<std::int64_t> created;
  std::string path;
};

// One JSON store (one root), its files read.
struct OpencodeJsonStore {
  std::string root;
  std::vector<OpencodeSessionFile> sessions;                               // in path order
  std::unordered_map<std::string, std::vector<OpencodeMessage>> messages;  // by session directory
  std::unordered_map<std::string, std::vector<OpencodePart>> parts;        // by message directory
  std::unordered_map<std::string, std::vector<OpencodeTodo>> todos;        // by session file name
};

// Reads the store files among the OpenCode transcripts into stores (sorted
// by root) and hands every other transcript on in `others`, in order: a file
// is a store file when its path has the store's layout and it holds one JSON
// value, an array for a todo file and otherwise an object that is not a
// transcript line (one with both "role" and "content").
std::vector<OpencodeJsonStore> collect_opencode_json_stores(const RunArtifacts& run, LogReader& logs,
                                                            const std::vector<const TextArtifact*>& transcripts,
                                                            std::vector<const TextArtifact*>& others);

// ---- reading both into records ------------------------------------------------------

// What later hooks need of the store.
struct OpencodeStoreSummary {
  std::vector<SubAgent> sub_agents;  // one per child session read
  std::optional<std::string> title;  // the earliest root session's title
  bool database_messages = false;    // some database yielded a message
};

// Appends the records of every session: sessions in order of creation (then
// id), each read once, from the first database that holds it, else from the
// first JSON store. A session's records are its messages, their tool calls
// and its todos, sourced "<session place>:<rank>".
OpencodeStoreSummary append_opencode_store(const std::vector<OpencodeJsonStore>& stores,
                                           const std::vector<DatabaseArtifact>& databases,
                                           std::vector<Message>& messages, std::vector<ToolCall>& tool_calls,
                                           std::vector<TodoItem>& todos);

// Milliseconds since 1970 as "2026-12-07T13:01:45.123Z"; nothing outside
// the years 1970 to 9999.
std::optional<std::string> rfc3339_millis(std::int64_t millis);

}  // namespace tl
