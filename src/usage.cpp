#include "usage.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <unordered_map>

#include "classify/detail.hpp"
#include "classify/transcript_text.hpp"
#include "simd.hpp"

namespace tl {

namespace {

constexpr std::uint64_t kMaxCount = std::uint64_t{1} << 53;
constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

std::uint64_t add_saturated(std::uint64_t a, std::uint64_t b) { return a > kMax - b ? kMax : a + b; }

void add_to(std::optional<std::uint64_t>& sum, const std::optional<std::uint64_t>& v) {
  if (v) sum = add_saturated(sum.value_or(0), *v);
}

// A price per million tokens as picodollars per token; nothing for a
// negative, non-finite or absurd price.
std::optional<std::uint64_t> per_token(std::optional<json::Element> e, bool& bad) {
  if (!e) return std::nullopt;
  double v = 0;
  if (e->is_double() || e->is_int64() || e->is_uint64()) {
    v = e->get<double>().value();
  } else {
    bad = true;
    return std::nullopt;
  }
  if (!std::isfinite(v) || v < 0 || v > 1e6) {
    bad = true;
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(std::llround(v * 1e6));
}

std::optional<std::vector<std::string>> string_list(json::Element e, std::string_view key) {
  std::vector<std::string> out;
  auto m = json::member(e, key);
  if (!m) return out;
  auto arr = json::as_array(*m);
  if (!arr) return std::nullopt;
  for (json::Element item : *arr) {
    auto s = json::as_string(item);
    if (!s) return std::nullopt;
    out.emplace_back(*s);
  }
  return out;
}

bool is_date(std::string_view s) {
  if (s.size() != 10 || s[4] != '-' || s[7] != '-') return false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (i != 4 && i != 7 && (s[i] < '0' || s[i] > '9')) return false;
  }
  return true;
}

std::optional<PriceTable> fail(std::string& error, std::string message) {
  error = std::move(message);
  return std::nullopt;
}

// The cost of `tokens` at a per-token price added to `sum`, saturating.
void add_cost(std::uint64_t& sum, std::uint64_t tokens, std::uint64_t price) {
  const std::uint64_t cost = tokens != 0 && price > kMax / tokens ? kMax : tokens * price;
  sum = add_saturated(sum, cost);
}

}  // namespace

std::optional<PriceTable> parse_price_table(std::string_view text, std::string& error) {
  std::string owned(text);
  json::DocParser parser;
  auto doc = parser.parse(owned);
  if (!doc || !json::is_object(*doc)) return fail(error, "not one JSON object");
  PriceTable table;
  auto name = json::string_member(*doc, "name");
  auto date = json::string_member(*doc, "date");
  auto source = json::string_member(*doc, "source");
  if (!name || name->empty()) return fail(error, "no \"name\"");
  if (!date || !is_date(*date)) return fail(error, "no \"date\" of the form YYYY-MM-DD");
  table.info = {std::string(*name), std::string(*date), source ? std::string(*source) : std::string()};
  auto models = json::member(*doc, "models");
  auto list = models ? json::as_array(*models) : std::nullopt;
  if (!list) return fail(error, "no \"models\" list");
  for (json::Element m : *list) {
    const std::string at = "model " + std::to_string(table.models.size() + 1);
    auto model = json::string_member(m, "model");
    if (!json::is_object(m) || !model || model->empty()) return fail(error, at + " has no \"model\"");
    ModelPrice p;
    p.model = std::string(*model);
    if (auto provider = json::string_member(m, "provider")) p.provider = std::string(*provider);
    auto equals = string_list(m, "equals");
    auto starts = string_list(m, "startsWith");
    if (!equals || !starts) return fail(error, at + " has names that are not a list of strings");
    p.equals = std::move(*equals);
    p.starts_with = std::move(*starts);
    bool bad = false;
    p.input = per_token(json::member(m, "inputPerMTok"), bad);
    p.output = per_token(json::member(m, "outputPerMTok"), bad);
    p.cache_read = per_token(json::member(m, "cacheReadPerMTok"), bad);
    p.cache_write = per_token(json::member(m, "cacheWritePerMTok"), bad);
    p.cache_write_1h = per_token(json::member(m, "cacheWrite1hPerMTok"), bad);
    if (bad) return fail(error, at + " has a price that is not a non-negative number");
    if (!p.input || !p.output) return fail(error, at + " lacks \"inputPerMTok\" or \"outputPerMTok\"");
    table.models.push_back(std::move(p));
  }
  return table;
}

std::optional<PriceTable> load_price_file(const std::string& path, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return fail(error, "cannot be read");
  std::string text;
  char buf[65536];
  while (in.read(buf, sizeof buf) || in.gcount() > 0) {
    text.append(buf, static_cast<std::size_t>(in.gcount()));
    if (text.size() > (std::size_t{16} << 20)) return fail(error, "larger than 16 MiB");
  }
  if (in.bad()) return fail(error, "cannot be read");
  return parse_price_table(text, error);
}

extern const char kBundledPrices[];  // generated from data/prices.json

const PriceTable& bundled_price_table() {
  static const PriceTable table = [] {
    std::string error;
    auto t = parse_price_table(kBundledPrices, error);
    return t ? std::move(*t) : PriceTable{};
  }();
  return table;
}

const ModelPrice* find_price(const PriceTable& table, std::string_view model) {
  auto lookup = [&](std::string_view name) -> const ModelPrice* {
    for (const ModelPrice& p : table.models) {
      if (p.model == name) return &p;
      for (const std::string& e : p.equals) {
        if (e == name) return &p;
      }
    }
    const ModelPrice* best = nullptr;
    std::size_t best_len = 0;
    for (const ModelPrice& p : table.models) {
      for (const std::string& s : p.starts_with) {
        if (s.size() > best_len && name.starts_with(s)) {
          best = &p;
          best_len = s.size();
        }
      }
    }
    return best;
  };
  if (const ModelPrice* p = lookup(model)) return p;
  if (std::size_t slash = model.rfind('/'); slash != std::string_view::npos) return lookup(model.substr(slash + 1));
  return nullptr;
}

std::optional<std::uint64_t> token_count(std::optional<json::Element> e) {
  if (!e) return std::nullopt;
  if (e->is_uint64()) {
    std::uint64_t v = e->get<std::uint64_t>().value();
    return v <= kMaxCount ? std::optional(v) : std::nullopt;
  }
  if (e->is_int64()) {
    std::int64_t v = e->get<std::int64_t>().value();
    if (v < 0) return std::nullopt;
    return static_cast<std::uint64_t>(v) <= kMaxCount ? std::optional(static_cast<std::uint64_t>(v)) : std::nullopt;
  }
  return std::nullopt;
}

std::optional<std::uint64_t> dollars(std::optional<json::Element> e) {
  if (!e || !(e->is_double() || e->is_int64() || e->is_uint64())) return std::nullopt;
  double v = e->get<double>().value();
  if (!std::isfinite(v) || v < 0 || v >= 1e6) return std::nullopt;
  return static_cast<std::uint64_t>(std::llround(v * 1e12));
}

std::string line_source(std::string_view path, std::uint64_t line) {
  std::string out(path);
  out.push_back(':');
  out.append(std::to_string(line));
  return out;
}

std::optional<std::string> known_sub_agent(const std::vector<SubAgent>& sub_agents, std::string_view id) {
  for (const SubAgent& a : sub_agents) {
    if (a.id == id) return a.id;
  }
  return std::nullopt;
}

namespace {

// Every count the response reports is 0, and it reports one at least.
bool reports_only_zeros(const TokenCounts& t) {
  bool reported = false;
  for (const std::optional<std::uint64_t>& n :
       {t.input, t.output, t.cache_read, t.cache_write, t.cache_write_1h, t.reasoning}) {
    if (!n) continue;
    if (*n != 0) return false;
    reported = true;
  }
  return reported;
}

}  // namespace

std::optional<std::uint64_t> table_cost(const PriceTable& table, const UsageResponse& r) {
  // A response that used no token costs nothing whatever its model: the
  // replies Claude Code writes itself (model "<synthetic>") carry zero usage
  // and give no reason to call a total partial.
  if (reports_only_zeros(r.tokens)) return 0;
  const ModelPrice* p = find_price(table, r.model);
  if (p == nullptr || !p->input || !p->output) return std::nullopt;
  const TokenCounts& t = r.tokens;
  const std::uint64_t cache_read = t.cache_read.value_or(0);
  std::uint64_t input = t.input.value_or(0);
  // Harnesses that count cached tokens in the input: those are priced as
  // cache reads only.
  if (r.input_includes_cache_read) input = input > cache_read ? input - cache_read : 0;
  const std::uint64_t write_all = t.cache_write.value_or(0);
  const std::uint64_t write_1h = std::min(t.cache_write_1h.value_or(0), write_all);
  std::uint64_t output = t.output.value_or(0);
  if (!r.output_includes_reasoning) output = add_saturated(output, t.reasoning.value_or(0));
  std::uint64_t sum = 0;
  add_cost(sum, input, *p->input);
  add_cost(sum, cache_read, p->cache_read.value_or(*p->input));
  add_cost(sum, write_all - write_1h, p->cache_write.value_or(*p->input));
  add_cost(sum, write_1h, p->cache_write_1h.value_or(p->cache_write.value_or(*p->input)));
  add_cost(sum, output, *p->output);
  return sum;
}

namespace {

void add_response(UsageFigures& f, const UsageResponse& r, const std::optional<std::uint64_t>& cost) {
  f.responses = add_saturated(f.responses, 1);
  add_to(f.input_tokens, r.tokens.input);
  add_to(f.output_tokens, r.tokens.output);
  add_to(f.cache_read_tokens, r.tokens.cache_read);
  add_to(f.cache_write_tokens, r.tokens.cache_write);
  add_to(f.reasoning_tokens, r.tokens.reasoning);
  add_to(f.cost_picodollars, cost);
}

void add_figures(UsageFigures& sum, const UsageFigures& f) {
  sum.responses = add_saturated(sum.responses, f.responses);
  add_to(sum.input_tokens, f.input_tokens);
  add_to(sum.output_tokens, f.output_tokens);
  add_to(sum.cache_read_tokens, f.cache_read_tokens);
  add_to(sum.cache_write_tokens, f.cache_write_tokens);
  add_to(sum.reasoning_tokens, f.reasoning_tokens);
  add_to(sum.cost_picodollars, f.cost_picodollars);
}

// Which turn a response belongs to: the turn holding its message, else the
// last turn opened in the same file at or above its line.
class TurnPlacer {
 public:
  TurnPlacer(const std::vector<Message>& messages, const std::vector<UserTurn>& turns,
             const std::vector<UsageResponse>& responses)
      : messages_(messages) {
    for (const UserTurn& t : turns) starts_.push_back(t.start_message_position);
    for (std::size_t k = 0; k < turns.size(); ++k) {
      const Message* start = at_position(turns[k].start_message_position);
      if (start == nullptr) continue;
      if (auto loc = source_location(start->source)) lines_[loc->first].emplace_back(loc->second, k);
    }
    for (auto& [path, list] : lines_) std::sort(list.begin(), list.end());
    // Only the ids that some response names are looked up.
    for (const UsageResponse& r : responses) {
      if (r.message_id) by_id_.emplace(*r.message_id, std::nullopt);
    }
    if (by_id_.empty()) return;
    for (const Message& m : messages) {
      if (!m.id) continue;
      auto wanted = by_id_.find(*m.id);
      if (wanted != by_id_.end() && !wanted->second) wanted->second = owner(m.position);
    }
  }

