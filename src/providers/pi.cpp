#include "pi.hpp"

#include "../classify/jsonl.hpp"
#include "../text.hpp"

namespace tl {

namespace {

// The todo extension's list ({id, text, done} per item) as it stands after
// one change; numbered from 1 like any structured list.
std::optional<std::vector<TodoItem>> todo_list(json::Element details, std::string_view source) {
  auto member = json::member(details, "todos");
  auto list = member ? json::as_array(*member) : std::nullopt;
  if (!list) return std::nullopt;
  std::vector<TodoItem> todos;
  std::size_t number = 0;
  for (json::Element item : *list) {
    ++number;
    auto text = json::string_member(item, "text");
    auto done = json::bool_member(item, "done");
    if (!text || !done) continue;
    TodoItem todo;
    todo.content = text::compact(*text, text::kTodoChars);
    if (todo.content.empty()) continue;
    todo.state = *done ? "done" : "pending";
    int64_t id = 0;
    if (auto id_member = json::member(item, "id"); id_member && id_member->get_int64().get(id) == simdjson::SUCCESS)
      todo.id = std::to_string(id);
    todo.source = text::concat({source, ":TodoWrite:", std::to_string(number)});
    todos.push_back(std::move(todo));
  }
  return todos;
}

// A subagent result's state: -1 is pi's mark of a run still going; an
// aborted stop is a cancellation; any other non-zero exit or an error stop
// is a failure.
ActivityState run_state(json::Element result) {
  auto stop = json::string_member(result, "stopReason");
  if (json::string_is(stop, "aborted")) return ActivityState::Cancelled;
  int64_t code = 0;
  auto exit = json::member(result, "exitCode");
  if (!exit || exit->get_int64().get(code) != simdjson::SUCCESS) return ActivityState::Unknown;
  if (code == -1) return ActivityState::Running;
  if (code != 0 || json::string_is(stop, "error")) return ActivityState::Failed;
  return ActivityState::Finished;
}

// The runs one subagent tool result reports. A single run takes the call's
// id; runs of a parallel or chained call add their 1-based index.
void add_sub_agents(json::Element message, json::Element details, std::string_view source,
                    std::vector<SubAgent>& agents) {
  auto call_id = json::string_member(message, "toolCallId");
  auto member = json::member(details, "results");
  auto results = member ? json::as_array(*member) : std::nullopt;
  if (!call_id || !results) return;
  const std::size_t count = results->size();
  std::size_t number = 0;
  for (json::Element result : *results) {
    ++number;
    if (!json::is_object(result)) continue;
    SubAgent agent;
    agent.id = count == 1 ? std::string(*call_id) : text::concat({*call_id, ":", std::to_string(number)});
    auto name = json::string_member(result, "agent");
    agent.title = name && !text::trim(*name).empty() ? std::string(text::trim(*name)) : "Sub-agent";
    if (auto task = json::string_member(result, "task"))
      agent.prompt = std::string(text::take_chars(*task, text::kPromptChars));
    agent.state = run_state(result);
    agent.source = std::string(source);
    bool listed = false;
    for (SubAgent& a : agents) {
      if (a.id != agent.id) continue;
      a = agent;  // a later report of the same run replaces the earlier one
      listed = true;
    }
    if (!listed) agents.push_back(std::move(agent));
  }
}

}  // namespace

void read_pi_session(const RunArtifacts& run, const TextArtifact& artifact, LogReader& logs,
                     std::vector<Message>& messages, std::vector<ToolCall>& tool_calls, std::vector<TodoItem>& todos,
                     PiSessions& sessions, PiUsageReader* usage) {
  JsonlMessageReader reader(artifact.path, messages, tool_calls, todos);
  json::DocParser parser;
  for_each_log_line(run, artifact, logs, parser,
                    [&](std::uint64_t number, std::string_view raw, const json::Element* line) {
                      reader.line(number, raw, line);
                      if (line != nullptr && usage != nullptr) usage->line(artifact.path, number, *line);
                      if (line == nullptr || !json::string_is(json::string_member(*line, "type"), "message")) return;
                      auto message = json::member(*line, "message");
                      if (!message || !json::string_is(json::string_member(*message, "role"), "toolResult")) return;
                      auto tool = json::string_member(*message, "toolName");
                      auto details = json::member(*message, "details");
                      if (!tool || !details || !json::is_object(*details)) return;
                      const std::string source = text::source_of(artifact.path, number);
                      if (*tool == "todo") {
                        if (auto list = todo_list(*details, source)) sessions.todos = std::move(list);
                      } else if (*tool == "subagent") {
                        add_sub_agents(*message, *details, source, sessions.sub_agents);
                      }
                    });
  reader.finish();
}

void PiParser::enrich(const RunArtifacts& run, ParseContext& context, LogReader& logs, std::vector<Message>& messages,
                      std::vector<ToolCall>& tool_calls, std::vector<TodoItem>& todos) const {
  PiParseContext& own_context = own(context);
  PiSessions& sessions = own_context.sessions;
  PiUsageReader* usage = context.usage ? &own_context.usage_reader : nullptr;
  for (const TextArtifact* t : provider_transcripts(run, "pi")) {
    read_pi_session(run, *t, logs, messages, tool_calls, todos, sessions, usage);
  }
  if (sessions.todos) {
    for (TodoItem todo : *sessions.todos) {
      todo.position = todos.size();
      todos.push_back(std::move(todo));
    }
  }
}

UsageReading PiParser::usage(const RunArtifacts&, ParseContext& context, const std::vector<Message>&,
                             const std::vector<SubAgent>& sub_agents) const {
  return own(context).usage_reader.finish(sub_agents);
}

std::vector<SubAgent> PiParser::sub_agents(const RunArtifacts& run, const ParseContext& context) const {
  std::vector<SubAgent> agents = Parser::sub_agents(run, context);
  for (const SubAgent& agent : own(context).sessions.sub_agents) {
    if (!lists_sub_agent(agents, agent.id)) agents.push_back(agent);
  }
  return agents;
}

}  // namespace tl
