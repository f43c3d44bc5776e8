#include "usage.hpp"

#include <gtest/gtest.h>

#include "registry.hpp"

namespace tl {
namespace {

constexpr std::string_view kTable = R"({"name": "t", "date": "2026-01-02", "source": "hand", "models": [
  {"provider": "anthropic", "model": "claude-x", "startsWith": ["claude-x"], "inputPerMTok": 3,
   "outputPerMTok": 15, "cacheReadPerMTok": 0.3, "cacheWritePerMTok": 3.75, "cacheWrite1hPerMTok": 6},
  {"provider": "anthropic", "model": "claude-x-long", "startsWith": ["claude-x-long"], "inputPerMTok": 5,
   "outputPerMTok": 25},
  {"provider": "openai", "model": "gpt-y", "equals": ["gpt-y", "gpt-y-codex"], "inputPerMTok": 1.25,
   "outputPerMTok": 10, "cacheReadPerMTok": 0.125}
]})";

PriceTable table() {
  std::string error;
  auto t = parse_price_table(kTable, error);
  EXPECT_TRUE(t) << error;
  return t ? *t : PriceTable{};
}

// ---- the price file ---------------------------------------------------------------------

TEST(UsagePrices, FileIsReadIntoPicodollarsPerToken) {
  PriceTable t = table();
  EXPECT_EQ(t.info.name, "t");
  EXPECT_EQ(t.info.date, "2026-01-02");
  EXPECT_EQ(t.info.source, "hand");
  ASSERT_EQ(t.models.size(), 3ull);
  EXPECT_EQ(t.models[0].input, 3000000ull);
  EXPECT_EQ(t.models[0].cache_read, 300000ull);
  EXPECT_EQ(t.models[0].cache_write_1h, 6000000ull);
  EXPECT_EQ(t.models[2].cache_read, 125000ull);
  EXPECT_FALSE(t.models[2].cache_write);
}

TEST(UsagePrices, BadFilesAreRefusedWithOneLine) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"", "not one JSON object"},
      {"[]", "not one JSON object"},
      {R"({"date": "2026-01-02", "models": []})", "no \"name\""},
      {R"({"name": "t", "date": "2026-1-2", "models": []})", "no \"date\" of the form YYYY-MM-DD"},
      {R"({"name": "t", "date": "2026-01-02"})", "no \"models\" list"},
      {R"({"name": "t", "date": "2026-01-02", "models": [{"inputPerMTok": 1, "outputPerMTok": 1}]})",
       "model 1 has no \"model\""},
      {R"({"name": "t", "date": "2026-01-02", "models": [{"model": "m", "inputPerMTok": -1, "outputPerMTok": 1}]})",
       "model 1 has a price that is not a non-negative number"},
      {R"({"name": "t", "date": "2026-01-02", "models": [{"model": "m", "inputPerMTok": "1", "outputPerMTok": 1}]})",
       "model 1 has a price that is not a non-negative number"},
      {R"({"name": "t", "date": "2026-01-02", "models": [{"model": "m", "inputPerMTok": 1}]})",
       "model 1 lacks \"inputPerMTok\" or \"outputPerMTok\""},
      {R"({"name": "t", "date": "2026-01-02", "models": [{"model": "m", "equals": "m", "inputPerMTok": 1,
          "outputPerMTok": 1}]})",
       "model 1 has names that are not a list of strings"},
  };
  for (const auto& [text, message] : cases) {
    std::string error;
    EXPECT_FALSE(parse_price_table(text, error)) << text;
    EXPECT_EQ(error, message) << text;
  }
}

TEST(UsagePrices, BundledTableIsThePinnedPackageData) {
  const PriceTable& t = bundled_price_table();
  EXPECT_EQ(t.info.name, "genai-prices");
  EXPECT_FALSE(t.models.empty());
  // Claude Code's, Codex's and Gemini CLI's default models are in it.
  EXPECT_NE(find_price(t, "claude-sonnet-4-5-20250929"), nullptr);
  EXPECT_NE(find_price(t, "gpt-5-codex"), nullptr);
  EXPECT_NE(find_price(t, "gemini-2.5-pro"), nullptr);
}

