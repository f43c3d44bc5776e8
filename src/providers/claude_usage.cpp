// Token usage of Claude Code transcripts. Claude Code writes one line per
// content block or stream snapshot of a response, each carrying the same
// message id and the same usage, and a resumed session copies earlier lines
// into its new file: a response is therefore counted once per message id
// (with the request id where present), the last line read giving its
// figures and the first its place. From
// 2.1.3xx on, `cost-state` lines carry the session's own running cost.
#include "claude_usage.hpp"

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

TokenCounts claude_token_counts(json::Element usage) {
  TokenCounts t;
  t.input = token_count(json::member(usage, "input_tokens"));
  t.output = token_count(json::member(usage, "output_tokens"));
  t.cache_read = token_count(json::member(usage, "cache_read_input_tokens"));
  t.cache_write = token_count(json::member(usage, "cache_creation_input_tokens"));
  t.cache_write_1h = token_count(json::pointer(usage, "/cache_creation/ephemeral_1h_input_tokens"));
  t.reasoning = token_count(json::pointer(usage, "/output_tokens_details/thinking_tokens"));
  return t;
}

UsageReading read_claude_usage(const RunArtifacts& run, const std::vector<Message>&,
                               const std::vector<SubAgent>& sub_agents) {
  UsageReading reading;
  std::unordered_map<std::string, std::size_t> by_response;
  // The last running cost of each session, per model.
  std::vector<std::pair<std::string, std::vector<HarnessModelCost>>> session_costs;
  json::DocParser parser;
  for (const TextArtifact* log : provider_transcripts(run, "claude")) {
    const std::optional<std::string> agent = sub_agent_of(log->path, sub_agents);
    for_each_marked_line(*log, parser, {"\"usage\"", "\"cost-state\""}, [&](std::uint64_t line, json::Element v) {
      auto type = json::string_member(v, "type");
      if (type == "cost-state") {
        auto session = json::string_member(v, "sessionId");
        auto models = json::member(v, "modelUsage");
        auto object = models ? json::as_object(*models) : std::nullopt;
        if (!session || !object) return;
        std::vector<HarnessModelCost> costs;
        for (auto field : *object) {
          if (auto cost = dollars(json::member(field.value, "costUSD"))) {
            costs.push_back(HarnessModelCost{std::string(field.key), *cost});
          }
        }
        for (auto& [id, list] : session_costs) {
          if (id == *session) {
            list = std::move(costs);
            return;
          }
        }
        session_costs.emplace_back(std::string(*session), std::move(costs));
        return;
      }
      if (type != "assistant") return;
      auto usage = json::pointer(v, "/message/usage");
      if (!usage || !json::is_object(*usage)) return;
      UsageResponse r;
      if (auto model = json::string_at(v, "/message/model")) r.model = std::string(*model);
      r.tokens = claude_token_counts(*usage);
      r.source = line_source(log->path, line);
      r.sub_agent_id = agent;
      auto id = json::string_at(v, "/message/id");
      if (!id) {
        reading.responses.push_back(std::move(r));
        return;
      }
      std::string key(*id);
      if (auto request = json::string_member(v, "requestId")) {
        key.push_back('\x1f');
        key.append(*request);
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
    });
  }
  for (auto& [id, costs] : session_costs) {
    for (HarnessModelCost& c : costs) reading.model_costs.push_back(std::move(c));
  }
  return reading;
}

}  // namespace tl
