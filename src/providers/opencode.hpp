// Parser of the opencode harness.
#pragma once

#include "parser.hpp"

namespace tl {

class OpencodeParser : public Parser {
 public:
  using Parser::Parser;
  void enrich(const RunArtifacts& run, std::vector<Message>& messages, std::vector<ToolCall>& tool_calls,
              std::vector<TodoItem>& todos) const override;
  std::vector<SubAgent> sub_agents(const RunArtifacts& run) const override;
};

}  // namespace tl
