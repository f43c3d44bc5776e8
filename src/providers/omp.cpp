#include "omp.hpp"

#include <unordered_set>

#include "../classify/detail.hpp"
#include "../classify/jsonl.hpp"
#include "../text.hpp"

namespace tl {

namespace {

// The todo list a todo tool result carries: every task of every phase, in
// order, numbered from 1 across the phases.
std::optional<std::vector<TodoItem>> todo_list(json::Element message, std::string_view source) {
  auto phases = json::pointer(message, "/details/phases");
  if (!phases) return std::nullopt;
  auto list = json::as_array(*phases);
  if (!list) return std::nullopt;
  std::vector<TodoItem> todos;
  std::size_t number = 0;
  for (json::Element phase : *list) {
    auto tasks_member = json::member(phase, "tasks");
    auto tasks = tasks_member ? json::as_array(*tasks_member) : std::nullopt;
    if (!tasks) continue;
    for (json::Element task : *tasks) {
      ++number;
      detail::parse_todo_object(text::concat({source, ":TodoWrite:", std::to_string(number)}), task, todos);
    }
  }
  return todos;
}

}  // namespace

OmpSession read_omp_session(const RunArtifacts& run, const TextArtifact& artifact, LogReader& logs,
                            std::vector<Message>& messages, std::vector<ToolCall>& tool_calls,
                            std::vector<TodoItem>& todos, PiUsageReader* usage) {
  OmpSession session;
  session.path = artifact.path;
  const std::size_t first_message = messages.size();
  std::unordered_set<std::string> yield_calls;
  std::unordered_set<std::string> results;
  JsonlMessageReader reader(artifact.path, messages, tool_calls, todos);
  json::DocParser parser;
  for_each_log_line(run, artifact, logs, parser,
                    [&](std::uint64_t number, std::string_view raw, const json::Element* line) {
                      reader.line(number, raw, line);
                      if (line == nullptr) return;
                      if (usage != nullptr) usage->line(artifact.path, number, *line);
                      auto type = json::string_member(*line, "type");
                      if (!type) return;
                      if (*type == "session") {
                        if (session.session_line == 0) {
                          session.session_line = number;
                          if (auto id = json::string_member(*line, "id")) session.id = std::string(*id);
                          session.sub_agent = json::string_member(*line, "parentSession").has_value();
                        }
                      } else if (*type == "title" || *type == "title_change") {
                        if (auto title = json::string_member(*line, "title")) {
                          std::string_view t = text::trim(*title);
                          if (!t.empty()) session.title = std::string(t);
                        }
                      } else if (*type == "custom") {
                        if (json::string_is(json::string_member(*line, "customType"), "session_exit"))
                          session.exited = true;
                      } else if (*type == "message") {
                        auto message = json::member(*line, "message");
                        if (!message) return;
                        auto role = json::string_member(*message, "role");
                        if (!role) return;
                        bool calls = false;
                        auto content = json::member(*message, "content");
                        if (auto blocks = content ? json::as_array(*content) : std::nullopt) {
                          for (json::Element block : *blocks) {
                            if (!json::string_is(json::string_member(block, "type"), "toolCall")) continue;
                            calls = true;
                            auto id = json::string_member(block, "id");
                            if (id && json::string_is(json::string_member(block, "name"), "yield"))
                              yield_calls.insert(std::string(*id));
                          }
                        }
                        session.ends_with_answer = *role == "assistant" && !calls;
                        if (*role != "toolResult") return;
                        if (auto id = json::string_member(*message, "toolCallId")) results.insert(std::string(*id));
                        if (json::string_is(json::string_member(*message, "toolName"), "todo")) {
                          if (auto list = todo_list(*message, text::source_of(artifact.path, number)))
                            session.todos = std::move(list);
                        }
                      }
                    });
  reader.finish();
  for (const std::string& id : yield_calls) session.yielded = session.yielded || results.contains(id);
  for (std::size_t i = first_message; i < messages.size(); ++i) {
    if (messages[i].role == "user") {
      session.first_user_message = messages[i].text;
      break;
    }
  }
  return session;
}

std::optional<std::vector<TodoItem>> omp_todos(const std::vector<OmpSession>& sessions) {
  const std::optional<std::vector<TodoItem>>* main_list = nullptr;
  const std::optional<std::vector<TodoItem>>* agent_list = nullptr;
  for (const OmpSession& s : sessions) {
    if (!s.todos) continue;
    (s.sub_agent ? agent_list : main_list) = &s.todos;
  }
  if (main_list != nullptr) return *main_list;
  if (agent_list != nullptr) return *agent_list;
  return std::nullopt;
}

std::optional<std::string> omp_title(const std::vector<OmpSession>& sessions) {
  std::optional<std::string> title;
  for (const OmpSession& s : sessions) {
    if (!s.sub_agent && s.title) title = s.title;
  }
  return title;
}

std::vector<SubAgent> omp_sub_agents(std::vector<SubAgent> defaults, const std::vector<OmpSession>& sessions) {
  for (const OmpSession& s : sessions) {
    if (!s.sub_agent) continue;
    std::string_view name = s.path;
    if (std::size_t slash = name.rfind('/'); slash != std::string_view::npos) name.remove_prefix(slash + 1);
    if (name.ends_with(".jsonl")) name.remove_suffix(6);
    SubAgent agent;
    agent.id = s.id.value_or(std::string(name));
    if (lists_sub_agent(defaults, agent.id)) continue;
    agent.title = std::string(name);
    if (s.first_user_message) agent.prompt = std::string(text::take_chars(*s.first_user_message, text::kPromptChars));
    agent.state = s.yielded || s.exited || s.ends_with_answer ? ActivityState::Finished : ActivityState::Running;
    agent.source = text::source_of(s.path, s.session_line);
    defaults.push_back(std::move(agent));
  }
  return defaults;
}

void OmpParser::enrich(const RunArtifacts& run, ParseContext& context, LogReader& logs, std::vector<Message>& messages,
                       std::vector<ToolCall>& tool_calls, std::vector<TodoItem>& todos) const {
  OmpParseContext& own_context = own(context);
  std::vector<OmpSession>& sessions = own_context.sessions;
  PiUsageReader* usage = context.usage ? &own_context.usage_reader : nullptr;
  for (const TextArtifact* t : provider_transcripts(run, "omp")) {
    sessions.push_back(read_omp_session(run, *t, logs, messages, tool_calls, todos, usage));
  }
  if (auto list = omp_todos(sessions)) {
    for (TodoItem& todo : *list) {
      todo.position = todos.size();
      todos.push_back(std::move(todo));
    }
  }
}

std::vector<SubAgent> OmpParser::sub_agents(const RunArtifacts& run, const ParseContext& context) const {
  return omp_sub_agents(Parser::sub_agents(run, context), own(context).sessions);
}

UsageReading OmpParser::usage(const RunArtifacts&, ParseContext& context, const std::vector<Message>&,
                              const std::vector<SubAgent>& sub_agents) const {
  return own(context).usage_reader.finish(sub_agents);
}

std::optional<std::string> OmpParser::title(const RunArtifacts&, const ParseContext& context) const {
  return omp_title(own(context).sessions);
}

}  // namespace tl
