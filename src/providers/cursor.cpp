#include "cursor.hpp"

#include <functional>
#include <unordered_map>

#include "../classify/todos.hpp"
#include "../text.hpp"

namespace tl {

namespace {

// Tool-use ids to list indexes; looked up by view without building a key.
using IdIndex = text::TextMap<std::size_t>;

void remember(IdIndex& index, std::string_view id, std::size_t i) {
  auto it = index.find(id);
  if (it != index.end()) {
    it->second = i;
  } else {
    index.emplace(std::string(id), i);
  }
}

// The index recorded for `id`, when it lies below `size`.
std::optional<std::size_t> lookup(const IdIndex& index, std::string_view id, std::size_t size) {
  auto it = index.find(id);
  if (it == index.end() || it->second >= size) return std::nullopt;
  return it->second;
}

bool is_call_type(std::optional<std::string_view> type) {
  return type && (*type == "function_call" || *type == "tool_call" || *type == "tool_use" || *type == "toolCall");
}

bool is_result_type(std::optional<std::string_view> type) { return type && *type == "tool_result"; }

// The fields of one transcript line that every rule reads.
struct CursorLine {
  std::string_view role;
  std::optional<json::Element> content;
  std::optional<std::string_view> timestamp;
};

// Reads the line's fields in one walk over its members; a line without a
// string "role" gives nothing. A repeated member counts with its last value.
std::optional<CursorLine> read_line(json::Element line) {
  std::optional<json::Element> role, message, content, timestamp, created_at;
  if (!json::read_fields(line, {{"role", &role},
                                {"message", &message},
                                {"content", &content},
                                {"timestamp", &timestamp},
                                {"created_at", &created_at}})) {
    return std::nullopt;
  }
  auto role_text = role ? json::as_string(*role) : std::nullopt;
  if (!role_text) return std::nullopt;
  CursorLine out;
  out.role = *role_text;
  if (message) {
    if (auto inner = json::member(*message, "content")) content = inner;
  }
  out.content = content;
  if (timestamp) {
    out.timestamp = json::as_string(*timestamp);
  } else if (created_at) {
    out.timestamp = json::as_string(*created_at);
  }
  return out;
}

// A tool-result element's text as a view: into the parsed line when its
// content is a string, into `scratch` when it is joined from an array.
std::optional<std::string_view> tool_result_view(json::Element element, std::string& scratch) {
  auto content = json::member(element, "content");
  if (!content) return std::nullopt;
  if (auto s = json::as_string(*content)) return s;
  auto items = json::as_array(*content);
  if (!items) return std::nullopt;
  scratch.clear();
  text::LineJoiner joiner(scratch);
  for (json::Element item : *items) {
    auto piece = json::as_string(item);
    if (!piece) piece = json::string_member(item, "text");
    if (piece) joiner.add(*piece);
  }
  return std::string_view(scratch);
}

// Appends the readable text of `content` to `out` (see extract_cursor_text).
void append_cursor_text(std::optional<json::Element> content, std::string& out, std::string& scratch) {
  if (!content) return;
  if (auto s = json::as_string(*content)) {
    out.append(*s);
    return;
  }
  auto items = json::as_array(*content);
  if (!items) return;
  text::LineJoiner joiner(out);
  auto piece = [&](std::initializer_list<std::string_view> parts) {
    joiner.add({});
    for (auto p : parts) out.append(p);
  };
  for (json::Element item : *items) {
    auto type = json::string_member(item, "type");
    if (type && *type == "thinking") {
      if (auto thinking = json::string_member(item, "thinking")) piece({"[thinking] ", *thinking});
    } else if (is_call_type(type)) {
      piece({"[tool: ", json::string_member(item, "name").value_or(""), "]"});
    } else if (type && (*type == "tool_result" || *type == "toolResult")) {
      if (auto result = tool_result_view(item, scratch)) {
        piece({"[tool_result] ", *result});
      } else {
        piece({"[tool_result]"});
      }
    } else if (auto t = json::string_member(item, "text")) {
      piece({*t});
    }
  }
}

// The part of a user text that holds the request, before whitespace is
// collapsed: what a user_query tag encloses, or else the text with every tag
// dropped (built in `scratch`).
std::string_view user_prompt_text(std::string_view text, std::string& scratch) {
  const std::size_t open = text::ifind_ascii(text, "<user_query");
  if (open != std::string_view::npos) {
    const std::size_t gt = text.find('>', open + 11);
    if (gt != std::string_view::npos) {
      const std::size_t close = text::ifind_ascii(text, "</user_query>", gt + 1);
      if (close != std::string_view::npos) return text.substr(gt + 1, close - gt - 1);
    }
  }
  // An unclosed tag drops the rest of the text, and a '>' that closes
  // nothing is dropped too.
  scratch.clear();
  bool in_tag = false;
  std::size_t kept_from = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '<' && c != '>') continue;
    if (!in_tag) scratch.append(text.substr(kept_from, i - kept_from));
    in_tag = c == '<';
    kept_from = i + 1;
  }
  if (!in_tag) scratch.append(text.substr(kept_from));
  return scratch;
}

