// Token usage of pi and omp sessions: each assistant message carries
// `usage` {input, output, cacheRead, cacheWrite, totalTokens, cost {…,
// total}} with its `model` and `provider`; the cost is the harness's own.
// A session entry is counted once by its id. A sub-agent with a session file
// of its own (omp's task tool: <session>/<Name>.jsonl) counts for that
// sub-agent; pi's example sub-agent extension keeps no session file and
// reports the sub-agent's usage only inside the launching tool result's
// details, which is not counted and is said so in the notes.
#include "pi_usage.hpp"

#include <unordered_set>

#include "../artifacts.hpp"

namespace tl {

namespace {

// The session header, written with its type first, and the lines with usage.
bool wanted(std::string_view raw) {
  return raw.starts_with("{\"type\":\"session\"") || text::contains(raw, "\"usage\"");
}

// True when a tool result's details hold a usage object somewhere below.
bool holds_usage(json::Element e, int depth) {
  if (depth > 8) return false;
  if (auto object = json::as_object(e)) {
    for (auto field : *object) {
      if (field.key == "usage" && json::is_object(field.value)) return true;
      if (holds_usage(field.value, depth + 1)) return true;
    }
  } else if (auto array = json::as_array(e)) {
    for (json::Element item : *array) {
      if (holds_usage(item, depth + 1)) return true;
    }
  }
  return false;
}

UsageReading read_usage(const RunArtifacts& run, std::string_view family, const std::vector<SubAgent>& sub_agents) {
  UsageReading reading;
  std::unordered_set<std::string> seen;
  bool details_usage = false;
  bool unlisted = false;
  json::DocParser parser;
  LogReader log_buffer;
  for (const TextArtifact* log : provider_transcripts(run, family)) {
    std::optional<std::string> agent;
    bool spawned = false;
    for_each_wanted_line(run, *log, log_buffer, parser, wanted, [&](std::uint64_t line, json::Element v) {
      auto type = json::string_member(v, "type");
      if (type == "session") {
        // A sub-agent's session names its parent session.
        if (json::member(v, "parentSession")) {
          spawned = true;
          agent = known_sub_agent(sub_agents, json::string_member(v, "id").value_or(""));
          if (!agent) agent = known_sub_agent(sub_agents, text::file_stem(log->path));
        }
        return;
      }
      if (type != "message") return;
      auto message = json::member(v, "message");
      if (!message) return;
      auto role = json::string_member(*message, "role");
      if (role == "toolResult") {
        if (auto details = json::member(*message, "details")) details_usage = details_usage || holds_usage(*details, 0);
        return;
      }
      auto usage = json::member(*message, "usage");
      if (role != "assistant" || !usage || !json::is_object(*usage)) return;
      if (auto id = json::string_member(v, "id")) {
        if (!seen.insert(log->path + '\x1f' + std::string(*id)).second) return;
      }
      UsageResponse r;
      r.model = std::string(json::string_member(*message, "model").value_or(""));
      r.provider = text::owned(json::string_member(*message, "provider"));
      r.tokens.input = token_count(json::member(*usage, "input"));
      r.tokens.output = token_count(json::member(*usage, "output"));
      r.tokens.cache_read = token_count(json::member(*usage, "cacheRead"));
      r.tokens.cache_write = token_count(json::member(*usage, "cacheWrite"));
      r.harness_cost = dollars(json::pointer(*usage, "/cost/total"));
      r.source = line_source(log->path, line);
      r.sub_agent_id = agent;
      unlisted = unlisted || (spawned && !agent);
      reading.responses.push_back(std::move(r));
    });
  }
  if (unlisted) {
    reading.notes.emplace_back(
        "A sub-agent's session has usage but no sub-agent of its own in the state: it counts in the totals, models "
        "and turns only.");
  }
  if (details_usage) {
    reading.notes.emplace_back(
        "Usage reported inside a tool result's details (a sub-agent run without a session file of its own) is not "
        "counted.");
  }
  return reading;
}

}  // namespace

UsageReading read_pi_usage(const RunArtifacts& run, const std::vector<Message>&,
                           const std::vector<SubAgent>& sub_agents) {
  return read_usage(run, "pi", sub_agents);
}

UsageReading read_omp_usage(const RunArtifacts& run, const std::vector<Message>&,
                            const std::vector<SubAgent>& sub_agents) {
  return read_usage(run, "omp", sub_agents);
}

}  // namespace tl
