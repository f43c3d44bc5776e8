// Parser of the claude harness.
#pragma once

#include "parser.hpp"

namespace tl {

class ClaudeParser : public Parser {
 public:
  using Parser::Parser;
  RunArtifacts prepare_artifacts(RunArtifacts run) const override;
  Activity classify_activity(const RunArtifacts& run, const std::vector<Message>& messages,
                             const std::vector<Approval>& approvals, const std::vector<ToolError>& tool_errors,
                             const std::vector<ToolCall>& tool_calls) const override;
  void enrich(const RunArtifacts& run, std::vector<Message>& messages, std::vector<ToolCall>& tool_calls,
              std::vector<TodoItem>& todos) const override;
  std::vector<SubAgent> sub_agents(const RunArtifacts& run) const override;
  std::optional<std::string> title(const RunArtifacts& run) const override;
  json::Value snapshots(const RunArtifacts& run) const override;
};

}  // namespace tl