  std::optional<std::size_t> place(const UsageResponse& r) const {
    if (r.message_id) {
      auto it = by_id_.find(*r.message_id);
      if (it != by_id_.end() && it->second) return it->second;
    }
    return detail::turn_owner_for_source(r.source, lines_);
  }

 private:
  // The message at a position (the list is in position order).
  const Message* at_position(std::uint64_t position) const {
    auto it = std::lower_bound(messages_.begin(), messages_.end(), position,
                               [](const Message& m, std::uint64_t p) { return m.position < p; });
    return it != messages_.end() && it->position == position ? &*it : nullptr;
  }
  // The turn a message belongs to: the last one started at or before it.
  std::optional<std::size_t> owner(std::uint64_t position) const {
    auto after = std::upper_bound(starts_.begin(), starts_.end(), position);
    if (after == starts_.begin()) return std::nullopt;
    return static_cast<std::size_t>(after - starts_.begin() - 1);
  }

  const std::vector<Message>& messages_;
  std::vector<std::uint64_t> starts_;
  detail::TurnLineIndex lines_;
  std::unordered_map<std::string, std::optional<std::size_t>> by_id_;
};

}  // namespace

Usage summarize_usage(UsageReading reading, const PriceTable& table, const std::vector<Message>& messages,
                      const std::vector<UserTurn>& user_turns, const std::vector<SubAgent>& sub_agents) {
  Usage usage;
  usage.prices = table.info;
  usage.notes = std::move(reading.notes);

  struct ModelSlot {
    bool harness = false;
    bool table = false;
    bool unpriced = false;
  };
  std::vector<ModelSlot> slots;
  std::vector<std::optional<UsageFigures>> turns(user_turns.size());
  std::vector<std::optional<UsageFigures>> agents(sub_agents.size());
  const TurnPlacer placer(messages, user_turns, reading.responses);

  auto model_index = [&](const std::string& model, const std::optional<std::string>& provider) {
    for (std::size_t i = 0; i < usage.models.size(); ++i) {
      if (usage.models[i].model == model && usage.models[i].provider == provider) return i;
    }
    usage.models.push_back(ModelUsage{{}, model, provider, CostSource::None});
    slots.emplace_back();
    return usage.models.size() - 1;
  };

  for (const UsageResponse& r : reading.responses) {
    std::optional<std::uint64_t> cost = r.harness_cost;
    const std::size_t m = model_index(r.model, r.provider);
    if (cost) {
      slots[m].harness = true;
    } else if ((cost = table_cost(table, r))) {
      slots[m].table = true;
    } else {
      slots[m].unpriced = true;
    }
    add_response(usage.models[m].figures, r, cost);
    if (auto k = placer.place(r); k && *k < turns.size()) {
      if (!turns[*k]) turns[*k] = UsageFigures{};
      add_response(*turns[*k], r, cost);
    }
    if (r.sub_agent_id) {
      for (std::size_t a = 0; a < sub_agents.size(); ++a) {
        if (sub_agents[a].id != *r.sub_agent_id) continue;
        if (!agents[a]) agents[a] = UsageFigures{};
        add_response(*agents[a], r, cost);
        break;
      }
    }
  }

  // A cost the harness keeps per model covers all of that model's responses.
  std::vector<std::optional<std::uint64_t>> model_costs(usage.models.size());
  for (const HarnessModelCost& c : reading.model_costs) {
    std::optional<std::size_t> found;
    for (std::size_t i = 0; i < usage.models.size() && !found; ++i) {
      if (usage.models[i].model == c.model) found = i;
    }
    if (!found) {
      found = model_index(c.model, std::nullopt);
      model_costs.emplace_back();
    }
    model_costs[*found] = add_saturated(model_costs[*found].value_or(0), c.cost);
  }

  for (std::size_t i = 0; i < usage.models.size(); ++i) {
    ModelUsage& m = usage.models[i];
    if (model_costs[i]) {
      m.figures.cost_picodollars = model_costs[i];
      m.cost_source = CostSource::Harness;
    } else {
      m.cost_source = slots[i].harness ? CostSource::Harness : slots[i].table ? CostSource::Table : CostSource::None;
      if (slots[i].unpriced) usage.unpriced_models.push_back(m.model);
    }
    add_figures(usage.total, m.figures);
  }
  for (std::size_t k = 0; k < turns.size(); ++k) {
    if (turns[k]) usage.turns.push_back(TurnUsage{*turns[k], user_turns[k].position});
  }
  for (std::size_t a = 0; a < agents.size(); ++a) {
    if (agents[a]) usage.sub_agents.push_back(SubAgentUsage{*agents[a], sub_agents[a].id});
  }
  return usage;
}

}  // namespace tl
