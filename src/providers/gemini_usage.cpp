// Token usage of Gemini CLI chats: the `tokens` {input, output, cached,
// thoughts, tool, total} and `model` of each gemini message, counted as the
// final chat holds it. A JSONL chat is replayed for that: a record replaces
// the earlier one with its id, `$rewindTo` removes a message and everything
// after it, `$set` with a message list replaces the whole list. A resumed
// chat rewrites its history without tokens or model; a rewritten message
// keeps those of its earlier record with the same id.
#include "gemini_usage.hpp"

#include <unordered_map>

#include "../artifacts.hpp"
#include "gemini.hpp"

namespace tl {

namespace {

struct Reading {
  std::optional<TokenCounts> tokens;
  std::optional<std::string> model;
  std::uint64_t line = 0;
};

// A chat's records in the order the CLI keeps them, and what every id read
// so far carried.
class Replay {
 public:
  void upsert(std::string_view id, Reading r) {
    auto found = entries_.find(id);
    if (found == entries_.end()) found = entries_.emplace(std::string(id), Entry{}).first;
    Entry& e = found->second;
    if (r.tokens) {
      e.carried.tokens = r.tokens;
    } else {
      r.tokens = e.carried.tokens;
    }
    if (!r.model) {
      r.model = e.carried.model;
    } else if (e.carried.model != r.model) {
      e.carried.model = r.model;
    }
    if (e.slot != kNone) {
      records_[e.slot].second = std::move(r);
      return;
    }
    e.slot = records_.size();
    records_.emplace_back(&found->first, std::move(r));
  }
  void rewind_to(std::string_view id) {
    auto found = entries_.find(id);
    if (found == entries_.end() || found->second.slot == kNone) {
      clear();
      return;
    }
    const std::size_t from = found->second.slot;
    for (std::size_t k = from; k < records_.size(); ++k) entries_.find(*records_[k].first)->second.slot = kNone;
    records_.resize(from);
  }
  void clear() {
    for (auto& [id, r] : records_) entries_.find(*id)->second.slot = kNone;
    records_.clear();
  }
  // The records in order: id and reading.
  const std::vector<std::pair<const std::string*, Reading>>& records() const { return records_; }