TEST(UsagePrices, ModelNamesMatchExactlyThenByLongestPrefix) {
  PriceTable t = table();
  auto model_of = [&](std::string_view name) {
    const ModelPrice* p = find_price(t, name);
    return p == nullptr ? std::string("-") : p->model;
  };
  EXPECT_EQ(model_of("gpt-y-codex"), "gpt-y");
  EXPECT_EQ(model_of("gpt-y-codex-2"), "-");  // equals means the whole name
  EXPECT_EQ(model_of("claude-x-20250101"), "claude-x");
  EXPECT_EQ(model_of("claude-x-long-1"), "claude-x-long");
  EXPECT_EQ(model_of("anthropic/claude-x"), "claude-x");
  EXPECT_EQ(model_of("mystery"), "-");
}

// ---- token figures as read ---------------------------------------------------------------

TEST(UsageFigures, OnlyWholeNumbersUpTo2To53AreCounts) {
  json::DocParser parser;
  const std::pair<std::string_view, std::optional<std::uint64_t>> cases[] = {
      {"0", 0ull},
      {"120", 120ull},
      {"9007199254740992", 9007199254740992ull},
      {"9007199254740993", std::nullopt},
      {"-1", std::nullopt},
      {"2.5", std::nullopt},
      {"\"12\"", std::nullopt},
      {"null", std::nullopt},
      {"18446744073709551615", std::nullopt},
  };
  for (const auto& [text, want] : cases) {
    auto e = parser.parse(text);
    ASSERT_TRUE(e) << text;
    EXPECT_EQ(token_count(*e), want) << text;
  }
  auto cost = parser.parse("0.46342");
  EXPECT_EQ(dollars(*cost), 463420000000ull);
  EXPECT_FALSE(dollars(*parser.parse("-0.5")));
  EXPECT_FALSE(dollars(*parser.parse("\"1\"")));
  EXPECT_FALSE(dollars(*parser.parse("1e300")));
}

// ---- pricing -------------------------------------------------------------------------------

UsageResponse response(std::string model, TokenCounts t) {
  UsageResponse r;
  r.model = std::move(model);
  r.tokens = t;
  return r;
}

TEST(UsageCost, CacheReadsArePricedOnceWhateverTheInputHolds) {
  PriceTable t = table();
  // Claude: the input excludes the cache; 500 of 2000 written tokens for an hour.
  TokenCounts claude{100, 80, 3000, 2000, 500, std::nullopt};
  EXPECT_EQ(table_cost(t, response("claude-x-1", claude)),
            100ull * 3000000 + 3000ull * 300000 + 1500ull * 3750000 + 500ull * 6000000 + 80ull * 15000000);
  // Codex: the input includes the 20864 cached tokens; reasoning is in the output.
  UsageResponse codex = response("gpt-y", {22539, 10, 20864, std::nullopt, std::nullopt, 4});
  codex.input_includes_cache_read = true;
  EXPECT_EQ(table_cost(t, codex), (22539ull - 20864) * 1250000 + 20864ull * 125000 + 10ull * 10000000);
  // Gemini-like: thoughts are apart from the output and priced as output.
  UsageResponse gemini = response("gpt-y", {120, 30, 0, std::nullopt, std::nullopt, 5});
  gemini.input_includes_cache_read = true;
  gemini.output_includes_reasoning = false;
  EXPECT_EQ(table_cost(t, gemini), 120ull * 1250000 + 35ull * 10000000);
  // Without cache prices the input price stands in.
  EXPECT_EQ(table_cost(t, response("claude-x-long", {1, 1, 2, 4, std::nullopt, std::nullopt})),
            (1ull + 2 + 4) * 5000000 + 1ull * 25000000);
  EXPECT_FALSE(table_cost(t, response("mystery", {1, 1, {}, {}, {}, {}})));
}

