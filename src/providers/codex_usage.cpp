// Token usage of Codex rollouts. Codex writes running totals
// (`token_count` events, `info.total_token_usage`), not increments: a
// session's usage is its last total, and each new total is one response
// whose figures are the increase over the session's previous total. A
// session is keyed by its `session_meta.payload.id` (a sub-agent's rollout
// is its own session; its `session_id` names the parent), a count belongs
// to the latest `session_meta` above it, and its model is that of the latest
// `turn_context` above it. The same total written twice, or an
// earlier total copied into a resumed rollout, changes nothing.
#include "codex_usage.hpp"

#include <unordered_map>

#include "../artifacts.hpp"

namespace tl {

namespace {

// The running figures of one total; absent members stay absent.
struct Totals {
  TokenCounts t;
};

Totals read_totals(json::Element total) {
  Totals out;
  out.t.input = token_count(json::member(total, "input_tokens"));
  out.t.cache_read = token_count(json::member(total, "cached_input_tokens"));
  out.t.cache_write = token_count(json::member(total, "cache_write_input_tokens"));
  out.t.output = token_count(json::member(total, "output_tokens"));
  out.t.reasoning = token_count(json::member(total, "reasoning_output_tokens"));
  return out;
}

// The increase of one figure over the session's previous total.
std::optional<std::uint64_t> increase(const std::optional<std::uint64_t>& now,
                                      const std::optional<std::uint64_t>& before) {
  if (!now) return std::nullopt;
  if (!before) return now;
  return *now > *before ? *now - *before : 0;
}

bool grew(const std::optional<std::uint64_t>& now, const std::optional<std::uint64_t>& before) {
  return now && (!before || *now > *before);
}

// True when some figure went up: a total that is no larger than the
// previous one (written twice, or an earlier total copied into a resumed
// rollout) is no new response.
bool is_new(const Totals& now, const Totals& before) {
  return grew(now.t.input, before.t.input) || grew(now.t.output, before.t.output) ||
         grew(now.t.cache_read, before.t.cache_read) || grew(now.t.cache_write, before.t.cache_write) ||
         grew(now.t.reasoning, before.t.reasoning);
}

// Codex writes a line's "type" and its payload's "type" first: the lines
// that matter name their kind within their first bytes.
bool wanted(std::string_view raw) {
  const std::string_view head = raw.substr(0, 256);
  return text::contains(head, "\"token_count\"") || text::contains(head, "\"turn_context\"") ||
         text::contains(head, "\"session_meta\"");
}

struct Session {
  std::optional<Totals> last;
  std::optional<std::string> sub_agent;
  bool spawned = false;  // a sub-agent's rollout (its source names a sub-agent)
};

}  // namespace

UsageReading read_codex_usage(const RunArtifacts& run, const std::vector<Message>&,
                              const std::vector<SubAgent>& sub_agents) {
  UsageReading reading;
  std::unordered_map<std::string, Session> sessions;
  bool unlisted = false;
  json::DocParser parser;
  LogReader log_buffer;
  for (const TextArtifact* log : provider_transcripts(run, "codex")) {
    // Counts above any session_meta belong to the file itself.
    std::string session_key = "file:" + log->path;
    std::optional<std::string> model;
    std::optional<std::string> provider;
    for_each_wanted_line(run, *log, log_buffer, parser, wanted, [&](std::uint64_t line, json::Element v) {
      auto type = json::string_member(v, "type");
      auto payload = json::member(v, "payload");
      if (!type || !payload) return;
      if (type == "session_meta") {
        if (auto id = json::string_member(*payload, "id")) {
          session_key = "id:" + std::string(*id);
          Session& s = sessions[session_key];
          // A sub-agent's rollout counts for the sub-agent of the same id.
          if (!s.sub_agent) s.sub_agent = known_sub_agent(sub_agents, *id);
          s.spawned = s.spawned || json::pointer(*payload, "/source/subagent").has_value();
        }
        provider = text::owned(json::string_member(*payload, "model_provider"));
        return;
      }
      if (type == "turn_context") {
        if (auto m = json::string_member(*payload, "model")) model = std::string(*m);
        return;
      }
      if (type != "event_msg" || json::string_member(*payload, "type") != "token_count") return;
      auto total = json::pointer(*payload, "/info/total_token_usage");
      if (!total || !json::is_object(*total)) return;
      const Totals now = read_totals(*total);
      Session& s = sessions[session_key];
      if (s.last && !is_new(now, *s.last)) return;
      UsageResponse r;
      r.model = model.value_or("");
      r.provider = provider;
      r.tokens.input = increase(now.t.input, s.last ? s.last->t.input : std::nullopt);
      r.tokens.output = increase(now.t.output, s.last ? s.last->t.output : std::nullopt);
      r.tokens.cache_read = increase(now.t.cache_read, s.last ? s.last->t.cache_read : std::nullopt);
      r.tokens.cache_write = increase(now.t.cache_write, s.last ? s.last->t.cache_write : std::nullopt);
      r.tokens.reasoning = increase(now.t.reasoning, s.last ? s.last->t.reasoning : std::nullopt);
      r.input_includes_cache_read = true;
      r.output_includes_reasoning = true;
      r.source = line_source(log->path, line);
      r.sub_agent_id = s.sub_agent;
      unlisted = unlisted || (s.spawned && !s.sub_agent);
      s.last = now;
      reading.responses.push_back(std::move(r));
    });
  }
  if (unlisted) {
    reading.notes.emplace_back(
        "A sub-agent's session has usage but no sub-agent of its own in the state: it counts in the totals, models "
        "and turns only.");
  }
  return reading;
}

}  // namespace tl
