// The "usage" member of the document (`parse-run --usage`): token figures
// and cost of the run, per model, per user turn and per sub-agent. Plain
// records; reading, pricing and adding up live in usage.hpp.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tl {

// Figures of a group of counted model responses. A token figure is absent
// when no response of the group reported it; the cost is absent when no
// response of the group could be priced. Costs are held in picodollars
// (10^-12 US dollars) so that sums are exact; the document writes dollars.
struct UsageFigures {
  std::uint64_t responses = 0;
  std::optional<std::uint64_t> input_tokens;
  std::optional<std::uint64_t> output_tokens;
  std::optional<std::uint64_t> cache_read_tokens;
  std::optional<std::uint64_t> cache_write_tokens;
  std::optional<std::uint64_t> reasoning_tokens;
  std::optional<std::uint64_t> cost_picodollars;
};

enum class CostSource { Harness, Table, None };

struct ModelUsage {
  UsageFigures figures;
  std::string model;
  std::optional<std::string> provider;
  CostSource cost_source = CostSource::None;
};

struct TurnUsage {
  UsageFigures figures;
  std::uint64_t turn_position = 0;
};

struct SubAgentUsage {
  UsageFigures figures;
  std::string sub_agent_id;
};

struct PriceTableInfo {
  std::string name;
  std::string date;
  std::string source;
};

struct Usage {
  UsageFigures total;
  std::vector<ModelUsage> models;
  std::vector<TurnUsage> turns;
  std::vector<SubAgentUsage> sub_agents;
  PriceTableInfo prices;
  std::vector<std::string> unpriced_models;
  std::vector<std::string> notes;
};

// Prices of one model in picodollars per token (a price per million tokens
// times 10^6), each absent where the table gives none.
struct ModelPrice {
  std::string provider;
  std::string model;
  // Model names the entry answers to: exactly, or as a prefix.
  std::vector<std::string> equals;
  std::vector<std::string> starts_with;
  std::optional<std::uint64_t> input;
  std::optional<std::uint64_t> output;
  std::optional<std::uint64_t> cache_read;
  std::optional<std::uint64_t> cache_write;     // five-minute cache writes
  std::optional<std::uint64_t> cache_write_1h;  // one-hour cache writes
};

struct PriceTable {
  PriceTableInfo info;
  std::vector<ModelPrice> models;
};

}  // namespace tl