// ---- adding up -------------------------------------------------------------------------------

Message message(std::uint64_t position, std::string role, std::string source, std::optional<std::string> id = {}) {
  Message m;
  m.position = position;
  m.role = std::move(role);
  m.source = std::move(source);
  m.id = std::move(id);
  return m;
}

UserTurn turn(std::uint64_t position, std::uint64_t start, std::vector<std::uint64_t> messages) {
  UserTurn t;
  t.position = position;
  t.start_message_position = start;
  t.message_positions = std::move(messages);
  return t;
}

TEST(UsageSummary, ModelsTurnsAndSubAgentsAddUp) {
  const std::vector<Message> messages = {message(0, "user", "a.jsonl:1"), message(1, "assistant", "a.jsonl:2"),
                                         message(2, "user", "a.jsonl:5"), message(3, "assistant", "s:1", "m9")};
  const std::vector<UserTurn> turns = {turn(0, 0, {0, 1}), turn(1, 2, {2, 3})};
  SubAgent helper;
  helper.id = "helper";
  const std::vector<SubAgent> agents = {helper};

  UsageReading reading;
  UsageResponse first = response("claude-x", {100, 10, std::nullopt, std::nullopt, std::nullopt, std::nullopt});
  first.source = "a.jsonl:2";
  UsageResponse second = response("mystery", {5, 1, std::nullopt, std::nullopt, std::nullopt, std::nullopt});
  second.source = "a.jsonl:6";
  second.sub_agent_id = "helper";
  UsageResponse third = response("own", {1, 1, std::nullopt, std::nullopt, std::nullopt, std::nullopt});
  third.harness_cost = 7;
  third.source = "elsewhere";
  third.message_id = "m9";  // placed through its message
  UsageResponse before = response("claude-x", {});
  before.source = "b.jsonl:1";  // no turn opens in its file
  reading.responses = {first, second, third, before};
  reading.notes = {"a note"};

  Usage u = summarize_usage(reading, table(), messages, turns, agents);
  ASSERT_EQ(u.models.size(), 3ull);
  EXPECT_EQ(u.models[0].model, "claude-x");
  EXPECT_EQ(u.models[0].figures.responses, 2ull);
  EXPECT_EQ(u.models[0].figures.input_tokens, 100ull);
  EXPECT_FALSE(u.models[0].figures.cache_read_tokens);  // never reported: absent, not 0
  EXPECT_EQ(u.models[0].figures.cost_picodollars, 100ull * 3000000 + 10ull * 15000000);
  EXPECT_EQ(u.models[0].cost_source, CostSource::Table);
  EXPECT_EQ(u.models[1].cost_source, CostSource::None);
  EXPECT_FALSE(u.models[1].figures.cost_picodollars);
  EXPECT_EQ(u.models[2].cost_source, CostSource::Harness);
  EXPECT_EQ(u.unpriced_models, std::vector<std::string>{"mystery"});
  EXPECT_EQ(u.total.responses, 4ull);
  EXPECT_EQ(u.total.input_tokens, 106ull);
  EXPECT_EQ(u.total.cost_picodollars, 100ull * 3000000 + 10ull * 15000000 + 7);
  ASSERT_EQ(u.turns.size(), 2ull);
  EXPECT_EQ(u.turns[0].turn_position, 0ull);
  EXPECT_EQ(u.turns[0].figures.responses, 1ull);
  EXPECT_EQ(u.turns[1].figures.responses, 2ull);  // a.jsonl:6 and the message m9
  EXPECT_EQ(u.turns[1].figures.cost_picodollars, 7ull);
  ASSERT_EQ(u.sub_agents.size(), 1ull);
  EXPECT_EQ(u.sub_agents[0].sub_agent_id, "helper");
  EXPECT_EQ(u.sub_agents[0].figures.input_tokens, 5ull);
  EXPECT_EQ(u.notes, std::vector<std::string>{"a note"});
  EXPECT_EQ(u.prices.name, "t");
}

