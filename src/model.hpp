// The output document of tracelens and its compact JSON encoding.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "json_value.hpp"
#include "usage_record.hpp"

namespace tl {

enum class ActivityState { Running, NeedsApproval, Finished, Failed, Cancelled, Unknown };
enum class ParserStatus { Succeeded, Missing, Failed };
enum class ParserResolution { Exact, PatchCompatible, MinorCompatible, FamilyFallback };

std::string_view to_string(ActivityState s);
std::string_view to_string(ParserStatus s);
std::string_view to_string(ParserResolution r);

struct Activity {
  ActivityState state = ActivityState::Unknown;
  std::string last_event_kind = "unknown";
  std::optional<std::string> reason;
  std::optional<std::string> source;
};

struct Message {
  std::uint64_t position = 0;
  std::optional<std::string> id;
  std::string role;
  std::string text;
  std::optional<std::string> timestamp;
  std::string source;
};

struct ToolCall {
  std::uint64_t position = 0;
  std::optional<std::string> tool_use_id;
  std::string name;
  std::optional<json::Encoded> input;
  std::optional<std::string> result_text;
  bool is_error = false;
  std::optional<std::string> started_at;
  std::optional<std::string> ended_at;
  std::string source;
};

struct TodoItem {
  std::uint64_t position = 0;
  std::optional<std::string> id;
  std::string content;
  std::string state;
  std::string source;
};

struct UserTurn {
  std::uint64_t position = 0;
  std::uint64_t start_message_position = 0;
  std::string prompt;
  ActivityState state = ActivityState::Unknown;
  std::vector<std::uint64_t> message_positions;
  std::vector<std::uint64_t> tool_call_positions;
  std::vector<std::uint64_t> todo_positions;
};

struct SubAgent {
  std::string id;
  std::string title;
  std::string prompt;
  ActivityState state = ActivityState::Unknown;
  std::string source;
};

struct Approval {
  std::uint64_t position = 0;
  std::string text;
  std::string state;
  std::string source;
};

struct ToolError {
  std::uint64_t position = 0;
  std::string text;
  std::string source;
};

struct ContextArtifact {
  std::string path;
  std::string kind;
  std::string source;
  std::optional<std::string> title;
  std::uint64_t size_bytes = 0;
};

struct Provenance {
  std::string field;
  std::string path;
};

struct ParserInfo {
  std::string name;
  std::string family;
  std::string version = "0.2.0";
  ParserStatus status = ParserStatus::Succeeded;
  std::vector<std::string> lineage;
  std::optional<ParserResolution> resolution;
  std::string requested_version;
  std::optional<std::string> matched_version;
};

struct ParserState {
  Activity activity;
  std::optional<std::string> title;
  std::vector<UserTurn> user_turns;
  std::vector<Message> messages;
  std::vector<ToolCall> tool_calls;
  std::vector<TodoItem> todos;
  std::vector<SubAgent> sub_agents;
  std::vector<Approval> approvals;
  std::vector<ToolError> tool_errors;
  std::vector<ContextArtifact> context_artifacts;
  json::Value snapshots = nullptr;
};

struct ParserOutput {
  std::uint8_t schema_version = 2;
  ParserInfo parser;
  json::Value run_id = nullptr;
  std::string harness;
  std::string harness_version;
  json::Value scenario = nullptr;
  std::uint64_t parsed_at = 0;  // milliseconds since 1970-01-01T00:00:00Z
  ParserState state;
  std::vector<Provenance> provenance;
  // Token usage and cost, only when asked for (`--usage`) and never on the
  // registry's failure path.
  std::optional<Usage> usage;
  std::optional<std::string> error;
};

inline constexpr std::string_view kParserVersion = "0.2.0";

// The empty state: unknown activity, no title, empty lists, null snapshots.
ParserState empty_state();

// Wall-clock milliseconds since the epoch; 0 before it.
std::uint64_t now_millis();

// Compact JSON encoding, fields in declaration order.
void write_json(std::string& out, const ParserOutput& v);

std::string to_json(const ParserOutput& v);

// The document and one newline, written to `file` as it is encoded.
void write_json(std::FILE* file, const ParserOutput& v);

}  // namespace tl
