#include "claude.hpp"

#include <unordered_set>

#include "../classify/activity.hpp"
#include "../classify/jsonl.hpp"
#include "../classify/todos.hpp"
#include "../harness.hpp"
#include "../text.hpp"

namespace tl {

// ---- queued prompts ---------------------------------------------------------

namespace {

constexpr std::string_view kQueuedCommand = "queued_command";

// The prompt of a queued-command attachment line that hosts its own turn.
std::optional<std::string_view> queued_prompt(json::Element line) {
  auto attachment = json::member(line, "attachment");
  if (!attachment) return std::nullopt;
  if (!json::string_is(json::string_member(line, "type"), "attachment")) return std::nullopt;
  if (!json::string_is(json::string_member(*attachment, "type"), kQueuedCommand)) return std::nullopt;
  if (!json::string_is(json::string_member(*attachment, "commandMode"), "prompt")) return std::nullopt;
  if (!json::is_true(*attachment, "hostsOwnTurn")) return std::nullopt;
  if (!json::string_is(json::string_member(line, "userType"), "external")) return std::nullopt;
  auto prompt = json::string_member(*attachment, "prompt");
  if (!prompt || text::is_blank(*prompt)) return std::nullopt;
  return prompt;
}

}  // namespace

bool has_queued_prompts(const TextArtifact& artifact) {
  // The session-log rule tested on the path as written, not lower-cased as
  // when the run is loaded: a transcript under ".Claude/Projects/" is read but
  // its queued prompts are left as they are.
  return matches_log_path(*find_harness("claude")->session_logs, artifact.path) &&
         text::contains(artifact.text, kQueuedCommand);
}

std::string rewrite_queued_prompts(const std::string& content) {
  std::string out;
  out.reserve(content.size());
  json::DocParser parser;
  text::LineReader lines(content);
  std::string_view line;
  while (lines.next(line)) {
    // The last line, when no line feed ends it, loses a trailing carriage
    // return too: the rewritten text has line-feed ends only.
    if (line.ends_with('\r') && line.data() + line.size() == content.data() + content.size()) line.remove_suffix(1);
    std::optional<std::string_view> prompt;
    std::optional<json::Element> parsed;
    if (line.find(kQueuedCommand) != std::string_view::npos) {
      parsed = parser.parse(line, &content);
      if (parsed) prompt = queued_prompt(*parsed);
    }
    if (!prompt) {
      out.append(line);
    } else {
      json::Value value = json::to_value(*parsed);
      json::Value message = json::Value::object();
      message["content"] = std::string(*prompt);
      message["role"] = "user";
      value["message"] = std::move(message);
      json::write_value(out, value);
    }
    out.push_back('\n');
  }
  return out;
}

void prepare_claude_log(TextArtifact& log) {
  if (!has_queued_prompts(log)) return;
  log.text = rewrite_queued_prompts(log.text);
  json::pad(log.text);
}

RunArtifacts ClaudeParser::prepare_artifacts(RunArtifacts run) const {
  for (TextArtifact& artifact : run.texts) prepare_claude_log(artifact);
  // Only the lines that mention a queued command change, so a long
  // transcript may be prepared a window of lines at a time.
  run.prepare_log = &prepare_claude_log;
  run.prepare_log_by_lines = true;
  return run;
}

// ---- title ------------------------------------------------------------------

void scan_title_line(ClaudeTitleScan& scan, const ClaudeLine& line) {
  const std::optional<std::string_view> type = line.type ? json::as_string(*line.type) : std::nullopt;
  if (!type) return;
  std::optional<std::string>* slot = nullptr;
  std::string_view key;
  if (*type == "custom-title") {
    slot = &scan.custom_title;
    key = "customTitle";
  } else if (*type == "agent-name") {
    slot = &scan.agent_name;
    key = "agentName";
  } else if (*type == "ai-title") {
    slot = &scan.ai_title;
    key = "aiTitle";
  } else if (*type == "summary") {
    slot = &scan.summary;
    key = "summary";
  } else {
    return;
  }
  auto value = json::string_member(line.element, key);
  if (!value) return;
  std::string_view t = text::trim(*value);
  if (!t.empty()) *slot = std::string(t);
}

std::optional<std::string> claude_title(const ClaudeTitleScan& scan) {
  for (const std::optional<std::string>* t : {&scan.custom_title, &scan.agent_name, &scan.ai_title, &scan.summary}) {
    if (*t) return *t;
  }
  return std::nullopt;
}

// ---- session metadata -------------------------------------------------------

namespace {

// The first non-empty trimmed piece of a user message's prompt text: the
// pieces joined with line feeds start with it, and it is absent exactly when
// the joined text is empty.
std::optional<std::string_view> first_prompt_piece(json::Element line) {
  auto content = json::pointer(line, "/message/content");
  if (!content) return std::nullopt;
  if (auto s = json::as_string(*content)) {
    std::string_view t = text::trim(*s);
    if (t.empty()) return std::nullopt;
    return t;
  }
  auto items = json::as_array(*content);
  if (!items) return std::nullopt;
  for (json::Element item : *items) {
    std::optional<std::string_view> piece = json::as_string(item);
    if (!piece && json::string_is(json::string_member(item, "type"), "text")) {
      if (auto field = json::first_present(item, {"text", "content"})) piece = json::as_string(*field);
    }
    if (!piece) continue;
    std::string_view t = text::trim(*piece);
    if (!t.empty()) return t;
  }
  return std::nullopt;
}

}  // namespace

bool is_genuine_user_prompt(json::Element line) {
  if (!json::string_is(json::string_member(line, "type"), "user")) return false;
  if (!json::string_is(json::string_at(line, "/message/role"), "user")) return false;
  if (json::is_true(line, "isMeta") || json::is_true(line, "isSidechain")) return false;
  std::optional<std::string_view> prompt = first_prompt_piece(line);
  if (prompt) {
    for (std::string_view p :
         {"<command-name>", "<local-command-caveat>", "<local-command-stdout>", "<local-command-stderr>"}) {
      if (prompt->starts_with(p)) return false;
    }
  } else if (!json::string_is(json::string_at(line, "/origin/kind"), "human")) {
    return false;
  }
  return json::string_member(line, "uuid").has_value();
}

void scan_session_meta_line(ClaudeSessionMetaScan& scan, const ClaudeLine& line, std::string_view path,
                            std::uint64_t number) {
  if (!scan.conversation_id && is_genuine_user_prompt(line.element)) {
    scan.conversation_id = std::string(*json::string_member(line.element, "uuid"));
  }
  auto text_of = [](const std::optional<json::Element>& e) { return e ? json::as_string(*e) : std::nullopt; };
  auto cwd = text_of(line.cwd);
  auto branch = text_of(line.git_branch);
  auto session = text_of(line.session_id);
  if (!cwd && !branch && !session) return;
  std::string& key = scan.key;
  key.clear();
  key.append(cwd.value_or(""));
  key.append("\x1f");
  key.append(branch.value_or(""));
  key.append("\x1f");
  key.append(session.value_or(""));
  if (scan.seen.contains(key)) return;
  scan.seen.insert(key);
  ClaudeSessionMetaEntry entry;
  if (cwd) entry.cwd = std::string(*cwd);
  if (branch) entry.git_branch = std::string(*branch);
  if (session) entry.session_id = std::string(*session);
  entry.source = text::source_of(path, number);
  scan.entries.push_back(std::move(entry));
}

json::Value claude_session_meta_snapshots(const ClaudeSessionMetaScan& scan, json::Value defaults) {
  if (scan.entries.empty()) return defaults;
  auto optional_text = [](const std::optional<std::string>& s) { return s ? json::Value(*s) : json::Value(nullptr); };
  json::Value entries = json::Value::array();
  for (const ClaudeSessionMetaEntry& e : scan.entries) {
    json::Value entry = json::Value::object();
    if (scan.conversation_id) entry["conversationId"] = *scan.conversation_id;
    entry["cwd"] = optional_text(e.cwd);
    entry["gitBranch"] = optional_text(e.git_branch);
    entry["sessionId"] = optional_text(e.session_id);
    entry["source"] = e.source;
    entries.push_back(std::move(entry));
  }
  return merge_snapshots(std::move(defaults), "claudeSessionMeta", std::move(entries));
}

// ---- pending questions ------------------------------------------------------

const ToolCall* pending_question(const std::vector<ToolCall>& tool_calls) {
  std::unordered_set<std::string_view> seen;
  for (auto it = tool_calls.rbegin(); it != tool_calls.rend(); ++it) {
    if (it->name != "AskUserQuestion") continue;
    // An earlier call with the id of a later one was superseded by it.
    if (it->tool_use_id && !seen.insert(*it->tool_use_id).second) continue;
    if (!it->ended_at && !it->result_text) return &*it;
  }
  return nullptr;
}

// ---- one pass over the transcripts -----------------------------------------

ClaudeTranscriptScan scan_claude_transcripts(const RunArtifacts& run, LogReader& logs, const ClaudeMessageLists& lists,
                                             ClaudeUsageReader* usage) {
  ClaudeTranscriptScan scan;
  json::DocParser parser;
  for (const TextArtifact* t : provider_transcripts(run, "claude")) {
    JsonlMessageReader reader(t->path, lists.messages, lists.tool_calls, lists.todos);
    for_each_log_line(run, *t, logs, parser,
                      [&](std::uint64_t number, std::string_view raw, const json::Element* parsed) {
                        reader.line(number, raw, parsed);
                        if (parsed == nullptr) return;
                        const ClaudeLine line = read_claude_line(*parsed);
                        if (usage != nullptr) usage->line(t->path, number, line);
                        if (is_api_request_type(line.type)) return;
                        scan_title_line(scan.title, line);
                        scan_session_meta_line(scan.session_meta, line, t->path, number);
                        track_claude_sub_agent_line(scan.sub_agents, line, t->path, number);
                      });
    reader.finish();
  }
  return scan;
}

// ---- hooks ------------------------------------------------------------------

void ClaudeParser::enrich(const RunArtifacts& run, ParseContext& context, LogReader& logs,
                          std::vector<Message>& messages, std::vector<ToolCall>& tool_calls,
                          std::vector<TodoItem>& todos) const {
  ClaudeParseContext& own_context = own(context);
  own_context.scan = scan_claude_transcripts(run, logs, ClaudeMessageLists{messages, tool_calls, todos},
                                             context.usage ? &own_context.usage_reader : nullptr);
  for (const TextArtifact* listed : texts_matching(run, {"/.claude/tasks/", "/.claude/todos/"})) {
    const TextArtifact& t = log_text(run, *listed, logs);
    parse_jsonl_messages(t, messages, tool_calls, todos);
    parse_structured_todos(t, todos);
  }
}

UsageReading ClaudeParser::usage(const RunArtifacts&, ParseContext& context, const std::vector<Message>&,
                                 const std::vector<SubAgent>& sub_agents) const {
  return own(context).usage_reader.finish(sub_agents);
}

Activity ClaudeParser::classify_activity(const RunArtifacts& run, const ParseContext& context,
                                         const std::vector<Message>& messages, const std::vector<Approval>& approvals,
                                         const std::vector<ToolError>& tool_errors,
                                         const std::vector<ToolCall>& tool_calls) const {
  Activity common = Parser::classify_activity(run, context, messages, approvals, tool_errors, tool_calls);
  if (common.state != ActivityState::Running && common.state != ActivityState::Unknown) return common;
  if (const ToolCall* question = pending_question(tool_calls)) {
    return activity(ActivityState::NeedsApproval, "assistant-tool-use",
                    "Claude is waiting for an AskUserQuestion response", question->source);
  }
  const std::vector<SubAgent>& agents = own(context).scan.sub_agents.agents;
  for (auto it = agents.rbegin(); it != agents.rend(); ++it) {
    if (it->state == ActivityState::Running) {
      return activity(ActivityState::Running, "assistant-tool-use", "Claude background sub-agent is still running",
                      it->source);
    }
  }
  return common;
}

std::vector<SubAgent> ClaudeParser::sub_agents(const RunArtifacts& run, const ParseContext& context) const {
  const std::vector<SubAgent>& agents = own(context).scan.sub_agents.agents;
  if (agents.empty()) return Parser::sub_agents(run, context);
  return agents;
}

std::optional<std::string> ClaudeParser::title(const RunArtifacts&, const ParseContext& context) const {
  return claude_title(own(context).scan.title);
}

json::Value ClaudeParser::snapshots(const RunArtifacts& run, const ParseContext& context) const {
  return claude_session_meta_snapshots(own(context).scan.session_meta, Parser::snapshots(run, context));
}

}  // namespace tl
