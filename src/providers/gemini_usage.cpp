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

}  // namespace

// The chat being read: its replayed records and session id.
struct GeminiUsageReader::Chat {
  std::string path;
  Replay replay;
  std::optional<std::string> session_id;
  bool first = true;
};

GeminiUsageReader::GeminiUsageReader() = default;
GeminiUsageReader::~GeminiUsageReader() = default;
GeminiUsageReader::GeminiUsageReader(GeminiUsageReader&&) noexcept = default;
GeminiUsageReader& GeminiUsageReader::operator=(GeminiUsageReader&&) noexcept = default;

void GeminiUsageReader::begin_chat(std::string_view path) {
  chat_ = std::make_unique<Chat>();
  chat_->path = std::string(path);
}

void GeminiUsageReader::line(std::uint64_t number, const json::Element* parsed) {
  if (!chat_ || parsed == nullptr || !json::is_object(*parsed)) return;
  Chat& chat = *chat_;
  const bool first_record = chat.first;
  chat.first = false;
  const json::Element v = *parsed;
  if (auto rewind = json::string_member(v, "$rewindTo")) {
    chat.replay.rewind_to(*rewind);
  } else if (auto id = json::string_member(v, "id")) {
    chat.replay.upsert(*id, read_message(v, number));
  } else if (auto set = json::member(v, "$set"); set && json::is_object(*set)) {
    if (auto session = json::string_member(*set, "sessionId")) chat.session_id = std::string(*session);
    if (auto list = json::member(*set, "messages"); list && json::is_array(*list)) {
      chat.replay.clear();
      add_listed(chat.replay, *list, number);
    }
  } else if (auto session = json::string_member(v, "sessionId")) {
    chat.session_id = std::string(*session);
    if (auto list = json::member(v, "messages"); first_record && list) add_listed(chat.replay, *list, number);
  }
}

void GeminiUsageReader::whole_chat(const TextArtifact& text, json::DocParser& parser) {
  if (!gemini_single_object(text, parser).value_or(false)) {
    begin_chat(text.path);
    json::for_each_line(text.text, parser, [&](std::uint64_t number, std::string_view, const json::Element* parsed) {
      line(number, parsed);
    });
    end_chat();
    return;
  }
  // A chat written as one object (up to 0.38): its messages in array order.
  begin_chat(text.path);
  if (auto doc = parser.parse(text.text, &text.text)) {
    chat_->session_id = text::owned(json::string_member(*doc, "sessionId"));
    // Lines are not kept for a chat written whole: its messages are placed by id.
    if (auto list = json::member(*doc, "messages")) add_listed(chat_->replay, *list, 1);
  }
  end_chat();
}

void GeminiUsageReader::end_chat() {
  if (!chat_) return;
  for (const auto& [id, r] : chat_->replay.records()) {
    if (!r.tokens) continue;
    UsageResponse u;
    u.model = r.model.value_or("");
    u.tokens = *r.tokens;
    u.input_includes_cache_read = true;
    u.output_includes_reasoning = false;
    u.source = line_source(chat_->path, r.line);
    u.message_id = *id;
    reading_.responses.push_back(std::move(u));
    chat_of_.push_back(chats_.size());
  }
  chats_.push_back(ChatOwner{std::move(chat_->path), std::move(chat_->session_id)});
  chat_.reset();
}

UsageReading GeminiUsageReader::finish(const std::vector<SubAgent>& sub_agents) {
  // A sub-agent's chat is known by its session id, else by its file's name.
  std::vector<std::optional<std::string>> agents;
  agents.reserve(chats_.size());
  for (const ChatOwner& c : chats_) {
    std::optional<std::string> agent = known_sub_agent(sub_agents, c.session_id.value_or(""));
    if (!agent) agent = known_sub_agent(sub_agents, text::file_stem(c.path));
    agents.push_back(std::move(agent));
  }
  for (std::size_t i = 0; i < reading_.responses.size(); ++i) reading_.responses[i].sub_agent_id = agents[chat_of_[i]];
  return std::move(reading_);
}

}  // namespace tl
