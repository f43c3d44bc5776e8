// Token usage of OpenCode's store: each assistant message carries `tokens`
// {input, output, reasoning, cache {read, write}}, its own `cost` in dollars,
// `modelID` and `providerID`. A message is counted once by its id, also when
// both the database and the JSON store hold it (the database is read first,
// as by the parse). A child session's messages count for the sub-agent of the
// session's id.
#include "opencode_usage.hpp"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "../artifacts.hpp"
#include "opencode_store.hpp"

namespace tl {

namespace {

// The columns the store's database rule reads (opencode_store.cpp).
constexpr std::size_t kSessionTable = 0, kMessageTable = 1;
constexpr std::size_t kSessionIdColumn = 0, kSessionParentColumn = 1;
constexpr std::size_t kMessageIdColumn = 0, kMessageSessionColumn = 1, kMessageCreatedColumn = 2,
                      kMessageDataColumn = 3;

const std::string* text_of(const SqliteValue& v) { return std::get_if<std::string>(&v); }

struct StoredMessage {
  std::string id;
  std::string session;
  std::int64_t created = 0;
  std::optional<UsageResponse> usage;  // assistant messages with tokens
};

std::optional<UsageResponse> read_usage(json::Element m) {
  if (json::string_member(m, "role") != "assistant") return std::nullopt;
  auto tokens = json::member(m, "tokens");
  if (!tokens || !json::is_object(*tokens)) return std::nullopt;
  UsageResponse r;
  r.model = std::string(json::string_member(m, "modelID").value_or(""));
  r.provider = text::owned(json::string_member(m, "providerID"));
  r.tokens.input = token_count(json::member(*tokens, "input"));
  r.tokens.output = token_count(json::member(*tokens, "output"));
  r.tokens.reasoning = token_count(json::member(*tokens, "reasoning"));
  r.tokens.cache_read = token_count(json::pointer(*tokens, "/cache/read"));
  r.tokens.cache_write = token_count(json::pointer(*tokens, "/cache/write"));
  r.output_includes_reasoning = false;
  r.harness_cost = dollars(json::member(m, "cost"));
  return r;
}

}  // namespace

UsageReading read_opencode_usage(const RunArtifacts& run, const std::vector<Message>& messages,
                                 const std::vector<SubAgent>& sub_agents) {
  std::vector<StoredMessage> stored;
  std::unordered_set<std::string> seen;
  std::unordered_map<std::string, std::string> parent_of;
  json::DocParser parser;
  for (const DatabaseArtifact& db : run.databases) {
    if (!is_opencode_database(db.path) || db.tables.size() <= kMessageTable) continue;
    const SqliteRows& sessions = db.tables[kSessionTable];
    for (std::size_t r = 0; r < sessions.size(); ++r) {
      const std::string* id = text_of(sessions.at(r, kSessionIdColumn));
      const std::string* parent = text_of(sessions.at(r, kSessionParentColumn));
      if (id != nullptr && parent != nullptr && !parent->empty()) parent_of.emplace(*id, *parent);
    }
    const SqliteRows& rows = db.tables[kMessageTable];
    for (std::size_t r = 0; r < rows.size(); ++r) {
      const std::string* id = text_of(rows.at(r, kMessageIdColumn));
      const std::string* session = text_of(rows.at(r, kMessageSessionColumn));
      const std::string* data = text_of(rows.at(r, kMessageDataColumn));
      if (id == nullptr || id->empty() || session == nullptr || data == nullptr || !seen.insert(*id).second) continue;
      StoredMessage m{*id, *session, 0, std::nullopt};
      if (const auto* created = std::get_if<std::int64_t>(&rows.at(r, kMessageCreatedColumn))) m.created = *created;
      if (auto value = parser.parse(*data); value && json::is_object(*value)) m.usage = read_usage(*value);
      if (m.usage) m.usage->source = db.path + "/" + *id;
      stored.push_back(std::move(m));
    }
  }
  LogReader log_buffer;
  for (const TextArtifact* listed : provider_transcripts(run, "opencode")) {
    auto where = opencode_store_path(listed->path);
    if (!where || (where->kind != OpencodeStoreKind::Message && where->kind != OpencodeStoreKind::Session)) continue;
    const TextArtifact* t = &log_text(run, *listed, log_buffer);
    auto value = parser.parse(t->text, &t->text);
    if (!value || !json::is_object(*value)) continue;
    if (where->kind == OpencodeStoreKind::Session) {
      auto id = json::string_member(*value, "id");
      auto parent = json::string_member(*value, "parentID");
      if (parent && !parent->empty()) parent_of.emplace(std::string(id.value_or(where->name)), std::string(*parent));
      continue;
    }
    std::string id(json::string_member(*value, "id").value_or(where->name));
    if (id.empty() || !seen.insert(id).second) continue;
    StoredMessage m{id, std::string(json::string_member(*value, "sessionID").value_or(where->group)), 0,
                    read_usage(*value)};
    if (auto created = json::pointer(*value, "/time/created"); created && created->is_int64()) {
      m.created = created->get<std::int64_t>().value();
    }
    if (m.usage) m.usage->source = t->path + ":1";
    stored.push_back(std::move(m));
  }
  // A response is placed in its turn through the nearest message of its
  // session, at or before it, that the parse kept.
  std::unordered_set<std::string_view> kept;
  for (const Message& m : messages) {
    if (m.id) kept.insert(*m.id);
  }
  std::stable_sort(stored.begin(), stored.end(), [](const StoredMessage& a, const StoredMessage& b) {
    if (a.session != b.session) return a.session < b.session;
    if (a.created != b.created) return a.created < b.created;
    return a.id < b.id;
  });
  std::vector<std::pair<std::string, UsageResponse>> placed;  // by message id, for reading order
  std::optional<std::string> anchor;
  for (std::size_t i = 0; i < stored.size(); ++i) {
    StoredMessage& m = stored[i];
    if (i == 0 || stored[i - 1].session != m.session) anchor.reset();
    if (kept.count(m.id) != 0) anchor = m.id;
    if (!m.usage) continue;
    m.usage->message_id = anchor;
    if (auto parent = parent_of.find(m.session); parent != parent_of.end()) {
      m.usage->sub_agent_id = known_sub_agent(sub_agents, m.session);
    }
    placed.emplace_back(m.id, std::move(*m.usage));
  }
  // Responses in the order of their ids, which sort in creation order.
  std::stable_sort(placed.begin(), placed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  UsageReading reading;
  for (auto& [id, r] : placed) reading.responses.push_back(std::move(r));
  return reading;
}

}  // namespace tl
