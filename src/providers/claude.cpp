#include "claude.hpp"

// Scaffold: every hook behaves as the interface's default until the Claude
// reader lands.
namespace tl {

RunArtifacts ClaudeParser::prepare_artifacts(RunArtifacts run) const { return run; }

Activity ClaudeParser::classify_activity(const RunArtifacts& run, const std::vector<Message>& messages,
                                         const std::vector<Approval>& approvals,
                                         const std::vector<ToolError>& tool_errors,
                                         const std::vector<ToolCall>& tool_calls) const {
  return Parser::classify_activity(run, messages, approvals, tool_errors, tool_calls);
}

void ClaudeParser::enrich(const RunArtifacts& run, std::vector<Message>& messages, std::vector<ToolCall>& tool_calls,
                          std::vector<TodoItem>& todos) const {
  Parser::enrich(run, messages, tool_calls, todos);
}

std::vector<SubAgent> ClaudeParser::sub_agents(const RunArtifacts& run) const { return Parser::sub_agents(run); }

std::optional<std::string> ClaudeParser::title(const RunArtifacts& run) const { return Parser::title(run); }

json::Value ClaudeParser::snapshots(const RunArtifacts& run) const { return Parser::snapshots(run); }

}  // namespace tl