// Follows agent launches and their results through one transcript.
class LaunchTracker {
 public:
  explicit LaunchTracker(std::vector<SubAgent>& agents) : agents_(agents) {}

  // A tool-call element of an assistant line, named `name`.
  void call(json::Element element, std::string_view name, std::string_view source) {
    if (!text::iequals_ascii(name, "task") && !text::iequals_ascii(name, "subagent") &&
        !text::iequals_ascii(name, "agent")) {
      return;
    }
    SubAgent agent;
    auto id = json::string_member(element, "id");
    agent.id = id ? std::string(*id) : std::string("cursor-subagent");
    auto input = json::first_present(element, {"input", "arguments"});
    agent.title = "sub-agent";
    if (input) {
      auto object = json::as_object(*input);
      if (object && object->begin() != object->end()) {
        auto title = json::first_present(*input, {"description", "title", "task"});
        auto title_text = title ? json::as_string(*title) : std::nullopt;
        if (title_text) agent.title = std::string(text::trim(*title_text));
      }
      if (auto prompt = json::string_member(*input, "prompt"))
        agent.prompt = std::string(text::take_chars(*prompt, text::kPromptChars));
    }
    agent.state = ActivityState::Running;
    agent.source = std::string(source);
    remember(index_, agent.id, agents_.size());
    agents_.push_back(std::move(agent));
  }

  // A tool-result element of a user line.
  void result(json::Element element) {
    auto id = json::string_member(element, "tool_use_id");
    if (!id) return;
    if (auto i = lookup(index_, *id, agents_.size())) {
      agents_[*i].state = json::is_true(element, "is_error") ? ActivityState::Failed : ActivityState::Finished;
    }
  }

  // Launches and results of one line.
  void line(const CursorLine& line, std::string_view source) {
    if (line.role != "assistant" && line.role != "user") return;
    auto items = line.content ? json::as_array(*line.content) : std::nullopt;
    if (!items) return;
    for (json::Element item : *items) {
      auto type = json::string_member(item, "type");
      if (line.role == "assistant" && is_call_type(type)) {
        call(item, json::string_member(item, "name").value_or(""), source);
      } else if (line.role == "user" && is_result_type(type)) {
        result(item);
      }
    }
  }

 private:
  std::vector<SubAgent>& agents_;
  IdIndex index_;
};

// Reads one Cursor transcript into the message, tool-call and todo lists,
// and its agent launches into `agents`.
class TranscriptReader {
 public:
  TranscriptReader(std::string_view path, std::vector<Message>& messages, std::vector<ToolCall>& tool_calls,
                   std::vector<TodoItem>& todos, std::vector<SubAgent>& agents)
      : path_(path), messages_(messages), tool_calls_(tool_calls), todos_(todos), launches_(agents) {}

  void line(std::uint64_t number, json::Element parsed) {
    auto fields = read_line(parsed);
    if (!fields) return;
    const CursorLine& line = *fields;
    if (line.role == "assistant") {
      const std::string source = text::source_of(path_, number);
      assistant(line, source);
    } else if (line.role == "user") {
      const std::string source = text::source_of(path_, number);
      user(line, source);
    }
  }

