// Parser of the codex harness: the Codex session logs under .codex/sessions/
// read by the generic JSONL reader and the Codex event reader, the activity
// decided from the logs' turn events, and the sessions' metadata records.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "../json.hpp"
#include "codex_events.hpp"
#include "codex_usage.hpp"
#include "parser.hpp"

namespace tl {

// A log spawned as a sub-agent (its session record names the spawning thread
// under source.subagent.thread_spawn).
struct CodexSpawnedSession {
  std::string id;      // the session's id
  std::string title;   // the agent's nickname, else the last segment of its path, else "Sub-agent"
  std::string source;  // the session record's line
};

// A log's session record ("session_meta"), the first one found.
struct CodexSessionRecord {
  json::Value payload;                    // null when the record has none
  std::optional<std::string> agent_path;  // a spawned sub-agent's path, trimmed
  std::optional<CodexSpawnedSession> spawned;
};

// The spawned sub-agent a session record (line `line` of the log at `path`)
// describes; none for a main session or one without a string id.
std::optional<CodexSpawnedSession> codex_spawned_session(json::Element record, std::string_view path,
                                                         std::uint64_t line);

// The state of a session from its turn events: the last of task_complete
// (finished), turn_aborted (cancelled) and an error after the last
// task_started (failed); running otherwise.
class CodexTurnState {
 public:
  void event(std::string_view payload_type);
  ActivityState state() const { return state_; }

 private:
  ActivityState state_ = ActivityState::Running;
  bool started_ = false;
};

// The session record that line `number` of the log at `path` holds, if any
// (`owner`: the padded text that holds the line, for parsing it in place).
std::optional<CodexSessionRecord> codex_session_record(std::string_view line, std::string_view path,
                                                       std::uint64_t number, json::DocParser& parser,
                                                       const std::string* owner);

// The sub-agents of the run's spawned sessions, after `defaults` (an id
// already listed is not added again). A sub-agent's prompt is the first user
// message its log gave, else the message of the spawn_agent call whose output
// names its id.
struct CodexSpawnedLog {
  CodexSpawnedSession session;
  std::optional<std::string> first_user_message;
  ActivityState state = ActivityState::Running;
};
std::vector<SubAgent> codex_sub_agents(std::vector<SubAgent> defaults, const std::vector<CodexSpawnedLog>& logs,
                                       const std::vector<ToolCall>& tool_calls);

// A sub-agent's log with everything before its triggering inter-agent record
// blanked out (the session record kept on line 1, later lines keeping their
// numbers); none when the log is not cut.
std::optional<std::string> cut_codex_sub_agent_context(const std::string& text);
// A sub-agent's log with the context it was handed cut (above); other texts
// stay as they are.
void prepare_codex_log(TextArtifact& log);
// Whether prepare_codex_log may cut the log that begins with `start`: it is a
// sub-agent's, or its first window holds no session record.
bool codex_log_needs_whole(const TextArtifact& start);

// One line's claim on the run's activity.
struct CodexActivityCandidate {
  ActivityState state = ActivityState::Unknown;
  std::string_view last_event_kind;
  std::string_view reason;
  std::string timestamp;
  std::string path;
  std::uint64_t line = 0;
  std::uint64_t sequence = 0;  // lines read before it across all logs
};

// Follows the turn events of the Codex logs, line by line and log by log in
// run order, keeping the latest candidate by timestamp.
class CodexActivityTracker {
 public:
  // One line of a log; every line counts, parsed (non-null) or not.
  void line(std::string_view path, std::uint64_t number, const json::Element* parsed);
  // The same with the record fields read by the caller (null: not parsed).
  void record(std::string_view path, std::uint64_t number, const CodexRecord* record);
  const std::optional<CodexActivityCandidate>& best() const { return best_; }

 private:
  void offer(ActivityState state, std::string_view kind, std::string_view reason, const CodexRecord& record,
             std::string_view path, std::uint64_t number);

  std::uint64_t sequence_ = 0;
  std::optional<CodexActivityCandidate> best_;
};

// What `enrich`'s reading of the run's Codex logs leaves for the later hooks.
struct CodexParseContext : ParseContext {
  std::optional<CodexActivityCandidate> best;
  std::vector<json::Value> session_meta;
  // The run's sub-agents: the default list, then the spawned logs'.
  std::vector<SubAgent> sub_agents;
  CodexUsageReader usage_reader;  // fed only when the usage is reported
};

class CodexParser : public ParserWithContext<CodexParseContext> {
 public:
  using ParserWithContext::ParserWithContext;
  RunArtifacts prepare_artifacts(RunArtifacts run) const override;
  Activity classify_activity(const RunArtifacts& run, const ParseContext& context, const std::vector<Message>& messages,
                             const std::vector<Approval>& approvals, const std::vector<ToolError>& tool_errors,
                             const std::vector<ToolCall>& tool_calls) const override;
  void enrich(const RunArtifacts& run, ParseContext& context, LogReader& logs, std::vector<Message>& messages,
              std::vector<ToolCall>& tool_calls, std::vector<TodoItem>& todos) const override;
  std::vector<SubAgent> sub_agents(const RunArtifacts& run, const ParseContext& context) const override;
  json::Value snapshots(const RunArtifacts& run, const ParseContext& context) const override;
  UsageReading usage(const RunArtifacts& run, ParseContext& context, const std::vector<Message>& messages,
                     const std::vector<SubAgent>& sub_agents) const override;
};

}  // namespace tl
