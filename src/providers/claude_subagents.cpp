#include "claude_subagents.hpp"

#include "../classify/jsonl.hpp"
#include "../classify/transcript_text.hpp"
#include "../text.hpp"

namespace tl {

std::string claude_event_text(std::optional<json::Element> value) {
  if (!value) return {};
  json::Element v = *value;
  while (v.is_object()) {
    auto inner = json::first_present(v, {"text", "content"});
    if (!inner) return {};
    v = *inner;
  }
  if (auto s = json::as_string(v)) return std::string(*s);
  auto items = json::as_array(v);
  if (!items) return {};
  std::string out;
  text::LineJoiner joiner(out);
  for (json::Element item : *items) {
    std::string piece = claude_event_text(item);
    if (!piece.empty()) joiner.add(piece);
  }
  return out;
}

namespace {

bool in_range(const ClaudeSubAgentTracker& t, std::size_t index) { return index < t.agents.size(); }

// The source text of the line being read, formed once and only when an event
// records it.
class LineSource {
 public:
  LineSource(std::string_view path, std::uint64_t number) : path_(path), number_(number) {}
  const std::string& get() {
    if (!text_) text_ = text::source_of(path_, number_);
    return *text_;
  }

 private:
  std::string_view path_;
  std::uint64_t number_;
  std::optional<std::string> text_;
};

template <typename Map>
std::optional<typename Map::mapped_type> find_in(const Map& map, std::string_view key) {
  auto it = map.find(key);
  if (it == map.end()) return std::nullopt;
  return it->second;
}

// The state a task notification's status names.
ActivityState notification_state(std::string_view status) {
  if (status == "completed" || status == "done") return ActivityState::Finished;
  if (status == "failed" || status == "error") return ActivityState::Failed;
  return ActivityState::Running;
}

// The first word after "agentId:" on a line of a launch result.
std::optional<std::string_view> launched_agent_id(std::string_view text) {
  text::LineReader lines(text);
  std::string_view line;
  while (lines.next(line)) {
    std::string_view t = text::trim(line);
    if (!t.starts_with("agentId:")) continue;
    std::string_view rest = text::trim_start(t.substr(8));
    std::size_t end = 0;
    while (end < rest.size()) {
      std::size_t next = end;
      if (text::is_space(text::decode(rest, next))) break;
      end = next;
    }
    if (end > 0) return rest.substr(0, end);
  }
  return std::nullopt;
}

bool is_launch_tool(std::string_view name) {
  return text::iequals_ascii(name, "task") || text::iequals_ascii(name, "agent") ||
         text::iequals_ascii(name, "subagent");
}

// The title of a launch: the first present of description, title and task,
// when it is a string with visible text.
std::string launch_title(std::optional<json::Element> input) {
  if (input && input->is_object()) {
    if (auto field = json::first_present(*input, {"description", "title", "task"})) {
      if (auto s = json::as_string(*field)) {
        std::string_view t = text::trim(*s);
        if (!t.empty()) return std::string(t);
      }
    }
  }
  return "sub-agent";
}

void task_notification(ClaudeSubAgentTracker& t, std::string_view content, LineSource& source) {
  std::optional<std::string_view> tool_use_id = xml_tag(content, "tool-use-id");
  std::optional<std::string_view> task_id = xml_tag(content, "task-id");
  std::optional<std::size_t> index;
  if (tool_use_id) index = find_in(t.by_tool_use_id, *tool_use_id);
  if (index) {
    if (task_id) t.by_task_id[std::string(*task_id)] = *index;
  } else if (task_id) {
    index = find_in(t.by_task_id, *task_id);
  }
  if (!index || !in_range(t, *index)) return;
  ActivityState state = notification_state(xml_tag(content, "status").value_or(""));
  SubAgent& agent = t.agents[*index];
  if (task_id) agent.id = std::string(*task_id);
  agent.state = state;
  agent.source = source.get();
}

void launch(ClaudeSubAgentTracker& t, json::Element block, LineSource& source) {
  auto id = json::string_member(block, "id");
  if (!id) return;
  std::optional<json::Element> input = json::first_present(block, {"input", "arguments"});
  std::string title = launch_title(input);
  std::string prompt;
  if (input) {
    if (auto p = json::string_member(*input, "prompt")) prompt = std::string(text::take_chars(*p, text::kPromptChars));
  }
  auto [it, inserted] = t.by_tool_use_id.try_emplace(std::string(*id), t.agents.size());
  if (!inserted) {
    if (!in_range(t, it->second)) return;
    SubAgent& agent = t.agents[it->second];
    agent.title = std::move(title);
    agent.prompt = std::move(prompt);
    agent.state = ActivityState::Running;
    agent.source = source.get();
    return;
  }
  SubAgent agent;
  agent.id = std::string(*id);
  agent.title = std::move(title);
  agent.prompt = std::move(prompt);
  agent.state = ActivityState::Running;
  agent.source = source.get();
  t.agents.push_back(std::move(agent));
}

void send_message(ClaudeSubAgentTracker& t, json::Element block, LineSource& source) {
  auto id = json::string_member(block, "id");
  if (!id) return;
  std::optional<json::Element> input = json::first_present(block, {"input", "arguments"});
  if (!input) return;
  auto fields = json::as_object(*input);
  if (!fields || fields->size() == 0) return;
  auto to = json::first_present(*input, {"to", "recipient"});
  auto recipient = to ? json::as_string(*to) : std::nullopt;
  if (!recipient) return;
  auto index = find_in(t.by_task_id, *recipient);
  if (!index || !in_range(t, *index)) return;
  SubAgent& agent = t.agents[*index];
  t.pending_messages[std::string(*id)] = {*index, agent.state};
  agent.state = ActivityState::Running;
  agent.source = source.get();
}

void tool_result(ClaudeSubAgentTracker& t, json::Element block, LineSource& source) {
  auto id = json::string_member(block, "tool_use_id");
  if (!id) return;
  const bool is_error = json::is_true(block, "is_error");
  const std::string_view key = *id;
  if (auto pending = t.pending_messages.find(key); pending != t.pending_messages.end()) {
    auto [index, before] = pending->second;
    t.pending_messages.erase(pending);
    // A message that failed to reach the agent leaves it as it was.
    if (is_error && in_range(t, index)) {
      t.agents[index].state = before;
      t.agents[index].source = source.get();
    }
    return;
  }
  auto launched = t.by_tool_use_id.find(key);
  if (launched == t.by_tool_use_id.end()) return;
  const std::size_t index = launched->second;
  const std::string text = claude_event_text(json::member(block, "content"));
  const bool background = text.find("Async agent launched successfully") != std::string::npos ||
                          text.find("working in the background") != std::string::npos;
  if (auto agent_id = launched_agent_id(text)) {
    t.by_task_id[std::string(*agent_id)] = index;
    if (in_range(t, index)) t.agents[index].id = std::string(*agent_id);
  }
  if (!in_range(t, index)) return;
  SubAgent& agent = t.agents[index];
  agent.source = source.get();
  if (is_error) {
    agent.state = ActivityState::Failed;
  } else {
    agent.state = background ? ActivityState::Running : ActivityState::Finished;
  }
}

std::optional<std::string_view> queued_notification(const ClaudeLine& head) {
  const json::Element line = head.element;
  const std::optional<std::string_view> type = head.type ? json::as_string(*head.type) : std::nullopt;
  if (!type) return std::nullopt;
  if (*type == "queue-operation") {
    auto operation = json::string_member(line, "operation");
    if (!operation || *operation != "enqueue") return std::nullopt;
    return json::string_member(line, "content");
  }
  if (*type == "attachment") {
    auto attachment = json::member(line, "attachment");
    if (!attachment) return std::nullopt;
    auto kind = json::string_member(*attachment, "type");
    auto mode = json::string_member(*attachment, "commandMode");
    if (!kind || *kind != "queued_command" || !mode || *mode != "task-notification") return std::nullopt;
    return json::string_member(*attachment, "prompt");
  }
  return std::nullopt;
}

void notification_text(ClaudeSubAgentTracker& tracker, std::string_view content, std::string_view path,
                       std::uint64_t number) {
  if (!text::trim_start(content).starts_with("<task-notification>")) return;
  // The queue and the transcript may both record one notification.
  if (!tracker.seen_notifications.insert(std::string(content)).second) return;
  LineSource source(path, number);
  task_notification(tracker, content, source);
}

}  // namespace

ClaudeLine read_claude_line(json::Element line) {
  ClaudeLine head{line, {}, {}, {}, {}, {}};
  json::read_fields(line, {{"type", &head.type},
                           {"message", &head.message},
                           {"cwd", &head.cwd},
                           {"gitBranch", &head.git_branch},
                           {"sessionId", &head.session_id}});
  return head;
}

void track_claude_sub_agent_line(ClaudeSubAgentTracker& tracker, const ClaudeLine& line, std::string_view path,
                                 std::uint64_t number) {
  if (is_api_request_type(line.type)) return;
  std::optional<json::Element> content;
  if (line.message) content = json::member(*line.message, "content");
  std::optional<std::string_view> notification = content ? json::as_string(*content) : std::nullopt;
  // Claude Code 2.1.3xx queues a background agent's notification instead of
  // writing it as a user message.
  if (!content) notification = queued_notification(line);
  if (notification) {
    notification_text(tracker, *notification, path, number);
    return;
  }
  if (!content) return;
  auto blocks = json::as_array(*content);
  if (!blocks) return;
  LineSource source(path, number);
  for (json::Element block : *blocks) {
    auto type = json::string_member(block, "type");
    if (!type) continue;
    if (*type == "tool_use") {
      auto name = json::string_member(block, "name");
      if (!name || name->empty()) continue;
      if (is_launch_tool(*name)) {
        launch(tracker, block, source);
      } else if (*name == "SendMessage") {
        send_message(tracker, block, source);
      }
    } else if (*type == "tool_result") {
      tool_result(tracker, block, source);
    }
  }
}

std::vector<SubAgent> claude_sub_agents(const RunArtifacts& run) {
  ClaudeSubAgentTracker tracker;
  json::DocParser parser;
  LogReader scratch;
  for (const TextArtifact* log : provider_transcripts(run, "claude")) {
    const TextArtifact* t = &log_text(run, *log, scratch);
    json::for_each_line(t->text, parser, [&](std::uint64_t number, std::string_view, const json::Element* parsed) {
      if (parsed) track_claude_sub_agent_line(tracker, read_claude_line(*parsed), t->path, number);
    });
  }
  return std::move(tracker.agents);
}

}  // namespace tl
