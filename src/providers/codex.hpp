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
#include "parser.hpp"

namespace tl {

// A log's session record ("session_meta"), the first one found.
struct CodexSessionRecord {
  json::Value payload;                    // null when the record has none
  std::optional<std::string> agent_path;  // a spawned sub-agent's path, trimmed
};

// The first session record among the first `max_lines` lines of `text`.
std::optional<CodexSessionRecord> find_codex_session_record(const std::string& text, json::DocParser& parser,
                                                            std::uint64_t max_lines);

// A sub-agent's log with everything before its triggering inter-agent record
// blanked out (the session record kept on line 1, later lines keeping their
// numbers); none when the log is not cut.
std::optional<std::string> cut_codex_sub_agent_context(const std::string& text);

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
};

class CodexParser : public ParserWithContext<CodexParseContext> {
 public:
  using ParserWithContext::ParserWithContext;
  RunArtifacts prepare_artifacts(RunArtifacts run) const override;
  Activity classify_activity(const RunArtifacts& run, const ParseContext& context, const std::vector<Message>& messages,
                             const std::vector<Approval>& approvals, const std::vector<ToolError>& tool_errors,
                             const std::vector<ToolCall>& tool_calls) const override;
  void enrich(const RunArtifacts& run, ParseContext& context, std::vector<Message>& messages,
              std::vector<ToolCall>& tool_calls, std::vector<TodoItem>& todos) const override;
  json::Value snapshots(const RunArtifacts& run, const ParseContext& context) const override;
};

}  // namespace tl
