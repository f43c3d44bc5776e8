// Todo extraction: checklists, structured todo values, task tools and
// de-duplication.
#include <algorithm>

#include "../text.hpp"
#include "detail.hpp"
#include "todos.hpp"

namespace tl {

using detail::parse_todo_object;

std::optional<std::string_view> todo_state_of_word(std::string_view word) {
  struct StateWord {
    std::string_view word;
    std::string_view state;
  };
  static constexpr StateWord kWords[] = {
      {"done", "done"},       {"success", "done"},        {"complete", "done"},       {"completed", "done"},
      {"succeeded", "done"},  {"todo", "pending"},        {"open", "pending"},        {"pending", "pending"},
      {"planned", "pending"}, {"not_started", "pending"}, {"active", "current"},      {"current", "current"},
      {"running", "current"}, {"inprogress", "current"},  {"in_progress", "current"}, {"cancelled", "cancelled"},
  };
  for (const StateWord& w : kWords) {
    if (word == w.word) return w.state;
  }
  return std::nullopt;
}

std::optional<std::string_view> normalize_todo_state(std::string_view state) {
  std::string s = text::to_lower(text::trim(state));
  std::replace(s.begin(), s.end(), '-', '_');
  // A cancelled item is no longer part of the plan: it is left out.
  std::optional<std::string_view> word = todo_state_of_word(s);
  if (word == "cancelled") return std::nullopt;
  return word;
}

namespace {

// Drops leading ASCII digits, "." , ")" and whitespace.
std::string_view strip_numbering(std::string_view t) {
  while (!t.empty()) {
    char c = t[0];
    if ((c >= '0' && c <= '9') || c == '.' || c == ')') {
      t.remove_prefix(1);
      continue;
    }
    std::string_view rest = text::trim_start(t);
    if (rest.size() == t.size()) break;
    t = rest;
  }
  return t;
}

std::optional<std::string_view> checklist_state(std::string_view t, std::string_view u) {
  if (text::starts_with_any(t, {"[x]", "- [x]", "x ", "done:"}) ||
      text::starts_with_any(u, {"completed", "complete:"})) {
    return "done";
  }
  if (text::starts_with_any(t, {"[ ]", "- [ ]", "todo:", "pending:"}) || u.starts_with("pending")) return "pending";
  if (text::starts_with_any(t, {"[~]", "- [~]", "current:"}) ||
      text::starts_with_any(u, {"in_progress", "in progress"})) {
    return "current";
  }
  return std::nullopt;
}

std::string_view checklist_content(std::string_view u) {
  for (std::string_view p : {"- ", "[x]", "[ ]", "[~]", "x ", "todo:", "pending:", "done:", "complete:", "current:"}) {
    while (u.starts_with(p)) u.remove_prefix(p.size());
  }
  return text::trim(u);
}

// A checklist line can only start with one of these bytes once whitespace and
// numbering are gone; everything else is rejected without further work.
bool may_be_checklist(std::string_view t) {
  if (t.empty()) return false;
  switch (t[0]) {
    case '[':
    case '-':
    case 'x':
    case 'd':
    case 't':
    case 'p':
    case 'c':
    case 'i':
    case '0':
    case '1':
    case '2':
    case '3':
    case '4':
    case '5':
    case '6':
    case '7':
    case '8':
    case '9':
    case '.':
    case ')':
      return true;
    default:
      return false;
  }
}

}  // namespace

bool todo_from_line(std::string_view path, std::uint64_t number, std::string_view line, std::vector<TodoItem>& todos) {
  std::string_view t = text::trim(line);
  if (!may_be_checklist(t)) return false;
  std::string_view u = strip_numbering(t);
  auto state = checklist_state(t, u);
  if (!state) return false;
  std::string_view content = checklist_content(u);
  if (content.empty()) return false;
  TodoItem item;
  item.position = todos.size();
  item.content = text::compact(content, text::kTodoChars);
  item.state = std::string(*state);
  item.source = text::source_of(path, number);
  todos.push_back(std::move(item));
  return true;
}

void parse_todos(std::string_view path, std::string_view text, std::vector<TodoItem>& todos) {
  text::LineReader lines(text);
  std::string_view line;
  while (lines.next(line)) {
    if (todo_from_line(path, lines.number(), line, todos) && todos.size() >= kTodoScanLimit) break;
  }
}

void parse_todo_value(std::string_view source, json::Element value, std::vector<TodoItem>& todos) {
  auto each = [&](json::Element list) {
    auto items = json::as_array(list);
    if (!items) return;
    std::size_t n = 0;
    for (json::Element item : *items) {
      ++n;
      parse_todo_object(std::string(source) + ":" + std::to_string(n), item, todos);
    }
  };
  if (value.is_array()) {
    each(value);
    return;
  }
  if (!value.is_object()) return;
  auto list = json::first_present(value, {"todos", "tasks", "items"});
  if (list && list->is_array()) {
    each(*list);
    return;
  }
  parse_todo_object(source, value, todos);
}

void detail::parse_todo_object(std::string_view source, json::Element value, std::vector<TodoItem>& todos) {
  auto status = json::first_present(value, {"status", "state", "todoStatus"});
  if (!status) return;
  auto status_text = json::as_string(*status);
  if (!status_text) return;
  auto state = normalize_todo_state(*status_text);
  if (!state) return;
  std::string_view content;
  auto primary = json::first_present(value, {"subject", "content", "text", "title", "task"});
  if (auto s = primary ? json::as_string(*primary) : std::nullopt) {
    content = *s;
  } else if (auto d = json::string_member(value, "description")) {
    content = *d;
  }
  content = text::trim(content);
  if (content.empty()) return;
  TodoItem item;
  item.position = todos.size();
  if (auto id = json::first_present(value, {"id", "taskId", "task_id"})) {
    if (auto s = json::as_string(*id)) item.id = std::string(*s);
  }
  item.content = text::compact(content, text::kTodoChars);
  item.state = std::string(*state);
  item.source = std::string(source);
  todos.push_back(std::move(item));
}

void parse_structured_todos(const TextArtifact& artifact, std::vector<TodoItem>& todos) {
  json::DocParser parser;
  auto value = parser.parse(artifact.text, &artifact.text);
  if (!value) return;
  parse_todo_value(artifact.path, *value, todos);
}

void dedupe_todos(std::vector<TodoItem>& todos) {
  std::vector<TodoItem> out;
  out.reserve(todos.size());
  std::unordered_map<std::string, std::size_t> by_id;
  std::unordered_map<std::string, std::size_t> by_content;
  for (auto& todo : todos) {
    auto& index = todo.id ? by_id : by_content;
    std::string key = todo.id ? *todo.id : text::to_lower(todo.content);
    auto [it, inserted] = index.try_emplace(std::move(key), out.size());
    if (inserted) {
      out.push_back(std::move(todo));
    } else {
      out[it->second] = std::move(todo);
    }
  }
  for (std::size_t i = 0; i < out.size(); ++i) out[i].position = i;
  todos = std::move(out);
}

// ---- task tools ---------------------------------------------------------------

namespace {

// The first present of `keys`, trimmed when it is a string, else empty.
std::string_view first_string_trimmed(json::Element input, std::initializer_list<std::string_view> keys) {
  auto v = json::first_present(input, keys);
  if (!v) return {};
  auto s = json::as_string(*v);
  return s ? text::trim(*s) : std::string_view();
}

}  // namespace

void OrderedKeys::add(const std::string& key) {
  if (index_.try_emplace(key, order_.size()).second) order_.emplace_back(key);
}

void OrderedKeys::remove(const std::string& key) {
  auto it = index_.find(key);
  if (it == index_.end()) return;
  order_[it->second].reset();
  index_.erase(it);
}

void OrderedKeys::replace(const std::string& key, const std::string& replacement) {
  auto it = index_.find(key);
  if (it == index_.end()) return;
  if (contains(replacement)) {
    remove(key);
    return;
  }
  std::size_t slot = it->second;
  index_.erase(it);
  order_[slot] = replacement;
  index_.emplace(replacement, slot);
}

void OrderedKeys::clear() {
  order_.clear();
  index_.clear();
}

void TaskTodoCollector::note_current_turn(const std::string& key) { current_turn_.add(key); }

void TaskTodoCollector::apply_update(std::string_view name, json::Element input,
                                     const std::optional<std::string>& tool_use_id, std::string_view source) {
  if (name == "TaskCreate") {
    std::string_view subject = first_string_trimmed(input, {"subject", "description"});
    if (subject.empty()) return;
    seen_ = true;
    std::string key = tool_use_id ? "tool:" + *tool_use_id : "task:" + std::to_string(++counter_);
    TodoItem item;
    item.content = text::compact(subject, text::kTodoChars);
    item.state = "pending";
    item.source = std::string(source);
    item.id = key;
    todos_[key] = std::move(item);
    note_current_turn(key);
    if (tool_use_id) pending_[*tool_use_id] = key;
    return;
  }
  if (name != "TaskUpdate") return;
  std::string task_id(first_string_trimmed(input, {"taskId", "task_id", "id"}));
  if (task_id.empty()) return;
  seen_ = true;
  auto status = json::first_present(input, {"status", "state"});
  auto status_text = status ? json::as_string(*status) : std::nullopt;
  if (status_text && *status_text == "deleted") {
    todos_.erase(task_id);
    current_turn_.remove(task_id);
    return;
  }
  auto it = todos_.find(task_id);
  if (it == todos_.end()) return;
  if (status_text) {
    if (auto state = normalize_todo_state(*status_text)) it->second.state = std::string(*state);
  }
  std::string_view subject = first_string_trimmed(input, {"subject", "content", "description"});
  if (!subject.empty()) it->second.content = text::compact(subject, text::kTodoChars);
  note_current_turn(task_id);
}

void TaskTodoCollector::check_result(std::string_view tool_use_id, std::string_view text) {
  auto it = pending_.find(std::string(tool_use_id));
  if (it == pending_.end()) return;
  std::string key = std::move(it->second);
  pending_.erase(it);
  parse_created_task_result(key, text);
}

void TaskTodoCollector::parse_created_task_result(const std::string& key, std::string_view result) {
  text::LineReader lines(result);
  std::string_view line;
  while (lines.next(line)) {
    std::string_view t = text::trim_start(line);
    if (!t.starts_with("Task #")) continue;
    std::size_t i = 6;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i;
    if (i == 6) continue;
    if (i < t.size() && t[i] != '\t' && t[i] != ' ' && t[i] != '-' && t[i] != ':') continue;
    std::string number(t.substr(6, i - 6));
    std::optional<std::string_view> subject;
    std::size_t colon = t.find(':', i);
    if (colon != std::string_view::npos) {
      std::string_view s = text::trim(t.substr(colon + 1));
      if (!s.empty()) subject = s;
    }
    if (number != key) {
      auto found = todos_.find(key);
      if (found != todos_.end()) {
        TodoItem moved = std::move(found->second);
        todos_.erase(found);
        moved.id = number;
        todos_[number] = std::move(moved);
      }
      current_turn_.replace(key, number);
    }
    if (subject) {
      auto entry = todos_.find(number);
      if (entry != todos_.end()) entry->second.content = text::compact(*subject, text::kTodoChars);
    }
    return;
  }
}

void TaskTodoCollector::flush(std::vector<TodoItem>& todos) const {
  if (!seen_) return;
  current_turn_.for_each([&](const std::string& key) {
    auto it = todos_.find(key);
    if (it == todos_.end()) return;
    TodoItem item = it->second;
    item.position = todos.size();
    todos.push_back(std::move(item));
  });
}

}  // namespace tl
