// Parser of the pi harness: its JSONL session logs read by the generic
// reader, plus what pi's todo and subagent extensions keep in their tool
// results' details: the todo list after each change, and each sub-agent run
// with its task and exit status.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "parser.hpp"
#include "pi_usage.hpp"

namespace tl {

// What pi's session files hold besides their messages and calls.
struct PiSessions {
  // The list of the last todo tool result (details.todos[]).
  std::optional<std::vector<TodoItem>> todos;
  // One per run that a subagent tool result reports (details.results[]).
  std::vector<SubAgent> sub_agents;
};

// Reads one session file: its messages, calls and todos through the generic
// reader into the lists, the extensions' records into `sessions`.
// Each parsed line also goes to `usage`, when given.
void read_pi_session(const RunArtifacts& run, const TextArtifact& artifact, LogReader& logs,
                     std::vector<Message>& messages, std::vector<ToolCall>& tool_calls, std::vector<TodoItem>& todos,
                     PiSessions& sessions, PiUsageReader* usage = nullptr);

struct PiParseContext : ParseContext {
  PiSessions sessions;
  PiUsageReader usage_reader;  // fed only when the usage is reported
};

class PiParser : public ParserWithContext<PiParseContext> {
 public:
  using ParserWithContext::ParserWithContext;
  void enrich(const RunArtifacts& run, ParseContext& context, LogReader& logs, std::vector<Message>& messages,
              std::vector<ToolCall>& tool_calls, std::vector<TodoItem>& todos) const override;
  std::vector<SubAgent> sub_agents(const RunArtifacts& run, const ParseContext& context) const override;
  UsageReading usage(const RunArtifacts& run, ParseContext& context, const std::vector<Message>& messages,
                     const std::vector<SubAgent>& sub_agents) const override;
};

}  // namespace tl