 private:
  void assistant(const CursorLine& line, const std::string& source) {
    if (auto items = line.content ? json::as_array(*line.content) : std::nullopt) {
      for (json::Element item : *items) {
        if (!is_call_type(json::string_member(item, "type"))) continue;
        tool_call(item, line, source);
      }
    }
    text_.clear();
    append_cursor_text(line.content, text_, scratch_);
    add_message("assistant", text_, source, line.timestamp);
  }

  void tool_call(json::Element item, const CursorLine& line, const std::string& source) {
    auto name_field = json::string_member(item, "name");
    std::string_view name = name_field ? *name_field : std::string_view("tool");
    auto input = json::first_present(item, {"input", "arguments"});
    if (input && json::is_null(*input)) input.reset();
    ToolCall call;
    if (auto id = json::string_member(item, "id")) {
      remember(calls_, *id, tool_calls_.size());
      call.tool_use_id = std::string(*id);
    }
    if (name == "TodoWrite") todo_write(input, source);
    call.position = tool_calls_.size();
    call.name = std::string(name);
    call.source = source;
    call.started_at = text::owned(line.timestamp);
    if (input) call.input = json::encode(*input);
    tool_calls_.push_back(std::move(call));
    launches_.call(item, name_field.value_or(""), source);
  }

  // TodoWrite replaces the whole todo list with the items of its input.
  void todo_write(std::optional<json::Element> input, const std::string& source) {
    todos_.clear();
    auto list = input ? json::member(*input, "todos") : std::nullopt;
    auto items = list ? json::as_array(*list) : std::nullopt;
    if (!items) return;
    std::uint64_t number = 0;
    for (json::Element item : *items) {
      ++number;
      auto content = json::first_present(item, {"content", "text"});
      auto content_text = content ? json::as_string(*content) : std::nullopt;
      if (!content_text) continue;
      std::string_view trimmed = text::trim(*content_text);
      if (trimmed.empty()) continue;
      auto status = json::first_present(item, {"status", "state"});
      auto id = json::first_present(item, {"id", "taskId", "task_id"});
      TodoItem todo;
      todo.position = todos_.size();
      todo.id = text::owned(id ? json::as_string(*id) : std::nullopt);
      todo.content = text::compact(trimmed, text::kTodoChars);
      todo.state = std::string(cursor_todo_state(status ? json::as_string(*status) : std::nullopt));
      todo.source = text::concat({source, ":TodoWrite:", std::to_string(number)});
      todos_.push_back(std::move(todo));
    }
  }

  void user(const CursorLine& line, const std::string& source) {
    auto items = line.content ? json::as_array(*line.content) : std::nullopt;
    bool only_results = false;
    std::size_t pieces = 0;
    std::optional<std::string> single_piece;  // the result text of a lone piece
    text_.clear();
    if (items) {
      only_results = true;
      std::size_t count = 0;
      for (json::Element item : *items) {
        ++count;
        if (!is_result_type(json::string_member(item, "type"))) only_results = false;
      }
      only_results = only_results && count > 0;
      for (json::Element item : *items) {
        if (!is_result_type(json::string_member(item, "type"))) continue;
        auto view = tool_result_view(item, scratch_);
        std::optional<std::string> result_text;
        if (view) result_text = text::compact(*view, text::kMessageChars);
        if (only_results && view) {
          if (pieces > 0) text_.push_back('\n');
          text_.append(*view);
          if (++pieces == 1) single_piece = result_text;
        }
        tool_result(item, std::move(result_text), line, source);
        launches_.result(item);
      }
    }
    if (only_results) {
      if (text::is_blank(text_)) return;
      Message m;
      m.position = messages_.size();
      m.role = "tool";
      m.text = pieces == 1 ? std::move(*single_piece) : text::compact(text_, text::kMessageChars);
      m.timestamp = text::owned(line.timestamp);
      m.source = source;
      messages_.push_back(std::move(m));
      return;
    }
    append_cursor_text(line.content, text_, scratch_);
    // The message is the compacted request: compacting the collapsed text
    // gives the same words, so it is done in one bounded pass.
    std::string prompt = text::compact(user_prompt_text(text_, scratch_), text::kMessageChars);
    if (prompt.empty()) return;
    // A new request starts a new todo list.
    todos_.clear();
    Message m;
    m.position = messages_.size();
    m.role = "user";
    m.text = std::move(prompt);
    m.timestamp = text::owned(line.timestamp);
    m.source = source;
    messages_.push_back(std::move(m));
  }

