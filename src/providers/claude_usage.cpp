// Token usage of Claude Code transcripts. Claude Code writes one line per
// content block or stream snapshot of a response, each carrying the same
// message id and the same usage, and a resumed session copies earlier lines
// into its new file: a response is therefore counted once per message id
// (with the request id where present), the last line read giving its
// figures and the first its place. From
// 2.1.3xx on, `cost-state` lines carry the session's own running cost.
#include "claude_usage.hpp"

#include <algorithm>
#include <unordered_map>

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

// The members of a whole parsed line, beside those its head holds.
UsageLine read_line(const ClaudeLine& line) {
  UsageLine out;
  auto text_of = [](const std::optional<json::Element>& e) {
    return e ? text::owned(json::as_string(*e)) : std::nullopt;
  };
  std::optional<json::Element> request, model_usage, id, model, usage;
  json::read_fields(line.element, {{"requestId", &request}, {"modelUsage", &model_usage}});
  if (line.message) json::read_fields(*line.message, {{"id", &id}, {"model", &model}, {"usage", &usage}});
  out.type = text_of(line.type);
  out.request_id = text_of(request);
  out.session_id = text_of(line.session_id);
  out.message_id = text_of(id);
  out.model = text_of(model);
  if (usage && json::is_object(*usage)) out.usage = token_counts(*usage);
  if (model_usage) {
    if (auto object = json::as_object(*model_usage)) {
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

}  // namespace

void ClaudeUsageReader::line(std::string_view path, std::uint64_t number, const ClaudeLine& line) {
  // Only responses and the running cost carry usage.
  const std::optional<std::string_view> type = line.type ? json::as_string(*line.type) : std::nullopt;
  if (type != "assistant" && type != "cost-state") return;
  UsageLine u = read_line(line);
  if (u.type == "cost-state") {
    if (!u.session_id || !u.model_costs) return;
    auto known = std::find_if(session_costs_.begin(), session_costs_.end(),
                              [&](const auto& s) { return s.first == *u.session_id; });
    if (known != session_costs_.end()) {
      known->second = std::move(*u.model_costs);
    } else {
      session_costs_.emplace_back(std::move(*u.session_id), std::move(*u.model_costs));
    }
    return;
  }
  if (!u.usage) return;
  if (logs_.empty() || logs_.back() != path) logs_.emplace_back(path);
  UsageResponse r;
  r.model = u.model.value_or("");
  r.tokens = *u.usage;
  r.source = line_source(path, number);
  if (!u.message_id) {
    add(std::move(r));
    return;
  }
  std::string key = std::move(*u.message_id);
  if (u.request_id) {
    key.push_back('\x1f');
    key.append(*u.request_id);
  }
  auto [it, fresh] = by_response_.emplace(std::move(key), reading_.responses.size());
  if (fresh) {
    add(std::move(r));
    return;
  }
  // The last line read gives the figures; the response stays where it was
  // first written, with the log it was first written in (a resumed session's
  // copy is not a new turn).
  UsageResponse& first = reading_.responses[it->second];
  r.source = std::move(first.source);
  first = std::move(r);
}

void ClaudeUsageReader::add(UsageResponse r) {
  reading_.responses.push_back(std::move(r));
  log_of_.push_back(logs_.size() - 1);
}

UsageReading ClaudeUsageReader::finish(const std::vector<SubAgent>& sub_agents) {
  std::vector<std::optional<std::string>> agents;
  agents.reserve(logs_.size());
  for (const std::string& path : logs_) agents.push_back(sub_agent_of(path, sub_agents));
  for (std::size_t i = 0; i < reading_.responses.size(); ++i) reading_.responses[i].sub_agent_id = agents[log_of_[i]];
  for (auto& [id, costs] : session_costs_) {
    for (HarnessModelCost& c : costs) reading_.model_costs.push_back(std::move(c));
  }
  return std::move(reading_);
}

}  // namespace tl
