#include "model.hpp"
#include "model_detail.hpp"

#include <charconv>
#include <chrono>
#include <cstdio>

namespace tl {

std::string_view to_string(ActivityState s) {
  switch (s) {
    case ActivityState::Running:
      return "running";
    case ActivityState::NeedsApproval:
      return "needs-approval";
    case ActivityState::Finished:
      return "finished";
    case ActivityState::Failed:
      return "failed";
    case ActivityState::Cancelled:
      return "cancelled";
    case ActivityState::Unknown:
      return "unknown";
  }
  return "unknown";
}

std::string_view to_string(ParserStatus s) {
  switch (s) {
    case ParserStatus::Succeeded:
      return "succeeded";
    case ParserStatus::Missing:
      return "missing";
    case ParserStatus::Failed:
      return "failed";
  }
  return "failed";
}

std::string_view to_string(ParserResolution r) {
  switch (r) {
    case ParserResolution::Exact:
      return "exact";
    case ParserResolution::PatchCompatible:
      return "patch_compatible";
    case ParserResolution::MinorCompatible:
      return "minor_compatible";
    case ParserResolution::FamilyFallback:
      return "family_fallback";
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

// The text being written; with a file attached, long lists are handed to the
// file piece by piece so that a large document never sits in memory whole.
struct Sink {
  std::string& out;
  std::FILE* file = nullptr;
  void checkpoint() {
    if (file != nullptr && out.size() >= (1u << 16)) {
      std::fwrite(out.data(), 1, out.size(), file);
      out.clear();
    }
  }
};

void write_record(Sink& sink, const Activity& v);
void write_record(Sink& sink, const Message& v);
void write_record(Sink& sink, const ToolCall& v);
void write_record(Sink& sink, const TodoItem& v);
void write_record(Sink& sink, const UserTurn& v);
void write_record(Sink& sink, const SubAgent& v);
void write_record(Sink& sink, const Approval& v);
void write_record(Sink& sink, const ToolError& v);
void write_record(Sink& sink, const ContextArtifact& v);
void write_record(Sink& sink, const Provenance& v);
void write_record(Sink& sink, const ParserInfo& v);
void write_record(Sink& sink, const ParserState& v);
void write_record(Sink& sink, const ParserOutput& v);
void write_record(Sink& sink, const UsageFigures& v);
void write_record(Sink& sink, const ModelUsage& v);
void write_record(Sink& sink, const PriceTableInfo& v);
void write_record(Sink& sink, const TurnUsage& v);
void write_record(Sink& sink, const SubAgentUsage& v);
void write_record(Sink& sink, const Usage& v);

// Writes one object member by member, in the order the caller gives.
class ObjectWriter {
 public:
  explicit ObjectWriter(Sink& sink) : sink_(sink), out_(sink.out) { out_.push_back('{'); }
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
  void opt_num(std::string_view k, const std::optional<std::uint64_t>& v) {
    if (v) num(k, *v);
  }
  // A finite number in the shortest form that reads back to the same value.
  void real(std::string_view k, double v) {
    key(k);
    char buf[32];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    out_.append(buf, ec == std::errc() ? end : buf);
  }
  void boolean(std::string_view k, bool v) {
    key(k);
    out_.append(v ? "true" : "false");
  }
  void value(std::string_view k, const json::Value& v) {
    key(k);
    json::write_value(out_, v);
  }
  void encoded(std::string_view k, const json::Encoded& v) {
    key(k);
    out_.append(v.text);
  }
  template <typename T>
  void record(std::string_view k, const T& v) {
    key(k);
    write_record(sink_, v);
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
      sink_.checkpoint();
    }
    out_.push_back(']');
  }

 private:
  template <typename T>
  void write_item(const T& item) {
    write_record(sink_, item);
  }
  void write_item(const std::string& s) { json::write_string(out_, s); }
  void write_item(std::uint64_t n) { out_.append(std::to_string(n)); }

  Sink& sink_;
  std::string& out_;
  bool first_ = true;
};

void write_record(Sink& sink, const Activity& v) {
  ObjectWriter w(sink);
  w.str("state", to_string(v.state));
  w.str("lastEventKind", v.last_event_kind);
  w.opt_str("reason", v.reason);
  w.opt_str("source", v.source);
}

void write_record(Sink& sink, const Message& v) {
  ObjectWriter w(sink);
  w.num("position", v.position);
  w.opt_str("id", v.id);
  w.str("role", v.role);
  w.str("text", v.text);
  w.opt_str("timestamp", v.timestamp);
  w.str("source", v.source);
}

void write_record(Sink& sink, const ToolCall& v) {
  ObjectWriter w(sink);
  w.num("position", v.position);
  w.opt_str("toolUseId", v.tool_use_id);
  w.str("name", v.name);
  if (v.input) w.encoded("input", *v.input);
  w.opt_str("resultText", v.result_text);
  w.boolean("isError", v.is_error);
  w.opt_str("startedAt", v.started_at);
  w.opt_str("endedAt", v.ended_at);
  w.str("source", v.source);
}

void write_record(Sink& sink, const TodoItem& v) {
  ObjectWriter w(sink);
  w.num("position", v.position);
  w.opt_str("id", v.id);
  w.str("content", v.content);
  w.str("state", v.state);
  w.str("source", v.source);
}

void write_record(Sink& sink, const UserTurn& v) {
  ObjectWriter w(sink);
  w.num("position", v.position);
  w.num("startMessagePosition", v.start_message_position);
  w.str("prompt", v.prompt);
  w.str("state", to_string(v.state));
  w.list("messagePositions", v.message_positions);
  w.list("toolCallPositions", v.tool_call_positions);
  w.list("todoPositions", v.todo_positions);
}

void write_record(Sink& sink, const SubAgent& v) {
  ObjectWriter w(sink);
  w.str("id", v.id);
  w.str("title", v.title);
  w.str("prompt", v.prompt);
  w.str("state", to_string(v.state));
  w.str("source", v.source);
}

void write_record(Sink& sink, const Approval& v) {
  ObjectWriter w(sink);
  w.num("position", v.position);
  w.str("text", v.text);
  w.str("state", v.state);
  w.str("source", v.source);
}

void write_record(Sink& sink, const ToolError& v) {
  ObjectWriter w(sink);
  w.num("position", v.position);
  w.str("text", v.text);
  w.str("source", v.source);
}

void write_record(Sink& sink, const ContextArtifact& v) {
  ObjectWriter w(sink);
  w.str("path", v.path);
  w.str("kind", v.kind);
  w.str("source", v.source);
  w.opt_str("title", v.title);
  w.num("sizeBytes", v.size_bytes);
}

void write_record(Sink& sink, const Provenance& v) {
  ObjectWriter w(sink);
  w.str("field", v.field);
  w.str("path", v.path);
}

void write_record(Sink& sink, const ParserInfo& v) {
  ObjectWriter w(sink);
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

void write_record(Sink& sink, const ParserState& v) {
  ObjectWriter w(sink);
  w.record("activity", v.activity);
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

void write_record(Sink& sink, const ParserOutput& v) {
  ObjectWriter w(sink);
  w.num("schemaVersion", v.schema_version);
  w.record("parser", v.parser);
  w.value("runId", v.run_id);
  w.str("harness", v.harness);
  w.str("harnessVersion", v.harness_version);
  w.value("scenario", v.scenario);
  w.num("parsedAt", v.parsed_at);
  w.record("state", v.state);
  w.list("provenance", v.provenance);
  if (v.usage) w.record("usage", *v.usage);
  w.opt_str("error", v.error);
}

// The figures' members, written into the object of the record that holds them.
void write_figures(ObjectWriter& w, const UsageFigures& f) {
  w.num("responses", f.responses);
  w.opt_num("inputTokens", f.input_tokens);
  w.opt_num("outputTokens", f.output_tokens);
  w.opt_num("cacheReadTokens", f.cache_read_tokens);
  w.opt_num("cacheWriteTokens", f.cache_write_tokens);
  w.opt_num("reasoningTokens", f.reasoning_tokens);
  if (f.cost_picodollars) w.real("costUsd", static_cast<double>(*f.cost_picodollars) / 1e12);
}

std::string_view to_string(CostSource s) {
  switch (s) {
    case CostSource::Harness:
      return "harness";
    case CostSource::Table:
      return "table";
    case CostSource::None:
      return "none";
  }
  return "none";
}

void write_record(Sink& sink, const UsageFigures& v) {
  ObjectWriter w(sink);
  write_figures(w, v);
}

void write_record(Sink& sink, const ModelUsage& v) {
  ObjectWriter w(sink);
  write_figures(w, v.figures);
  w.str("model", v.model);
  w.opt_str("provider", v.provider);
  w.str("costSource", to_string(v.cost_source));
}

void write_record(Sink& sink, const TurnUsage& v) {
  ObjectWriter w(sink);
  write_figures(w, v.figures);
  w.num("turnPosition", v.turn_position);
}

void write_record(Sink& sink, const SubAgentUsage& v) {
  ObjectWriter w(sink);
  write_figures(w, v.figures);
  w.str("subAgentId", v.sub_agent_id);
}

void write_record(Sink& sink, const PriceTableInfo& v) {
  ObjectWriter w(sink);
  w.str("name", v.name);
  w.str("date", v.date);
  w.str("source", v.source);
}

void write_record(Sink& sink, const Usage& v) {
  ObjectWriter w(sink);
  w.record("total", v.total);
  w.list("models", v.models);
  w.list("turns", v.turns);
  w.list("subAgents", v.sub_agents);
  w.record("prices", v.prices);
  w.list("unpricedModels", v.unpriced_models);
  w.list("notes", v.notes);
}

template <typename T>
void write_to_string(std::string& out, const T& v) {
  Sink sink{out};
  write_record(sink, v);
}

}  // namespace

void write_json(std::string& out, const ParserOutput& v) { write_to_string(out, v); }

template <typename Record>
std::string detail::record_json(const Record& record) {
  std::string out;
  write_to_string(out, record);
  return out;
}

template std::string detail::record_json(const Activity&);
template std::string detail::record_json(const Message&);
template std::string detail::record_json(const ToolCall&);
template std::string detail::record_json(const TodoItem&);
template std::string detail::record_json(const UserTurn&);
template std::string detail::record_json(const SubAgent&);
template std::string detail::record_json(const Approval&);
template std::string detail::record_json(const ToolError&);
template std::string detail::record_json(const ContextArtifact&);
template std::string detail::record_json(const Provenance&);

void write_json(std::FILE* file, const ParserOutput& v) {
  std::string out;
  out.reserve(1u << 17);
  Sink sink{out, file};
  write_record(sink, v);
  out.push_back('\n');
  std::fwrite(out.data(), 1, out.size(), file);
}

std::string to_json(const ParserOutput& v) {
  std::string out;
  out.reserve(128);
  write_json(out, v);
  return out;
}

}  // namespace tl
