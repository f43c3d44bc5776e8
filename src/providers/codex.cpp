#include "codex.hpp"

// Scaffold: every hook behaves as the interface's default until the Codex
// reader lands.
namespace tl {

RunArtifacts CodexParser::prepare_artifacts(RunArtifacts run) const { return run; }

Activity CodexParser::classify_activity(const RunArtifacts& run, const std::vector<Message>& messages,
                                        const std::vector<Approval>& approvals,
                                        const std::vector<ToolError>& tool_errors,
                                        const std::vector<ToolCall>& tool_calls) const {
  return Parser::classify_activity(run, messages, approvals, tool_errors, tool_calls);
}

void CodexParser::enrich(const RunArtifacts& run, std::vector<Message>& messages, std::vector<ToolCall>& tool_calls,
                         std::vector<TodoItem>& todos) const {
  Parser::enrich(run, messages, tool_calls, todos);
}

json::Value CodexParser::snapshots(const RunArtifacts& run) const { return Parser::snapshots(run); }

}  // namespace tl