 private:
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  // Every id read so far: what it last carried, and its place in the chat.
  struct Entry {
    Reading carried;
    std::size_t slot = kNone;
  };
  text::TextMap<Entry> entries_;
  std::vector<std::pair<const std::string*, Reading>> records_;
};

Reading read_message(json::Element m, std::uint64_t line) {
  Reading r;
  r.line = line;
  auto members = json::as_object(m);
  if (!members) return r;
  for (auto field : *members) {
    const std::string_view key = field.key;
    if (key == "model") {
      r.model = text::owned(json::as_string(field.value));
    } else if (key == "tokens") {
      auto tokens = json::as_object(field.value);
      if (!tokens) continue;
      TokenCounts t;
      for (auto count : *tokens) {
        const std::string_view k = count.key;
        if (k == "input") {
          t.input = token_count(count.value);
        } else if (k == "output") {
          t.output = token_count(count.value);
        } else if (k == "cached") {
          t.cache_read = token_count(count.value);
        } else if (k == "thoughts") {
          t.reasoning = token_count(count.value);
        }
      }
      r.tokens = t;
    }
  }
  return r;
}

void add_listed(Replay& replay, json::Element list, std::uint64_t line) {
  auto items = json::as_array(list);
  if (!items) return;
  for (json::Element item : *items) {
    if (auto id = json::string_member(item, "id")) replay.upsert(*id, read_message(item, line));
  }
}

// The id of a user record (the CLI writes id, timestamp and type first),
// which carries no tokens: its place in the chat is all that counts, so it is
// not parsed.
std::optional<std::string_view> plain_record_id(std::string_view line) {
  constexpr std::string_view kStart = "{\"id\":\"";
  if (!line.starts_with(kStart)) return std::nullopt;
  if (!text::contains(line.substr(0, 160), "\"type\":\"user\"")) return std::nullopt;
  const std::size_t end = line.find('"', kStart.size());
  if (end == std::string_view::npos) return std::nullopt;
  std::string_view id = line.substr(kStart.size(), end - kStart.size());
  if (id.find('\\') != std::string_view::npos) return std::nullopt;
  return id;
}

// A gemini record is written id, timestamp, type, content, thoughts,
// tokens, model and then its tool calls, most of its bytes. Its id and the
// members from "tokens" to "toolCalls" are parsed alone, as {"id":…,
// "tokens":…,"model":…}. Nothing when the line is not laid out so; the
// caller then parses it whole.
std::optional<json::Element> record_head(std::string_view raw, json::DocParser& parser, std::string& scratch) {
  constexpr std::string_view kStart = "{\"id\":\"";
  if (!raw.starts_with(kStart)) return std::nullopt;
  const std::size_t id_end = raw.find('"', kStart.size());
  if (id_end == std::string_view::npos || raw.substr(0, id_end).find('\\') != std::string_view::npos) {
    return std::nullopt;
  }
  const std::size_t calls = text::find(raw, "toolCalls\":");
  if (calls == std::string_view::npos || calls == 0 || raw[calls - 1] != '"') return std::nullopt;
  const std::size_t tokens = text::find_last(raw.substr(0, calls), "tokens\":");
  if (tokens == std::string_view::npos || tokens <= id_end || raw[tokens - 1] != '"') return std::nullopt;
  std::string_view members = text::trim_end(raw.substr(tokens - 1, calls - tokens));
  if (!members.ends_with(',')) return std::nullopt;
  members.remove_suffix(1);
  scratch.assign(raw.substr(0, id_end + 1));
  scratch.push_back(',');
  scratch.append(members);
  scratch.push_back('}');
  auto v = parser.parse(scratch);
  if (!v || !json::is_object(*v)) return std::nullopt;
  auto counts = json::member(*v, "tokens");
  if (!counts || !json::is_object(*counts)) return std::nullopt;
  return v;
}

struct ChatUsage {
  Replay replay;
  std::optional<std::string> session_id;
};

ChatUsage replay_jsonl(const TextArtifact& log, json::DocParser& parser) {
  ChatUsage chat;
  std::string scratch;
  bool first = true;
  text::LineReader lines(log.text);
  std::string_view raw;
  while (lines.next(raw)) {
    if (auto id = plain_record_id(raw)) {
      first = false;
      chat.replay.upsert(*id, Reading{std::nullopt, std::nullopt, lines.number()});
      continue;
    }
    // Only a $set's session id and message list matter.
    if (raw.starts_with("{\"$set\":") && !text::contains(raw, "messages\":") && !text::contains(raw, "sessionId\":")) {
      first = false;
      continue;
    }
    auto parsed = record_head(raw, parser, scratch);
    if (!parsed) parsed = parser.parse(raw, &log.text);
    if (!parsed || !json::is_object(*parsed)) continue;
    const bool first_record = first;
    first = false;
    const json::Element v = *parsed;
    if (auto rewind = json::string_member(v, "$rewindTo")) {
      chat.replay.rewind_to(*rewind);
    } else if (auto id = json::string_member(v, "id")) {
      chat.replay.upsert(*id, read_message(v, lines.number()));
    } else if (auto set = json::member(v, "$set"); set && json::is_object(*set)) {
      if (auto session = json::string_member(*set, "sessionId")) chat.session_id = std::string(*session);
      if (auto list = json::member(*set, "messages"); list && json::is_array(*list)) {
        chat.replay.clear();
        add_listed(chat.replay, *list, lines.number());
      }
    } else if (auto session = json::string_member(v, "sessionId")) {
      chat.session_id = std::string(*session);
      if (auto list = json::member(v, "messages"); first_record && list) add_listed(chat.replay, *list, lines.number());
    }
  }
  return chat;
}

// A chat written as one object (up to 0.38): its messages in array order.
ChatUsage replay_object(const TextArtifact& log, json::DocParser& parser) {
  ChatUsage chat;
  auto doc = parser.parse(log.text, &log.text);
  if (!doc) return chat;
  chat.session_id = text::owned(json::string_member(*doc, "sessionId"));
  // Lines are not kept for a chat written whole: its messages are placed by id.
  if (auto list = json::member(*doc, "messages")) add_listed(chat.replay, *list, 1);
  return chat;
}

}  // namespace

UsageReading read_gemini_usage(const RunArtifacts& run, const std::vector<Message>&,
                               const std::vector<SubAgent>& sub_agents) {
  UsageReading reading;
  const std::vector<const TextArtifact*> logs = provider_transcripts(run, "gemini");
  std::unordered_map<std::string_view, bool> paths;
  for (const TextArtifact* t : logs) paths.emplace(t->path, true);
  json::DocParser parser;
  LogReader log_buffer;
  for (const TextArtifact* listed : logs) {
    // Resuming a ".json" chat writes it again as ".jsonl" beside it.
    if (text::ascii_lower(listed->path).ends_with(".json") && paths.count(listed->path + "l") != 0) continue;
    const TextArtifact* log = &log_text(run, *listed, log_buffer);
    ChatUsage chat =
        gemini_single_object(*log, parser).value_or(false) ? replay_object(*log, parser) : replay_jsonl(*log, parser);
    std::optional<std::string> agent = known_sub_agent(sub_agents, chat.session_id.value_or(""));
    if (!agent) agent = known_sub_agent(sub_agents, text::file_stem(log->path));
    for (const auto& [id, r] : chat.replay.records()) {
      if (!r.tokens) continue;
      UsageResponse u;
      u.model = r.model.value_or("");
      u.tokens = *r.tokens;
      u.input_includes_cache_read = true;
      u.output_includes_reasoning = false;
      u.source = line_source(log->path, r.line);
      u.message_id = *id;
      u.sub_agent_id = agent;
      reading.responses.push_back(std::move(u));
    }
  }
  return reading;
}

}  // namespace tl
