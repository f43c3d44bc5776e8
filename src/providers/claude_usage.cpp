// Token usage of Claude Code transcripts. Claude Code writes one line per
// content block or stream snapshot of a response, each carrying the same
// message id and the same usage, and a resumed session copies earlier lines
// into its new file: a response is therefore counted once per message id
// (with the request id where present), the last line read giving its
// figures and the first its place. From
// 2.1.3xx on, `cost-state` lines carry the session's own running cost.
#include "claude_usage.hpp"

#include <algorithm>
#include <array>
#include <unordered_map>

#include "../artifacts.hpp"

namespace tl {

namespace {

// The sub-agent whose own transcript this is: .../subagents/agent-<id>.jsonl.
std::optional<std::string> sub_agent_of(std::string_view path, const std::vector<SubAgent>& sub_agents) {
  constexpr std::string_view kDir = "/subagents/agent-";
  std::size_t at = path.rfind(kDir);
  if (at == std::string_view::npos || !path.ends_with(".jsonl")) return std::nullopt;
  std::string_view id = path.substr(at + kDir.size());
  id.remove_suffix(6);
  if (id.find('/') != std::string_view::npos) return std::nullopt;
  if (auto known = known_sub_agent(sub_agents, id)) return known;
  return known_sub_agent(sub_agents, "agent-" + std::string(id));
}

}  // namespace

namespace {

// What one line says about usage, owned: the parser's elements do not
// outlive the next parse.
struct UsageLine {
  std::optional<std::string> type;
  std::optional<std::string> request_id;
  std::optional<std::string> message_id;
  std::optional<std::string> model;
  std::optional<std::string> session_id;
  std::optional<TokenCounts> usage;                          // message.usage, when an object
  std::optional<std::vector<HarnessModelCost>> model_costs;  // modelUsage, when an object
};

TokenCounts token_counts(json::Element usage) {
  TokenCounts t;
  auto object = json::as_object(usage);
  if (!object) return t;
  // One pass over the members: this runs for every response line.
  for (auto field : *object) {
    const std::string_view key = field.key;
    if (key == "input_tokens") {
      t.input = token_count(field.value);
    } else if (key == "output_tokens") {
      t.output = token_count(field.value);
    } else if (key == "cache_read_input_tokens") {
      t.cache_read = token_count(field.value);
    } else if (key == "cache_creation_input_tokens") {
      t.cache_write = token_count(field.value);
    } else if (key == "cache_creation") {
      t.cache_write_1h = token_count(json::member(field.value, "ephemeral_1h_input_tokens"));
    } else if (key == "output_tokens_details") {
      t.reasoning = token_count(json::member(field.value, "thinking_tokens"));
    }
  }
  return t;
}

// The string members `keys` of an object, in one pass.
template <std::size_t N>
void string_members(json::Element object, const std::array<std::string_view, N>& keys,
                    std::array<std::optional<std::string>*, N> slots) {
  auto members = json::as_object(object);
  if (!members) return;
  for (auto field : *members) {
    for (std::size_t i = 0; i < N; ++i) {
      if (field.key == keys[i]) {
        if (auto s = json::as_string(field.value)) *slots[i] = std::string(*s);
      }
    }
  }
}

// The members of a whole parsed line.
UsageLine read_line(json::Element v) {
  UsageLine out;
  out.type = text::owned(json::string_member(v, "type"));
  out.request_id = text::owned(json::string_member(v, "requestId"));
  out.session_id = text::owned(json::string_member(v, "sessionId"));
  out.message_id = text::owned(json::string_at(v, "/message/id"));
  out.model = text::owned(json::string_at(v, "/message/model"));
  if (auto usage = json::pointer(v, "/message/usage"); usage && json::is_object(*usage)) {
    out.usage = token_counts(*usage);
  }
  if (auto models = json::member(v, "modelUsage")) {
    if (auto object = json::as_object(*models)) {
      std::vector<HarnessModelCost> costs;
      for (auto field : *object) {
        if (auto cost = dollars(json::member(field.value, "costUSD"))) {
          costs.push_back(HarnessModelCost{std::string(field.key), *cost});
        }
      }
      out.model_costs = std::move(costs);
    }
  }
  return out;
}

// A response line is mostly its content. Claude Code writes the message's
// scalar members (id, model, ...) before its "content" and "usage" as its
// last object, and the line's other members are scalars: the pieces around
// the content are parsed alone, as {<line members before "message">},
// {<message members before "content">} and {"message":{"usage":...<to the
// end of the line>. Nothing when the line is not laid out so (each piece
// must parse); the caller then parses it whole.
std::optional<UsageLine> read_line_ends(std::string_view raw, std::size_t usage_at, json::DocParser& parser,
                                        std::string& scratch) {
  // The searches look for needles whose first and last bytes are rare
  // together, and check the quote before them.
  const std::size_t message_key = text::find(raw.substr(0, usage_at), "message\":");
  if (message_key == std::string_view::npos || message_key == 0 || raw[message_key - 1] != '"') return std::nullopt;
  const std::size_t message_at = message_key - 1;
  std::size_t open = message_key + 9;
  while (open < usage_at && (raw[open] == ' ' || raw[open] == '\t')) ++open;
  if (open >= usage_at || raw[open] != '{') return std::nullopt;
  const std::size_t content_key = text::find(raw.substr(open, usage_at - open), "content\":");
  if (content_key == std::string_view::npos || raw[open + content_key - 1] != '"') return std::nullopt;
  const std::size_t content_at = content_key - 1;
  // The members before the cut, closed into an object of their own.
  auto members_before = [&](std::string_view piece) {
    piece = text::trim_end(piece);
    if (piece.ends_with(',')) piece.remove_suffix(1);
    scratch.assign(piece);
    scratch.push_back('}');
    auto v = parser.parse(scratch);
    return v && json::is_object(*v) ? v : std::nullopt;
  };
  UsageLine out;
  scratch.assign("{\"message\":{");
  scratch.append(raw.substr(usage_at));
  auto tail = parser.parse(scratch);
  if (!tail) return std::nullopt;
  auto usage = json::pointer(*tail, "/message/usage");
  if (!usage || !json::is_object(*usage)) return std::nullopt;
  out.usage = token_counts(*usage);
  string_members<2>(*tail, {"type", "requestId"}, {&out.type, &out.request_id});
  auto message = members_before(raw.substr(open, content_at));
  if (!message) return std::nullopt;
  string_members<2>(*message, {"id", "model"}, {&out.message_id, &out.model});
  // The members written before the message: they must close into an object
  // of their own, which proves that the message is the line's own.
  auto line = members_before(raw.substr(0, message_at));
  if (!line) return std::nullopt;
  std::optional<std::string> type, request;
  string_members<2>(*line, {"type", "requestId"}, {&type, &request});
  if (!out.type) out.type = std::move(type);
  if (!out.request_id) out.request_id = std::move(request);
  if (!out.type) return std::nullopt;
  return out;
}

}  // namespace

UsageReading read_claude_usage(const RunArtifacts& run, const std::vector<Message>&,
                               const std::vector<SubAgent>& sub_agents) {
  UsageReading reading;
  std::unordered_map<std::string, std::size_t> by_response;
  // The last running cost of each session, per model.
  std::vector<std::pair<std::string, std::vector<HarnessModelCost>>> session_costs;
  json::DocParser parser;
  std::string scratch;
  LogReader log_buffer;
  for (const TextArtifact* log : provider_transcripts(run, "claude")) {
    const std::optional<std::string> agent = sub_agent_of(log->path, sub_agents);
    auto read_line_of_log = [&](std::uint64_t number, std::string_view raw, const std::string& window) {
      std::size_t usage_at = text::find_last(raw, "usage\":");
      if (usage_at != std::string_view::npos && (usage_at == 0 || raw[usage_at - 1] != '"')) {
        usage_at = std::string_view::npos;  // a key such as "lastUsage"
      }
      if (usage_at != std::string_view::npos) --usage_at;
      // Claude Code writes a cost-state line's type first.
      if (usage_at == std::string_view::npos && !raw.starts_with("{\"type\":\"cost-state\"")) return;
      std::optional<UsageLine> v;
      if (usage_at != std::string_view::npos) v = read_line_ends(raw, usage_at, parser, scratch);
      if (!v) {
        auto whole = parser.parse(raw, &window);
        if (!whole) return;
        v = read_line(*whole);
      }
      if (v->type == "cost-state") {
        if (!v->session_id || !v->model_costs) return;
        auto known = std::find_if(session_costs.begin(), session_costs.end(),
                                  [&](const auto& s) { return s.first == *v->session_id; });
        if (known != session_costs.end()) {
          known->second = std::move(*v->model_costs);
        } else {
          session_costs.emplace_back(std::move(*v->session_id), std::move(*v->model_costs));
        }
        return;
      }
      if (v->type != "assistant" || !v->usage) return;
      UsageResponse r;
      r.model = v->model.value_or("");
      r.tokens = *v->usage;
      r.source = line_source(log->path, number);
      r.sub_agent_id = agent;
      if (!v->message_id) {
        reading.responses.push_back(std::move(r));
        return;
      }
      std::string key = std::move(*v->message_id);
      if (v->request_id) {
        key.push_back('\x1f');
        key.append(*v->request_id);
      }
      auto [it, fresh] = by_response.emplace(std::move(key), reading.responses.size());
      if (fresh) {
        reading.responses.push_back(std::move(r));
        return;
      }
      // The last line read gives the figures; the response stays where it
      // was first written (a resumed session's copy is not a new turn).
      UsageResponse& first = reading.responses[it->second];
      r.source = std::move(first.source);
      r.sub_agent_id = std::move(first.sub_agent_id);
      first = std::move(r);
    };
    for_each_log_raw_line(run, *log, log_buffer, read_line_of_log);
  }
  for (auto& [id, costs] : session_costs) {
    for (HarnessModelCost& c : costs) reading.model_costs.push_back(std::move(c));
  }
  return reading;
}

}  // namespace tl
