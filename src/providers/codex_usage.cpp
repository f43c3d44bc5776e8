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

namespace tl {

namespace {

// The running figures of one total; absent members stay absent.
TokenCounts read_totals(json::Element total) {
  TokenCounts out;
  out.input = token_count(json::member(total, "input_tokens"));
  out.cache_read = token_count(json::member(total, "cached_input_tokens"));
  out.cache_write = token_count(json::member(total, "cache_write_input_tokens"));
  out.output = token_count(json::member(total, "output_tokens"));
  out.reasoning = token_count(json::member(total, "reasoning_output_tokens"));
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
bool is_new(const TokenCounts& now, const TokenCounts& before) {
  return grew(now.input, before.input) || grew(now.output, before.output) || grew(now.cache_read, before.cache_read) ||
         grew(now.cache_write, before.cache_write) || grew(now.reasoning, before.reasoning);
}

}  // namespace

void CodexUsageReader::record(std::string_view path, std::uint64_t number, const CodexRecord& record) {
  if (path != path_) {
    // Counts above any session_meta belong to the file itself.
    path_ = path;
    session_key_ = "file:" + std::string(path);
    model_.reset();
    provider_.reset();
  }
  if (!record.type || !record.payload) return;
  const std::string_view type = *record.type;
  const json::Element payload = *record.payload;
  if (type == "session_meta") {
    if (auto id = json::string_member(payload, "id")) {
      session_key_ = "id:" + std::string(*id);
      Session& s = session(session_key_);
      // A sub-agent's rollout counts for the sub-agent of the same id.
      s.spawned = s.spawned || json::pointer(payload, "/source/subagent").has_value();
    }
    provider_ = text::owned(json::string_member(payload, "model_provider"));
    return;
  }
  if (type == "turn_context") {
    if (auto m = json::string_member(payload, "model")) model_ = std::string(*m);
    return;
  }
  if (type != "event_msg" || record.payload_type != "token_count") return;
  auto total = json::pointer(payload, "/info/total_token_usage");
  if (!total || !json::is_object(*total)) return;
  const TokenCounts now = read_totals(*total);
  Session& s = session(session_key_);
  if (s.last && !is_new(now, *s.last)) return;
  UsageResponse r;
  r.model = model_.value_or("");
  r.provider = provider_;
  r.tokens.input = increase(now.input, s.last ? s.last->input : std::nullopt);
  r.tokens.output = increase(now.output, s.last ? s.last->output : std::nullopt);
  r.tokens.cache_read = increase(now.cache_read, s.last ? s.last->cache_read : std::nullopt);
  r.tokens.cache_write = increase(now.cache_write, s.last ? s.last->cache_write : std::nullopt);
  r.tokens.reasoning = increase(now.reasoning, s.last ? s.last->reasoning : std::nullopt);
  r.input_includes_cache_read = true;
  r.output_includes_reasoning = true;
  r.source = line_source(path, number);
  s.last = now;
  reading_.responses.push_back(std::move(r));
  owners_.push_back(Owner{s.index, s.spawned});
}

CodexUsageReader::Session& CodexUsageReader::session(const std::string& key) {
  auto [it, fresh] = sessions_.try_emplace(key);
  if (fresh) {
    it->second.index = keys_.size();
    keys_.push_back(key);
  }
  return it->second;
}

UsageReading CodexUsageReader::finish(const std::vector<SubAgent>& sub_agents) {
  // A sub-agent's rollout is its own session, of the sub-agent's id.
  std::vector<std::optional<std::string>> agents;
  agents.reserve(keys_.size());
  for (const std::string& key : keys_) {
    agents.push_back(key.starts_with("id:") ? known_sub_agent(sub_agents, std::string_view(key).substr(3))
                                            : std::nullopt);
  }
  bool unlisted = false;
  for (std::size_t i = 0; i < reading_.responses.size(); ++i) {
    const Owner& owner = owners_[i];
    reading_.responses[i].sub_agent_id = agents[owner.session];
    unlisted = unlisted || (owner.spawned && !agents[owner.session]);
  }
  if (unlisted) {
    reading_.notes.emplace_back(
        "A sub-agent's session has usage but no sub-agent of its own in the state: it counts in the totals, models "
        "and turns only.");
  }
  return std::move(reading_);
}

}  // namespace tl