// A reply that used no token costs nothing even when its model is not in the
// table ("<synthetic>", Claude Code's own replies); one that reports nothing
// at all, or any token, stays unpriced.
TEST(UsageSummary, AResponseWithoutTokensCostsNothingWhateverItsModel) {
  UsageReading reading;
  reading.responses = {response("<synthetic>", {0, 0, 0, 0, {}, {}}), response("mystery", {}),
                       response("mystery2", {0, 1, {}, {}, {}, {}})};
  Usage u = summarize_usage(reading, table(), {}, {}, {});
  ASSERT_EQ(u.models.size(), 3ull);
  EXPECT_EQ(u.models[0].figures.cost_picodollars, 0ull);
  EXPECT_EQ(u.models[0].cost_source, CostSource::Table);
  EXPECT_EQ(u.unpriced_models, (std::vector<std::string>{"mystery", "mystery2"}));
}

TEST(UsageSummary, HarnessModelCostReplacesThePricedSum) {
  UsageReading reading;
  reading.responses = {response("claude-x", {100, 10, {}, {}, {}, {}}), response("mystery", {1, 1, {}, {}, {}, {}})};
  reading.model_costs = {{"mystery", 5}, {"side-model", 3}};
  Usage u = summarize_usage(reading, table(), {}, {}, {});
  ASSERT_EQ(u.models.size(), 3ull);
  EXPECT_EQ(u.models[1].figures.cost_picodollars, 5ull);
  EXPECT_EQ(u.models[1].cost_source, CostSource::Harness);
  // A model the harness priced without a counted response.
  EXPECT_EQ(u.models[2].model, "side-model");
  EXPECT_EQ(u.models[2].figures.responses, 0ull);
  EXPECT_TRUE(u.unpriced_models.empty());
  EXPECT_EQ(u.total.cost_picodollars, 100ull * 3000000 + 10ull * 15000000 + 5 + 3);
}

TEST(UsageSummary, TotalsSaturateInsteadOfOverflowing) {
  UsageReading reading;
  constexpr std::uint64_t kBig = std::uint64_t{1} << 53;
  for (int i = 0; i < 3; ++i) {
    UsageResponse r = response("own", {kBig, kBig, {}, {}, {}, {}});
    r.harness_cost = std::numeric_limits<std::uint64_t>::max() / 2;
    reading.responses.push_back(r);
  }
  Usage u = summarize_usage(reading, table(), {}, {}, {});
  EXPECT_EQ(u.total.input_tokens, 3 * kBig);
  EXPECT_EQ(u.total.cost_picodollars, std::numeric_limits<std::uint64_t>::max());
}

}  // namespace
}  // namespace tl

namespace tl {
namespace {

TEST(UsageDocument, OnlyWithTheFlagAndNeverOnTheMissingPath) {
  Args args{"/nonexistent", "pi", "0.73.1"};
  EXPECT_FALSE(parse_with_registry(args).usage);
  args.usage = bundled_price_table();
  ParserOutput served = parse_with_registry(args);
  ASSERT_TRUE(served.usage);
  EXPECT_EQ(served.usage->total.responses, 0u);
  EXPECT_EQ(served.usage->prices.name, "genai-prices");
  args.harness = "nope";
  ParserOutput missing = parse_with_registry(args);
  EXPECT_EQ(missing.parser.status, ParserStatus::Missing);
  EXPECT_FALSE(missing.usage);
  // The member is written after "provenance" and before "error".
  const std::string json = to_json(served);
  EXPECT_NE(json.find("],\"usage\":{\"total\":{\"responses\":0},\"models\":[],\"turns\":[],\"subAgents\":[],"
                      "\"prices\":{\"name\":\"genai-prices\""),
            std::string::npos);
}

}  // namespace
}  // namespace tl
