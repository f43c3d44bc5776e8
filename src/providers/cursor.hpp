// Parser of the cursor harness.
#pragma once

#include "parser.hpp"

namespace tl {

class CursorParser : public Parser {
 public:
  CursorParser(std::string label, ParserResolution resolution) : Parser("cursor", std::move(label), resolution) {}
  void enrich(const RunArtifacts& run, std::vector<Message>& messages, std::vector<ToolCall>& tool_calls,
              std::vector<TodoItem>& todos) const override;
  std::vector<SubAgent> sub_agents(const RunArtifacts& run) const override;
  std::vector<Provenance> provenance() const override;
};

}  // namespace tl
