#include "opencode.hpp"

#include <optional>

#include "../classify/jsonl.hpp"
#include "../harness.hpp"
#include "../text.hpp"

namespace tl {

namespace {

constexpr std::string_view kHeavyBar = "\xE2\x94\x83";    // U+2503, the panel edge of the interface
constexpr std::string_view kLightBar = "\xE2\x94\x82";    // U+2502
constexpr std::string_view kHalfBarEnd = "\xE2\x95\xB9";  // U+2579, the foot of an output panel
constexpr std::size_t kMaxIndent = 20;

// The text of one captured interface line without its panel edges, or
// nothing when the line is blank or indented beyond the conversation column.
std::optional<std::string_view> interface_line_text(std::string_view line) {
  std::string_view s = text::trim_start(line);
  while (s.starts_with(kHeavyBar)) s.remove_prefix(kHeavyBar.size());
  while (s.starts_with(kLightBar)) s.remove_prefix(kLightBar.size());
  std::size_t pos = 0;
  std::size_t indent = 0;
  while (pos < s.size() && indent <= kMaxIndent) {
    std::size_t next = pos;
    if (!text::is_space(text::decode(s, next))) break;
    pos = next;
    ++indent;
  }
  if (indent > kMaxIndent) return std::nullopt;
  s = text::trim(s);
  // A wide gap separates the text from a right-hand column (durations).
  if (std::size_t gap = s.find("    "); gap != std::string_view::npos) s = s.substr(0, gap);
  s = text::trim(s);
  if (s.empty()) return std::nullopt;
  return s;
}

}  // namespace

std::vector<const TextArtifact*> opencode_runtime_logs(const RunArtifacts& run) {
  // The runtime logs lie in OpenCode's homes, as its row of the harness
  // table names them.
  const HarnessDefinition* opencode = find_harness("opencode");
  std::vector<const TextArtifact*> out;
  if (opencode == nullptr) return out;
  for (const TextArtifact& t : run.texts) {
    const std::string lower = text::ascii_lower(t.path);
    if (!lower.ends_with(".log")) continue;
    bool in_home = false;
    for (std::string_view home : opencode->context_homes) in_home = in_home || lower.find(home) != std::string::npos;
    if (in_home) out.push_back(&t);
  }
  return out;
}

bool contains_opencode_agent_event(std::string_view line) {
  static constexpr std::string_view kEvents[] = {"start",   "started", "spawn",    "spawned",  "create",
                                                 "created", "finish",  "finished", "complete", "completed"};
  auto is_word_char = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); };
  bool agent = false;
  bool event = false;
  std::size_t i = 0;
  while (i < line.size() && !(agent && event)) {
    if (!is_word_char(line[i])) {
      ++i;
      continue;
    }
    std::size_t end = i + 1;
    while (end < line.size() && is_word_char(line[end])) ++end;
    const std::string_view word = line.substr(i, end - i);
    i = end;
    if (text::iequals_ascii(word, "agent") || text::iequals_ascii(word, "subagent")) {
      agent = true;
      continue;
    }
    for (std::string_view e : kEvents) event = event || text::iequals_ascii(word, e);
  }
  return agent && event;
}

void flush_opencode_output(std::vector<ToolCall>& tool_calls, bool in_output, std::size_t current,
                           std::vector<std::string_view>& pending) {
  if (!pending.empty() && in_output && current < tool_calls.size()) {
    tool_calls[current].result_text = text::compact(text::join_lines(pending), text::kMessageChars);
  }
  pending.clear();
}

