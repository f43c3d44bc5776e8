// Parser of the pi harness: the common result plus its JSONL session logs
// read by the generic reader.
#pragma once

#include "parser.hpp"

namespace tl {

class PiParser : public Parser {
 public:
  using Parser::Parser;
  void enrich(const RunArtifacts& run, ParseContext& context, std::vector<Message>& messages,
              std::vector<ToolCall>& tool_calls, std::vector<TodoItem>& todos) const override;
};

// Reads every session log of `family` with the generic JSONL reader.
void enrich_from_transcripts(const RunArtifacts& run, std::string_view family, std::vector<Message>& messages,
                             std::vector<ToolCall>& tool_calls, std::vector<TodoItem>& todos);

}  // namespace tl
