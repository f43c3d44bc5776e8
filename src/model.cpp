#include "model.hpp"

#include <chrono>

namespace tl {

std::string_view to_string(ActivityState s) {
  switch (s) {
    case ActivityState::Running: return "running";
    case ActivityState::NeedsApproval: return "needs-approval";
    case ActivityState::Finished: return "finished";
    case ActivityState::Failed: return "failed";
    case ActivityState::Cancelled: return "cancelled";
    case ActivityState::Unknown: return "unknown";
  }
  return "unknown";
}

std::string_view to_string(ParserStatus s) {
  switch (s) {
    case ParserStatus::Succeeded: return "succeeded";
    case ParserStatus::Missing: return "missing";
    case ParserStatus::Failed: return "failed";
  }
  return "failed";
}

std::string_view to_string(ParserResolution r) {
  switch (r) {
    case ParserResolution::Exact: return "exact";
    case ParserResolution::PatchCompatible: return "patch_compatible";
    case ParserResolution::MinorCompatible: return "minor_compatible";
    case ParserResolution::FamilyFallback: return "family_fallback";
  }
  return "family_fallback";
}

ParserState empty_state() { return ParserState{}; }

std::uint64_t now_millis() {
  using namespace std::chrono;
  auto ms = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
  return ms < 0 ? 0 : static_cast<std::uint64_t>(ms);
}

namespace {

// Writes one object member by member, in the order the caller gives.
class ObjectWriter {
 public:
  explicit ObjectWriter(std::string& out) : out_(out) { out_.push_back('{'); }
  ~ObjectWriter() { out_.push_back('}'); }

  void key(std::string_view k) {
    if (!first_) out_.push_back(',');
    first_ = false;
    out_.push_back('"');
    out_.append(k);  // keys are fixed ASCII names
    out_.append("\":");
  }
  void str(std::string_view k, std::string_view v) {
    key(k);
    json::write_string(out_, v);
  }
  void opt_str(std::string_view k, const std::optional<std::string>& v) {
    if (v) str(k, *v);
  }
  void num(std::string_view k, std::uint64_t v) {
    key(k);
    out_.append(std::to_string(v));
  }
  void boolean(std::string_view k, bool v) {
    key(k);
    out_.append(v ? "true" : "false");
  }
  void value(std::string_view k, const json::Value& v) {
    key(k);
    json::write_value(out_, v);
  }
  template <typename T>
  void list(std::string_view k, const std::vector<T>& items) {
    key(k);
    out_.push_back('[');
    bool first = true;
    for (const auto& item : items) {
      if (!first) out_.push_back(',');
      first = false;
      write_item(item);
    }
    out_.push_back(']');
  }

 private:
  template <typename T>
  void write_item(const T& item) {
    write_json(out_, item);
  }
  void write_item(const std::string& s) { json::write_string(out_, s); }
  void write_item(std::uint64_t n) { out_.append(std::to_string(n)); }

  std::string& out_;
  bool first_ = true;
};

}  // namespace

void write_json(std::string& out, const Activity& v) {
  ObjectWriter w(out);
  w.str("state", to_string(v.state));
  w.str("lastEventKind", v.last_event_kind);
  w.opt_str("reason", v.reason);
  w.opt_str("source", v.source);
}

void write_json(std::string& out, const Message& v) {
  ObjectWriter w(out);
  w.num("position", v.position);
  w.opt_str("id", v.id);
  w.str("role", v.role);
  w.str("text", v.text);
  w.opt_str("timestamp", v.timestamp);
  w.str("source", v.source);
}

void write_json(std::string& out, const ToolCall& v) {
  ObjectWriter w(out);
  w.num("position", v.position);
  w.opt_str("toolUseId", v.tool_use_id);
  w.str("name", v.name);
  if (v.input) w.value("input", *v.input);
  w.opt_str("resultText", v.result_text);
  w.boolean("isError", v.is_error);
  w.opt_str("startedAt", v.started_at);
  w.opt_str("endedAt", v.ended_at);
  w.str("source", v.source);
}

void write_json(std::string& out, const TodoItem& v) {
  ObjectWriter w(out);
  w.num("position", v.position);
  w.opt_str("id", v.id);
  w.str("content", v.content);
  w.str("state", v.state);
  w.str("source", v.source);
}

void write_json(std::string& out, const UserTurn& v) {
  ObjectWriter w(out);
  w.num("position", v.position);
  w.num("startMessagePosition", v.start_message_position);
  w.str("prompt", v.prompt);
  w.str("state", to_string(v.state));
  w.list("messagePositions", v.message_positions);
  w.list("toolCallPositions", v.tool_call_positions);
  w.list("todoPositions", v.todo_positions);
}

void write_json(std::string& out, const SubAgent& v) {
  ObjectWriter w(out);
  w.str("id", v.id);
  w.str("title", v.title);
  w.str("prompt", v.prompt);
  w.str("state", to_string(v.state));
  w.str("source", v.source);
}

void write_json(std::string& out, const Approval& v) {
  ObjectWriter w(out);
  w.num("position", v.position);
  w.str("text", v.text);
  w.str("state", v.state);
  w.str("source", v.source);
}

void write_json(std::string& out, const ToolError& v) {
  ObjectWriter w(out);
  w.num("position", v.position);
  w.str("text", v.text);
  w.str("source", v.source);
}

void write_json(std::string& out, const ContextArtifact& v) {
  ObjectWriter w(out);
  w.str("path", v.path);
  w.str("kind", v.kind);
  w.str("source", v.source);
  w.opt_str("title", v.title);
  w.num("sizeBytes", v.size_bytes);
}

void write_json(std::string& out, const Provenance& v) {
  ObjectWriter w(out);
  w.str("field", v.field);
  w.str("path", v.path);
}

void write_json(std::string& out, const ParserInfo& v) {
  ObjectWriter w(out);
  w.str("name", v.name);
  w.str("family", v.family);
  w.str("version", v.version);
  w.str("status", to_string(v.status));
  w.list("lineage", v.lineage);
  if (v.resolution) {
    w.str("resolution", to_string(*v.resolution));
  } else {
    w.value("resolution", nullptr);
  }
  w.str("requestedVersion", v.requested_version);
  if (v.matched_version) {
    w.str("matchedVersion", *v.matched_version);
  } else {
    w.value("matchedVersion", nullptr);
  }
}

void write_json(std::string& out, const ParserState& v) {
  ObjectWriter w(out);
  w.key("activity");
  write_json(out, v.activity);
  w.opt_str("title", v.title);
  w.list("userTurns", v.user_turns);
  w.list("messages", v.messages);
  w.list("toolCalls", v.tool_calls);
  w.list("todos", v.todos);
  w.list("subAgents", v.sub_agents);
  w.list("approvals", v.approvals);
  w.list("toolErrors", v.tool_errors);
  w.list("contextArtifacts", v.context_artifacts);
  w.value("snapshots", v.snapshots);
}

void write_json(std::string& out, const ParserOutput& v) {
  ObjectWriter w(out);
  w.num("schemaVersion", v.schema_version);
  w.key("parser");
  write_json(out, v.parser);
  w.value("runId", v.run_id);
  w.str("harness", v.harness);
  w.str("harnessVersion", v.harness_version);
  w.value("scenario", v.scenario);
  w.num("parsedAt", v.parsed_at);
  w.key("state");
  write_json(out, v.state);
  w.list("provenance", v.provenance);
  w.opt_str("error", v.error);
}

std::string to_json(const ParserOutput& v) {
  std::string out;
  out.reserve(128);
  write_json(out, v);
  return out;
}

}  // namespace tl