void read_opencode_terminal(std::string_view terminal, std::vector<Message>& messages,
                            std::vector<ToolCall>& tool_calls) {
  bool in_output = false;
  std::size_t current = 0;
  std::vector<std::string_view> pending;
  text::LineReader lines(terminal);
  std::string_view raw;
  auto message = [&](std::string_view role, std::string_view body) {
    Message m;
    m.position = messages.size();
    m.role = std::string(role);
    m.text = text::compact(body, text::kMessageChars);
    m.source = text::source_of("terminal.log", lines.number());
    messages.push_back(std::move(m));
  };
  while (lines.next(raw)) {
    auto found = interface_line_text(raw);
    if (!found) continue;
    const std::string_view t = *found;
    if (t.starts_with("Context") || t.ends_with("spent")) continue;
    if (t.starts_with("Run ") && t.ends_with(".")) {
      message("user", t);
    } else if (t.starts_with("# ")) {
      message("assistant", t.substr(2));
    } else if (t.starts_with("$ ")) {
      flush_opencode_output(tool_calls, in_output, current, pending);
      ToolCall call;
      call.position = tool_calls.size();
      call.name = "bash";
      json::Value input = json::Value::object();
      input["command"] = std::string(t.substr(2));
      call.input = json::encode(input);
      call.source = text::source_of("terminal.log", lines.number());
      current = tool_calls.size();
      tool_calls.push_back(std::move(call));
      in_output = true;
    } else if (t.find("interrupted") != std::string_view::npos) {
      flush_opencode_output(tool_calls, in_output, current, pending);
      if (in_output && current < tool_calls.size()) tool_calls[current].is_error = true;
      in_output = false;
    } else if (in_output && !t.starts_with(kHalfBarEnd)) {
      pending.push_back(t);
    }
  }
  flush_opencode_output(tool_calls, in_output, current, pending);
}

void read_opencode_runtime_log(const TextArtifact& log, std::vector<ToolCall>& tool_calls) {
  text::LineReader lines(log.text);
  std::string_view line;
  while (lines.next(line)) {
    const bool cancel = line.find(" message=cancel ") != std::string_view::npos;
    if (!cancel && line.find(" error=Aborted") == std::string_view::npos) continue;
    ToolCall call;
    call.position = tool_calls.size();
    call.name = cancel ? "cancel" : "process_error";
    json::Value input = json::Value::object();
    input["log"] = text::compact(line, text::kEvidenceChars);
    call.input = json::encode(input);
    call.is_error = line.find("error=Aborted") != std::string_view::npos;
    call.source = text::source_of(log.path, lines.number());
    tool_calls.push_back(std::move(call));
  }
}

// The OpenCode transcripts: the JSON store's files go to the store reader,
// the rest to the generic JSONL reader; then the store's sessions, the
// terminal capture when there is no transcript and no database message, and
// the runtime logs.
void OpencodeParser::enrich(const RunArtifacts& run, ParseContext& context, LogReader& logs,
                            std::vector<Message>& messages, std::vector<ToolCall>& tool_calls,
                            std::vector<TodoItem>& todos) const {
  const std::vector<const TextArtifact*> transcripts = provider_transcripts(run, "opencode");
  std::vector<const TextArtifact*> jsonl;
  const std::vector<OpencodeJsonStore> stores = collect_opencode_json_stores(run, logs, transcripts, jsonl);
  for (const TextArtifact* t : jsonl) parse_jsonl_messages(log_text(run, *t, logs), messages, tool_calls, todos);
  OpencodeStoreSummary summary = append_opencode_store(stores, run.databases, messages, tool_calls, todos);
  if (transcripts.empty() && !summary.database_messages) read_opencode_terminal(run.terminal, messages, tool_calls);
  for (const TextArtifact* log : opencode_runtime_logs(run)) read_opencode_runtime_log(*log, tool_calls);
  own(context).store = std::move(summary);
}

std::optional<std::string> OpencodeParser::title(const RunArtifacts&, const ParseContext& context) const {
  return own(context).store.title;
}

void append_opencode_log_agent(std::vector<SubAgent>& agents, const std::vector<const TextArtifact*>& logs) {
  for (auto it = logs.rbegin(); it != logs.rend(); ++it) {
    const TextArtifact& log = **it;
    text::LineReader lines(log.text);
    std::string_view line;
    bool found = false;
    while (!found && lines.next(line)) found = contains_opencode_agent_event(line);
    if (!found) continue;
    for (const SubAgent& a : agents) {
      if (a.source == log.path) return;
    }
    SubAgent agent;
    agent.id = "opencode-agent-log";
    agent.title = "OpenCode agent log evidence";
    agent.prompt = "Detected from OpenCode session artifacts.";
    agent.state = ActivityState::Finished;
    agent.source = log.path;
    agents.push_back(std::move(agent));
    return;
  }
}

std::vector<SubAgent> OpencodeParser::sub_agents(const RunArtifacts& run, const ParseContext& context) const {
  std::vector<SubAgent> agents = default_sub_agents(family(), run);
  for (const SubAgent& a : own(context).store.sub_agents) agents.push_back(a);
  append_opencode_log_agent(agents, opencode_runtime_logs(run));
  return agents;
}

}  // namespace tl