  void tool_result(json::Element item, std::optional<std::string> result_text, const CursorLine& line,
                   const std::string& source) {
    const bool is_error = json::bool_member(item, "is_error").value_or(false);
    auto id = json::string_member(item, "tool_use_id");
    if (id) {
      if (auto i = lookup(calls_, *id, tool_calls_.size())) {
        ToolCall& call = tool_calls_[*i];
        call.result_text = std::move(result_text);
        call.is_error = is_error;
        call.ended_at = text::owned(line.timestamp);
        return;
      }
    }
    ToolCall call;
    call.position = tool_calls_.size();
    call.tool_use_id = text::owned(id);
    call.name = "tool_result";
    call.result_text = std::move(result_text);
    call.is_error = is_error;
    call.ended_at = text::owned(line.timestamp);
    call.source = source;
    tool_calls_.push_back(std::move(call));
  }

  void add_message(std::string_view role, std::string_view text, const std::string& source,
                   std::optional<std::string_view> timestamp) {
    if (text::is_blank(text)) return;
    Message m;
    m.position = messages_.size();
    m.role = std::string(role);
    m.text = text::compact(text, text::kMessageChars);
    m.timestamp = text::owned(timestamp);
    m.source = source;
    messages_.push_back(std::move(m));
  }

  std::string_view path_;
  std::vector<Message>& messages_;
  std::vector<ToolCall>& tool_calls_;
  std::vector<TodoItem>& todos_;
  LaunchTracker launches_;
  IdIndex calls_;
  std::string text_;
  std::string scratch_;
};

}  // namespace

std::string extract_cursor_text(std::optional<json::Element> content) {
  std::string out, scratch;
  append_cursor_text(content, out, scratch);
  return out;
}

std::optional<std::string> cursor_tool_result_text(json::Element element) {
  std::string scratch;
  auto view = tool_result_view(element, scratch);
  if (!view) return std::nullopt;
  return std::string(*view);
}

std::string collapse(std::string_view text) { return text::collapse_spaces(text); }

std::string cursor_user_prompt(std::string_view text) {
  std::string scratch;
  return collapse(user_prompt_text(text, scratch));
}

std::string_view cursor_todo_state(std::optional<std::string_view> status) {
  if (!status) return "pending";
  // Cursor's words are matched exactly as written; a cancelled item is shown
  // closed, and a word outside the vocabulary as still to do.
  const std::string_view state = todo_state_of_word(*status).value_or("pending");
  return state == "cancelled" ? "done" : state;
}

void CursorParser::enrich(const RunArtifacts& run, ParseContext& context, LogReader& logs,
                          std::vector<Message>& messages, std::vector<ToolCall>& tool_calls,
                          std::vector<TodoItem>& todos) const {
  std::vector<SubAgent>& launched = own(context).launched;
  json::DocParser parser;
  for (const TextArtifact* t : provider_transcripts(run, "cursor")) {
    TranscriptReader reader(t->path, messages, tool_calls, todos, launched);
    for_each_log_line(run, *t, logs, parser, [&](std::uint64_t number, std::string_view, const json::Element* parsed) {
      if (parsed) reader.line(number, *parsed);
    });
  }
}

std::vector<SubAgent> CursorParser::sub_agents(const RunArtifacts& run, const ParseContext& context) const {
  std::vector<SubAgent> agents = default_sub_agents(family(), run);
  const std::vector<SubAgent>& launched = own(context).launched;
  agents.insert(agents.end(), launched.begin(), launched.end());
  return agents;
}

std::vector<Provenance> CursorParser::provenance() const {
  std::vector<Provenance> out = default_provenance();
  out.push_back({"state.messages", "snapshots/**/home/.cursor/projects/**/*.jsonl"});
  out.push_back({"state.toolCalls", "snapshots/**/home/.cursor/projects/**/*.jsonl"});
  out.push_back({"state.todos", "Cursor TodoWrite tool_use blocks"});
  out.push_back({"state.subAgents", "Cursor agent/task/subagent tool_use blocks"});
  return out;
}

}  // namespace tl
