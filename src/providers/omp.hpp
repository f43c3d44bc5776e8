// Parser of the omp (oh-my-pi) harness: the JSONL sessions under
// .omp/agent/sessions/ read by the generic reader, plus what omp 18 keeps in
// its own shapes: the session title, the todo tool's lists and the sessions
// of the sub-agents its task tool starts (<session>/<Name>.jsonl).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "parser.hpp"
#include "pi_usage.hpp"

namespace tl {

// What one omp session file holds besides its messages and calls.
struct OmpSession {
  std::string path;
  std::optional<std::string> id;   // the "session" line's id
  std::uint64_t session_line = 0;  // 0 when there is no "session" line
  bool sub_agent = false;          // the "session" line names a parentSession
  // The last non-empty title of a "title" or "title_change" line.
  std::optional<std::string> title;
  // The list of the last todo tool result (details.phases[].tasks[]).
  std::optional<std::vector<TodoItem>> todos;
  // A yield call has its result, or a session_exit line was written.
  bool yielded = false;
  bool exited = false;
  // The last message line: an assistant message without a tool call.
  bool ends_with_answer = false;
  // The text of the first user message, as the generic reader gave it.
  std::optional<std::string> first_user_message;
};

// Reads one session file: its messages, calls and todos through the generic
// reader into the lists, the rest into the result.
OmpSession read_omp_session(const RunArtifacts& run, const TextArtifact& artifact, LogReader& logs,
                            std::vector<Message>& messages, std::vector<ToolCall>& tool_calls,
                            std::vector<TodoItem>& todos, PiUsageReader* usage = nullptr);

// The run's todo list: the last todo list of a main session, else of a
// sub-agent session; none when no session used the todo tool.
std::optional<std::vector<TodoItem>> omp_todos(const std::vector<OmpSession>& sessions);
// The last title of the main sessions.
std::optional<std::string> omp_title(const std::vector<OmpSession>& sessions);
// `defaults`, then one SubAgent per sub-agent session whose id is not listed.
std::vector<SubAgent> omp_sub_agents(std::vector<SubAgent> defaults, const std::vector<OmpSession>& sessions);

struct OmpParseContext : ParseContext {
  std::vector<OmpSession> sessions;
  PiUsageReader usage_reader;  // fed only when the usage is reported
};

class OmpParser : public ParserWithContext<OmpParseContext> {
 public:
  using ParserWithContext::ParserWithContext;
  void enrich(const RunArtifacts& run, ParseContext& context, LogReader& logs, std::vector<Message>& messages,
              std::vector<ToolCall>& tool_calls, std::vector<TodoItem>& todos) const override;
  std::vector<SubAgent> sub_agents(const RunArtifacts& run, const ParseContext& context) const override;
  std::optional<std::string> title(const RunArtifacts& run, const ParseContext& context) const override;
  UsageReading usage(const RunArtifacts& run, ParseContext& context, const std::vector<Message>& messages,
                     const std::vector<SubAgent>& sub_agents) const override;
};

}  // namespace tl
