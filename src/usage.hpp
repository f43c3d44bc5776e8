// Token usage and cost of a run: what a harness's usage reader hands over
// (one entry per model response, counted once), the price table, and the
// adding up into the document's "usage" member per model, turn and sub-agent.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "artifacts.hpp"
#include "json.hpp"
#include "model.hpp"

namespace tl {

// ---- the price table ------------------------------------------------------------------

// Reads a price file: {"name", "source", "date" (YYYY-MM-DD), "models": [{
// "provider", "model", "equals": [..], "startsWith": [..], "inputPerMTok",
// "outputPerMTok", "cacheReadPerMTok", "cacheWritePerMTok",
// "cacheWrite1hPerMTok"}]}. Nothing when the text is not such a file; the
// message then says why in one line.
std::optional<PriceTable> parse_price_table(std::string_view text, std::string& error);

// Reads and parses a price file (at most 16 MiB).
std::optional<PriceTable> load_price_file(const std::string& path, std::string& error);

// The table built into the program (data/prices.json at build time).
const PriceTable& bundled_price_table();

// The table's entry for a model name as a log writes it: an exact name
// first, else the longest prefix; a name with a "provider/" in front is also
// tried without it.
const ModelPrice* find_price(const PriceTable& table, std::string_view model);

// ---- what a usage reader gives --------------------------------------------------------

// Token figures of one response as the harness writes them.
struct TokenCounts {
  std::optional<std::uint64_t> input;
  std::optional<std::uint64_t> output;
  std::optional<std::uint64_t> cache_read;
  std::optional<std::uint64_t> cache_write;
  // The part of cache_write that was written for one hour (Claude).
  std::optional<std::uint64_t> cache_write_1h;
  std::optional<std::uint64_t> reasoning;
};

struct UsageResponse {
  std::string model;
  std::optional<std::string> provider;
  TokenCounts tokens;
  // How the harness counts: Codex and Gemini include the cached tokens in
  // the input; Claude and Codex include the reasoning in the output.
  bool input_includes_cache_read = false;
  bool output_includes_reasoning = true;
  // The harness's own cost of this response.
  std::optional<std::uint64_t> harness_cost;
  // Where the response was read ("path:line"), which places it in a turn.
  std::string source;
  // The id of the message of the state that the response wrote, when the
  // source does not place it (stores whose sources are not file lines).
  std::optional<std::string> message_id;
  // The sub-agent (an id of state.subAgents) whose own log holds it.
  std::optional<std::string> sub_agent_id;
};

// A cost the harness writes for a whole model rather than per response
// (Claude Code's running cost): it replaces the model's priced sum.
struct HarnessModelCost {
  std::string model;
  std::uint64_t cost = 0;  // picodollars
};

struct UsageReading {
  std::vector<UsageResponse> responses;
  std::vector<HarnessModelCost> model_costs;
  std::vector<std::string> notes;
};

// ---- reading helpers for the readers --------------------------------------------------

// A token count: a non-negative integer up to 2^53; anything else (negative,
// fractional, a string, larger) is absent.
std::optional<std::uint64_t> token_count(std::optional<json::Element> e);
// A cost in US dollars converted to picodollars: a finite non-negative number
// below 10^6 dollars; anything else is absent.
std::optional<std::uint64_t> dollars(std::optional<json::Element> e);

// "path:line".
std::string line_source(std::string_view path, std::uint64_t line);

// The sub-agent of state.subAgents with this id, if any.
std::optional<std::string> known_sub_agent(const std::vector<SubAgent>& sub_agents, std::string_view id);

// ---- pricing and adding up ------------------------------------------------------------

// The cost of one response by the table (cached input never counted twice),
// or nothing when the table has no input and output price for its model.
std::optional<std::uint64_t> table_cost(const PriceTable& table, const UsageResponse& r);

// The "usage" member: responses priced and added up per model, per user turn
// (placed by message id, else by the file and line of the turn's opening
// message) and per sub-agent (in state.subAgents order).
Usage summarize_usage(UsageReading reading, const PriceTable& table, const std::vector<Message>& messages,
                      const std::vector<UserTurn>& user_turns, const std::vector<SubAgent>& sub_agents);

}  // namespace tl
