#include "codex.hpp"

#include "../classify/activity.hpp"
#include "../classify/jsonl.hpp"
#include "../harness.hpp"
#include "../text.hpp"
#include "codex_events.hpp"

namespace tl {

namespace {

constexpr std::string_view kSessionMarker = "\"session_meta\"";
constexpr std::string_view kInterAgentMarker = "\"inter_agent_communication_metadata\"";
constexpr std::uint64_t kAgentPathLines = 64;
// What is read at a time ahead of the lines: what is looked for there sits
// in a log's first lines.
constexpr std::size_t kAheadWindow = 64u << 10;

bool is_terminal(ActivityState s) {
  return s == ActivityState::Finished || s == ActivityState::Failed || s == ActivityState::Cancelled;
}

bool is_session_record(json::Element record) {
  auto type = json::string_member(record, "type");
  return type && *type == "session_meta";
}

json::Value payload_value(json::Element record) {
  auto payload = json::member(record, "payload");
  return payload ? json::to_value(*payload) : json::Value(nullptr);
}

}  // namespace

std::optional<CodexSpawnedSession> codex_spawned_session(json::Element record, std::string_view path,
                                                         std::uint64_t line) {
  auto payload = json::member(record, "payload");
  if (!payload) return std::nullopt;
  auto spawn = json::pointer(*payload, "/source/subagent/thread_spawn");
  if (!spawn) return std::nullopt;
  auto id = json::string_member(*payload, "id");
  if (!id) return std::nullopt;
  CodexSpawnedSession session;
  session.id = std::string(*id);
  std::optional<std::string_view> nickname = json::string_member(*spawn, "agent_nickname");
  if (!nickname || nickname->empty()) nickname = json::string_member(*payload, "agent_nickname");
  if (nickname && !nickname->empty()) {
    session.title = std::string(*nickname);
  } else if (auto agent_path = json::string_member(*spawn, "agent_path");
             agent_path && !text::trim(*agent_path).empty()) {
    std::string_view trimmed = text::trim(*agent_path);
    const std::size_t slash = trimmed.rfind('/');
    std::string_view last = slash == std::string_view::npos ? trimmed : trimmed.substr(slash + 1);
    session.title = last.empty() ? std::string(trimmed) : std::string(last);
  } else {
    session.title = "Sub-agent";
  }
  session.source = text::source_of(path, line);
  return session;
}

void CodexTurnState::event(std::string_view payload_type) {
  if (payload_type == "task_started") {
    state_ = ActivityState::Running;
    started_ = true;
  } else if (payload_type == "task_complete") {
    state_ = ActivityState::Finished;
  } else if (payload_type == "turn_aborted") {
    state_ = ActivityState::Cancelled;
  } else if (payload_type == "error" && started_) {
    state_ = ActivityState::Failed;
  }
}

namespace {

// The message argument of the spawn_agent call whose output names `id`.
std::optional<std::string> spawn_message(const std::vector<ToolCall>& tool_calls, std::string_view id) {
  for (const ToolCall& call : tool_calls) {
    if (call.name != "spawn_agent" || !call.result_text || call.result_text->find(id) == std::string::npos ||
        !call.input) {
      continue;
    }
    auto input = json::parse_value(call.input->text);
    auto arguments = input ? json::value_string_member(*input, "arguments") : std::nullopt;
    if (!arguments) continue;
    auto parsed = json::parse_value(*arguments);
    if (!parsed) continue;
    if (auto message = json::value_string_member(*parsed, "message")) return std::string(*message);
  }
  return std::nullopt;
}

}  // namespace

std::vector<SubAgent> codex_sub_agents(std::vector<SubAgent> defaults, const std::vector<CodexSpawnedLog>& logs,
                                       const std::vector<ToolCall>& tool_calls) {
  for (const CodexSpawnedLog& log : logs) {
    if (lists_sub_agent(defaults, log.session.id)) continue;
    SubAgent agent;
    agent.id = log.session.id;
    agent.title = log.session.title;
    std::optional<std::string> prompt = log.first_user_message;
    if (!prompt) prompt = spawn_message(tool_calls, log.session.id);
    if (prompt) agent.prompt = std::string(text::take_chars(*prompt, text::kPromptChars));
    agent.state = log.state;
    agent.source = log.session.source;
    defaults.push_back(std::move(agent));
  }
  return defaults;
}

std::optional<CodexSessionRecord> codex_session_record(std::string_view line, std::string_view path,
                                                       std::uint64_t number, json::DocParser& parser,
                                                       const std::string* owner) {
  if (line.find(kSessionMarker) == std::string_view::npos) return std::nullopt;
  auto parsed = parser.parse(line, owner);
  if (!parsed || !is_session_record(*parsed)) return std::nullopt;
  CodexSessionRecord record;
  record.payload = payload_value(*parsed);
  if (auto agent_path = json::string_at(*parsed, "/payload/source/subagent/thread_spawn/agent_path")) {
    std::string_view trimmed = text::trim(*agent_path);
    if (!trimmed.empty()) record.agent_path = std::string(trimmed);
  }
  record.spawned = codex_spawned_session(*parsed, path, number);
  return record;
}

namespace {

// The next session record of `text` from where `lines` stands, with `line`
// set to its line; nothing when no line up to the end holds one.
std::optional<json::Element> next_session_record(text::LineReader& lines, std::string_view& line,
                                                 json::DocParser& parser, const std::string& text) {
  while (lines.next(line)) {
    if (line.find(kSessionMarker) == std::string_view::npos) continue;
    auto parsed = parser.parse(text::trim_end(line), &text);
    if (parsed && is_session_record(*parsed)) return parsed;
  }
  return std::nullopt;
}

// Whether a session record is a sub-agent's, whose log opens with the
// context it was handed.
bool is_sub_agent_session(json::Element record) {
  auto payload = json::member(record, "payload");
  if (!payload) return false;
  auto thread_source = json::string_member(*payload, "thread_source");
  return (thread_source && *thread_source == "subagent") || json::pointer(*payload, "/source/subagent").has_value();
}

}  // namespace

std::optional<std::string> cut_codex_sub_agent_context(const std::string& text) {
  json::DocParser parser;
  text::LineReader lines(text);
  std::string_view line;
  const std::optional<json::Element> session = next_session_record(lines, line, parser, text);
  if (!session || !is_sub_agent_session(*session)) return std::nullopt;
  const std::string_view session_line = line;
  while (lines.next(line)) {
    if (line.find(kInterAgentMarker) == std::string_view::npos) continue;
    auto parsed = parser.parse(text::trim_end(line), &text);
    if (!parsed || !json::is_true_at(*parsed, "/payload/trigger_turn")) continue;
    // Everything up to the trigger line is blanked; the session record moves
    // to line 1 and the line after the trigger keeps its number.
    const std::uint64_t trigger = lines.number();
    const std::size_t line_end = static_cast<std::size_t>(line.data() - text.data()) + line.size();
    const std::size_t newline = text.find('\n', line_end);
    std::string_view rest =
        newline == std::string::npos ? std::string_view() : std::string_view(text).substr(newline + 1);
    std::string out;
    out.reserve(session_line.size() + trigger + rest.size());
    out.append(session_line);
    out.push_back('\n');
    out.append(trigger - 1, '\n');
    out.append(rest);
    return out;
  }
  return std::nullopt;
}

void CodexActivityTracker::line(std::string_view path, std::uint64_t number, const json::Element* parsed) {
  if (parsed == nullptr) {
    record(path, number, nullptr);
    return;
  }
  const CodexRecord r = codex_record(*parsed);
  record(path, number, &r);
}

void CodexActivityTracker::record(std::string_view path, std::uint64_t number, const CodexRecord* record) {
  ++sequence_;
  if (record == nullptr || !record->type) return;
  const CodexRecord& r = *record;
  const bool after_end = best_ && is_terminal(best_->state);
  if (*r.type == "event_msg") {
    if (!r.payload_type) return;
    const std::string_view pt = *r.payload_type;
    if (pt == "task_started" || pt == "agent_message") {
      offer(ActivityState::Running, "assistant-tool-use", "task is active", r, path, number);
    } else if (pt == "turn_aborted") {
      offer(ActivityState::Cancelled, "user", "turn aborted", r, path, number);
    } else if (pt == "task_complete") {
      auto last = json::member(*r.payload, "last_agent_message");
      bool without_final = false;
      if (last) {
        if (json::is_null(*last)) {
          without_final = true;
        } else if (auto s = json::as_string(*last)) {
          without_final = text::is_blank(*s);
        }
      }
      if (without_final) {
        offer(ActivityState::Failed, "assistant-error", "task completed without a final agent message", r, path,
              number);
      } else {
        offer(ActivityState::Finished, "assistant-final", "task completed", r, path, number);
      }
    } else if (after_end && (pt == "user_message" ||
                             (pt == "item_completed" && json::string_at(*r.payload, "/item/type") == "UserMessage"))) {
      offer(ActivityState::Running, "user", "user continued a terminal task", r, path, number);
    }
  } else if (*r.type == "response_item") {
    if (r.payload_type && (*r.payload_type == "function_call_output" || *r.payload_type == "custom_tool_call_output")) {
      return;
    }
    if (after_end) {
      offer(ActivityState::Running, "assistant-tool-use", "assistant response activity after completion", r, path,
            number);
    }
  }
}

void CodexActivityTracker::offer(ActivityState state, std::string_view kind, std::string_view reason,
                                 const CodexRecord& record, std::string_view path, std::uint64_t number) {
  const std::string_view timestamp = record.timestamp.value_or("");
  // A later line wins a tie: its sequence number is always greater.
  if (best_ && timestamp < std::string_view(best_->timestamp)) return;
  if (!best_) best_.emplace();
  best_->state = state;
  best_->last_event_kind = kind;
  best_->reason = reason;
  best_->timestamp.assign(timestamp);
  best_->path.assign(path);
  best_->line = number;
  best_->sequence = sequence_;
}

void prepare_codex_log(TextArtifact& log) {
  // The session-log rule tested on the path as written, not lower-cased as
  // when the run is loaded: a log under ".Codex/Sessions/" is read but not cut.
  if (!matches_log_path(*find_harness("codex")->session_logs, log.path)) return;
  if (auto cut = cut_codex_sub_agent_context(log.text)) {
    log.text = std::move(*cut);
    json::pad(log.text);
  }
}

bool codex_log_needs_whole(const TextArtifact& start) {
  if (!matches_log_path(*find_harness("codex")->session_logs, start.path)) return false;
  // Only a sub-agent's log is cut, and its first session record says whether
  // it is one.
  json::DocParser parser;
  text::LineReader lines(start.text);
  std::string_view line;
  const std::optional<json::Element> session = next_session_record(lines, line, parser, start.text);
  return !session || is_sub_agent_session(*session);  // without one, the record may come later
}

RunArtifacts CodexParser::prepare_artifacts(RunArtifacts run) const {
  for (TextArtifact& artifact : run.texts) prepare_codex_log(artifact);
  run.prepare_log = &prepare_codex_log;
  run.needs_whole_log = &codex_log_needs_whole;
  return run;
}

void CodexParser::enrich(const RunArtifacts& run, ParseContext& context, LogReader& logs,
                         std::vector<Message>& messages, std::vector<ToolCall>& tool_calls,
                         std::vector<TodoItem>& todos) const {
  // Every line is parsed once and handed to the generic reader (writing to
  // the shared lists), the event reader (writing to lists of its own that are
  // appended after the file, exactly as if it had read the file second) and
  // the activity tracker.
  CodexParseContext& found = own(context);
  CodexUsageReader* usage = context.usage ? &found.usage_reader : nullptr;
  CodexActivityTracker tracker;
  json::DocParser parser;
  std::vector<Message> event_messages;
  std::vector<ToolCall> event_calls;
  std::vector<CodexSpawnedLog> spawned;
  // Reads ahead of the lines, unwatched: the evidence scan sees each log once,
  // with the lines.
  LogReader ahead;
  for (const TextArtifact* listed : provider_transcripts(run, "codex")) {
    const std::string& path = listed->path;
    // What the lines' reading needs first: the session record among the first
    // lines, and whether completed items stand for the messages, which the
    // first message event settles (early in a log that has one), else the
    // log's end.
    std::optional<CodexSessionRecord> session;
    CodexItemModeScan mode;
    for_each_log_piece(
        run, *listed, ahead,
        [&](const TextArtifact& piece, std::uint64_t first_line) {
          text::LineReader lines(piece.text);
          std::string_view line;
          while (lines.next(line)) {
            const std::uint64_t number = first_line - 1 + lines.number();
            if (!session && number <= kAgentPathLines) {
              session = codex_session_record(line, path, number, parser, &piece.text);
            }
            mode.line(line);
            if (mode.decided() && (session || number >= kAgentPathLines)) return false;
          }
          return true;
        },
        kAheadWindow);
    std::optional<std::string_view> agent_path;
    bool session_found = session.has_value();
    std::optional<CodexSpawnedSession> spawned_session;
    if (session) {
      if (session->agent_path) agent_path = *session->agent_path;
      spawned_session = std::move(session->spawned);
      found.session_meta.push_back(std::move(session->payload));
    }
    CodexTurnState turns;
    const std::size_t first_message = messages.size();
    JsonlMessageReader generic(path, messages, tool_calls, todos);
    event_messages.clear();
    event_calls.clear();
    CodexEventReader events(path, mode.on(), agent_path, event_messages, event_calls, todos);
    for_each_log_line(
        run, *listed, logs, parser, [&](std::uint64_t number, std::string_view raw, const json::Element* element) {
          generic.line(number, raw, element);
          if (element == nullptr) {
            tracker.record(path, number, nullptr);
            return;
          }
          const CodexRecord record = codex_record(*element);
          if (usage != nullptr) usage->record(path, number, record);
          events.record(number, record);
          tracker.record(path, number, &record);
          if (record.type == "event_msg" && record.payload_type) turns.event(*record.payload_type);
          if (!session_found && record.type == "session_meta" && raw.find(kSessionMarker) != std::string_view::npos) {
            found.session_meta.push_back(record.payload ? json::to_value(*record.payload) : json::Value(nullptr));
            spawned_session = codex_spawned_session(*element, path, number);
            session_found = true;
          }
        });
    generic.finish();
    const bool collapsed = events.finish();
    const std::size_t message_base = messages.size();
    for (Message& m : event_messages) {
      m.position += message_base;
      messages.push_back(std::move(m));
    }
    const std::size_t call_base = tool_calls.size();
    for (ToolCall& c : event_calls) {
      c.position += call_base;
      tool_calls.push_back(std::move(c));
    }
    if (collapsed) {
      for (std::size_t i = 0; i < tool_calls.size(); ++i) tool_calls[i].position = i;
    }
    if (spawned_session) {
      CodexSpawnedLog log{std::move(*spawned_session), std::nullopt, turns.state()};
      for (std::size_t i = first_message; i < messages.size(); ++i) {
        if (messages[i].role == "user") {
          log.first_user_message = messages[i].text;
          break;
        }
      }
      spawned.push_back(std::move(log));
    }
  }
  found.best = tracker.best();
  found.sub_agents = codex_sub_agents(default_sub_agents(family(), run), spawned, tool_calls);
}

UsageReading CodexParser::usage(const RunArtifacts&, ParseContext& context, const std::vector<Message>&,
                                const std::vector<SubAgent>& sub_agents) const {
  return own(context).usage_reader.finish(sub_agents);
}

std::vector<SubAgent> CodexParser::sub_agents(const RunArtifacts&, const ParseContext& context) const {
  return own(context).sub_agents;
}

Activity CodexParser::classify_activity(const RunArtifacts& run, const ParseContext& context,
                                        const std::vector<Message>& messages, const std::vector<Approval>& approvals,
                                        const std::vector<ToolError>& tool_errors,
                                        const std::vector<ToolCall>& tool_calls) const {
  const std::optional<CodexActivityCandidate>& best = own(context).best;
  if (!best) return tl::classify_activity(run, messages, approvals, tool_errors, tool_calls);
  if (best->state == ActivityState::Running && !approvals.empty()) {
    return activity(ActivityState::NeedsApproval, "approval", "approval evidence in terminal or snapshot",
                    approvals.back().source);
  }
  return activity(best->state, best->last_event_kind, best->reason, text::source_of(best->path, best->line));
}

json::Value CodexParser::snapshots(const RunArtifacts& run, const ParseContext& context) const {
  json::Value list = json::Value::array();
  for (const json::Value& meta : own(context).session_meta) list.push_back(meta);
  return merge_snapshots(default_snapshots(run), "codexSessionMeta", std::move(list));
}

}  // namespace tl
