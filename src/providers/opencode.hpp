// Parser of the opencode harness: its own store (JSON files or database) and
// its session transcripts through the generic JSONL reader, or else the
// conversation as its terminal interface showed it, plus cancellations and
// agent events from its runtime logs.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "opencode_store.hpp"
#include "parser.hpp"

namespace tl {

// What enrich read of OpenCode's own store, for sub_agents and title.
struct OpencodeParseContext : ParseContext {
  OpencodeStoreSummary store;
};

class OpencodeParser : public ParserWithContext<OpencodeParseContext> {
 public:
  using ParserWithContext::ParserWithContext;
  void enrich(const RunArtifacts& run, ParseContext& context, LogReader& logs, std::vector<Message>& messages,
              std::vector<ToolCall>& tool_calls, std::vector<TodoItem>& todos) const override;
  std::vector<SubAgent> sub_agents(const RunArtifacts& run, const ParseContext& context) const override;
  std::optional<std::string> title(const RunArtifacts& run, const ParseContext& context) const override;
};

// The run's OpenCode runtime logs: ".log" files under .local/share/opencode/
// or .config/opencode/, in run order.
std::vector<const TextArtifact*> opencode_runtime_logs(const RunArtifacts& run);

// True when the line's words name an agent together with a start, spawn,
// create, finish or complete event.
bool contains_opencode_agent_event(std::string_view line);

// Gives the collected output lines to the current tool call (when output is
// being collected and the index is valid), then forgets them.
void flush_opencode_output(std::vector<ToolCall>& tool_calls, bool in_output, std::size_t current,
                           std::vector<std::string_view>& pending);

// Messages and bash calls reconstructed from a capture of the terminal
// interface; sources are "terminal.log" and the line number.
void read_opencode_terminal(std::string_view terminal, std::vector<Message>& messages,
                            std::vector<ToolCall>& tool_calls);

// Cancellations and aborted processes of one runtime log, as tool calls.
void read_opencode_runtime_log(const TextArtifact& log, std::vector<ToolCall>& tool_calls);

// Appends one record for the latest runtime log (searched from the last)
// that mentions an agent event, unless a record already names that log as
// its source.
void append_opencode_log_agent(std::vector<SubAgent>& agents, const std::vector<const TextArtifact*>& logs);

}  // namespace tl
