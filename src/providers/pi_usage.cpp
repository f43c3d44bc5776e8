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

namespace tl {

namespace {

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

}  // namespace

void PiUsageReader::line(std::string_view path, std::uint64_t number, json::Element v) {
  if (logs_.empty() || logs_.back().path != path) logs_.push_back(Log{std::string(path), std::nullopt});
  Log& log = logs_.back();
  auto type = json::string_member(v, "type");
  if (type == "session") {
    // A sub-agent's session names its parent session.
    if (json::member(v, "parentSession")) log.spawned_id = std::string(json::string_member(v, "id").value_or(""));
    return;
  }
  if (type != "message") return;
  auto message = json::member(v, "message");
  if (!message) return;
  auto role = json::string_member(*message, "role");
  if (role == "toolResult") {
    if (auto details = json::member(*message, "details")) details_usage_ = details_usage_ || holds_usage(*details, 0);
    return;
  }
  auto usage = json::member(*message, "usage");
  if (role != "assistant" || !usage || !json::is_object(*usage)) return;
  if (auto id = json::string_member(v, "id")) {
    if (!seen_.insert(log.path + '\x1f' + std::string(*id)).second) return;
  }
  UsageResponse r;
  r.model = std::string(json::string_member(*message, "model").value_or(""));
  r.provider = text::owned(json::string_member(*message, "provider"));
  r.tokens.input = token_count(json::member(*usage, "input"));
  r.tokens.output = token_count(json::member(*usage, "output"));
  r.tokens.cache_read = token_count(json::member(*usage, "cacheRead"));
  r.tokens.cache_write = token_count(json::member(*usage, "cacheWrite"));
  r.harness_cost = dollars(json::pointer(*usage, "/cost/total"));
  r.source = line_source(path, number);
  reading_.responses.push_back(std::move(r));
  owners_.push_back(Owner{logs_.size() - 1, log.spawned_id});
}

UsageReading PiUsageReader::finish(const std::vector<SubAgent>& sub_agents) {
  bool unlisted = false;
  for (std::size_t i = 0; i < reading_.responses.size(); ++i) {
    const Owner& owner = owners_[i];
    if (!owner.spawned_id) continue;
    // A sub-agent's session is known by its id, else by its file's name.
    std::optional<std::string> agent = known_sub_agent(sub_agents, *owner.spawned_id);
    if (!agent) agent = known_sub_agent(sub_agents, text::file_stem(logs_[owner.log].path));
    unlisted = unlisted || !agent;
    reading_.responses[i].sub_agent_id = std::move(agent);
  }
  if (unlisted) {
    reading_.notes.emplace_back(
        "A sub-agent's session has usage but no sub-agent of its own in the state: it counts in the totals, models "
        "and turns only.");
  }
  if (details_usage_) {
    reading_.notes.emplace_back(
        "Usage reported inside a tool result's details (a sub-agent run without a session file of its own) is not "
        "counted.");
  }
  return std::move(reading_);
}

}  // namespace tl
