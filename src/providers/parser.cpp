#include "parser.hpp"

#include <algorithm>

#include "../classify/activity.hpp"
#include "../classify/common.hpp"
#include "../classify/todos.hpp"
#include "../classify/turns.hpp"
#include "../harness.hpp"
#include "../text.hpp"
#include "../usage.hpp"

namespace tl {

namespace {

// What holds the place of the texts' evidence in the todo list while the
// harness's logs are read: no reader makes a todo at this position.
constexpr std::size_t kMarkPosition = static_cast<std::size_t>(-1);

TodoItem evidence_mark() {
  TodoItem mark;
  mark.position = kMarkPosition;
  return mark;
}

// Puts the texts' evidence where reading them before the harness's logs
// would have put it: their todos in place of the mark, after the terminal's
// and before the harness's, and their tool errors after the terminal's. A
// harness that started its todo list afresh (a Cursor TodoWrite replaces
// every todo before it) took the mark, and with it the texts' todos.
void put_text_evidence(const RunArtifacts& run, std::string_view family, EvidenceScan& scan, std::size_t mark,
                       CommonParse& evidence) {
  std::vector<TodoItem>& todos = evidence.todos;
  const bool kept = mark < todos.size() && todos[mark].position == kMarkPosition;
  CommonParse texts;
  texts.tool_errors = std::move(evidence.tool_errors);
  std::vector<TodoItem> harness;
  if (kept) {
    harness.assign(std::make_move_iterator(todos.begin() + static_cast<std::ptrdiff_t>(mark) + 1),
                   std::make_move_iterator(todos.end()));
    todos.resize(mark);
    texts.todos = std::move(todos);
  }
  add_text_evidence(run, family, scan, texts);
  evidence.tool_errors = std::move(texts.tool_errors);
  if (!kept) return;
  todos = std::move(texts.todos);
  for (TodoItem& todo : harness) {
    todo.position = todos.size();
    todos.push_back(std::move(todo));
  }
}

}  // namespace

// The order of every parse, each step once: load and prepare the run; the
// evidence any harness leaves (terminal, screens, harness files); the
// harness's own logs; todos without duplicates; the activity; the user turns;
// then sub-agents, snapshots and title. The activity is decided only once the
// harness's logs have been read, and the turns only once the activity is known.
// Each log is read once: the evidence scan watches the harness's reader and
// sees every log as it reads it, and reads only what the harness does not.
ParserOutput Parser::parse(const Args& args) const {
  const HarnessDefinition* harness = find_harness(family());
  const RunArtifacts run = prepare_artifacts(
      load_run(args.input, harness != nullptr ? harness->databases : std::span<const DatabaseRule>()));
  CommonParse evidence = terminal_evidence(run, family());
  EvidenceScan scan(run, family());
  LogReader logs{{}, &scan};
  const std::unique_ptr<ParseContext> context = new_context();
  context->usage = args.usage.has_value();
  // The texts' evidence is complete only once the harness's reader has read
  // its logs, so a mark holds its place in the todo list meanwhile.
  const std::size_t mark = evidence.todos.size();
  evidence.todos.push_back(evidence_mark());
  enrich(run, *context, logs, evidence.messages, evidence.tool_calls, evidence.todos);
  put_text_evidence(run, family(), scan, mark, evidence);
  dedupe_todos(evidence.todos);
  Activity activity = classify_activity(run, *context, evidence.messages, evidence.approvals, evidence.tool_errors,
                                        evidence.tool_calls);
  std::vector<UserTurn> user_turns =
      group_user_turns(evidence.messages, evidence.tool_calls, evidence.todos, activity.state);
  std::vector<SubAgent> agents = sub_agents(run, *context);
  json::Value snaps = snapshots(run, *context);
  std::optional<std::string> run_title = title(run, *context);

  ParserOutput out;
  out.parser.name = parser_name();
  out.parser.family = std::string(family());
  out.parser.version = std::string(kParserVersion);
  out.parser.status = ParserStatus::Succeeded;
  out.parser.lineage = lineage();
  out.parser.resolution = resolution();
  out.parser.requested_version = args.version;
  out.parser.matched_version = label();
  if (const json::Value* v = json::value_member(run.metadata, "runId")) out.run_id = *v;
  out.harness = args.harness;
  out.harness_version = args.version;
  if (const json::Value* v = json::value_member(run.metadata, "scenario")) out.scenario = *v;
  out.parsed_at = now_millis();
  out.provenance = provenance();

  ParserState& s = out.state;
  s.activity = std::move(activity);
  s.title = std::move(run_title);
  s.user_turns = std::move(user_turns);
  s.messages = std::move(evidence.messages);
  s.tool_calls = std::move(evidence.tool_calls);
  s.todos = std::move(evidence.todos);
  s.sub_agents = std::move(agents);
  s.approvals = std::move(evidence.approvals);
  s.tool_errors = std::move(evidence.tool_errors);
  s.context_artifacts = run.context_artifacts;
  s.snapshots = std::move(snaps);
  if (args.usage) {
    out.usage = summarize_usage(usage(run, *context, s.messages, s.sub_agents), *args.usage, s.messages, s.user_turns,
                                s.sub_agents);
  }
  return out;
}

Activity Parser::classify_activity(const RunArtifacts& run, const ParseContext&, const std::vector<Message>& messages,
                                   const std::vector<Approval>& approvals, const std::vector<ToolError>& tool_errors,
                                   const std::vector<ToolCall>& tool_calls) const {
  return tl::classify_activity(run, messages, approvals, tool_errors, tool_calls);
}

void Parser::enrich(const RunArtifacts&, ParseContext&, LogReader&, std::vector<Message>&, std::vector<ToolCall>&,
                    std::vector<TodoItem>&) const {}

UsageReading Parser::usage(const RunArtifacts& run, ParseContext&, const std::vector<Message>& messages,
                           const std::vector<SubAgent>& sub_agents) const {
  const HarnessDefinition* harness = find_harness(family());
  if (harness == nullptr || harness->read_usage == nullptr) return {};
  return harness->read_usage(run, messages, sub_agents);
}

std::vector<SubAgent> Parser::sub_agents(const RunArtifacts& run, const ParseContext&) const {
  return default_sub_agents(family(), run);
}

std::optional<std::string> Parser::title(const RunArtifacts&, const ParseContext&) const { return std::nullopt; }

std::vector<Provenance> Parser::provenance() const { return default_provenance(); }

json::Value Parser::snapshots(const RunArtifacts& run, const ParseContext&) const { return default_snapshots(run); }

std::string Parser::parser_name() const { return std::string(family()) + "Parser::" + label(); }

std::vector<std::string> Parser::lineage() const { return parser_lineage(family(), label()); }

std::vector<SubAgent> default_sub_agents(std::string_view family, const RunArtifacts& run) {
  const json::Value* observed = json::value_member(run.metadata, "subAgentsObserved");
  if (observed == nullptr || !observed->is_boolean() || !observed->get<bool>()) return {};
  SubAgent a;
  a.id = std::string(family) + "-observed";
  a.title = "Sub-agent observed";
  a.prompt = "Detected by harness manifest or terminal evidence.";
  a.state = ActivityState::Finished;
  a.source = "metadata.json";
  return {a};
}

bool lists_sub_agent(const std::vector<SubAgent>& agents, std::string_view id) {
  return std::any_of(agents.begin(), agents.end(), [&](const SubAgent& a) { return a.id == id; });
}

json::Value default_snapshots(const RunArtifacts& run) {
  if (const json::Value* v = json::value_member(run.metadata, "snapshots")) return *v;
  return json::Value::array();
}

json::Value merge_snapshots(json::Value snapshots, std::string_view key, json::Value list) {
  if (list.empty()) return snapshots;
  if (snapshots.is_object()) {
    snapshots[std::string(key)] = std::move(list);
    return snapshots;
  }
  json::Value out = json::Value::object();
  out[std::string(key)] = std::move(list);
  out["manifest"] = std::move(snapshots);
  return out;
}

std::vector<Provenance> default_provenance() {
  return {
      {"state.activity", "metadata.json + terminal.log + screens/*.txt"},
      {"state.userTurns", "terminal.log + snapshots/**/home/**"},
      {"state.contextArtifacts", "snapshots/**/home/** + snapshots/**/work/**"},
      {"state.snapshots", "metadata.json"},
  };
}

std::vector<std::string> parser_lineage(std::string_view family, std::string_view label) {
  const std::string cls = parser_class_name(family);
  std::vector<std::string> out{"Parser", cls};
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (true) {
    std::size_t sep = label.find("::", start);
    parts.push_back(label.substr(start, sep == std::string_view::npos ? std::string_view::npos : sep - start));
    if (sep == std::string_view::npos) break;
    start = sep + 2;
  }
  if (parts[0] != "family") out.push_back(cls + std::string(parts[0]));
  if (parts.size() >= 2 && parts[1] != "x") out.push_back(cls + std::string(parts[0]) + "::" + std::string(parts[1]));
  if (parts.size() >= 3 && parts[2] != "x") {
    out.push_back(cls + std::string(parts[0]) + "::" + std::string(parts[1]) + "::" + std::string(parts[2]));
  }
  return out;
}

}  // namespace tl
