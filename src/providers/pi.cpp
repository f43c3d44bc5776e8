#include "pi.hpp"

#include "../classify/jsonl.hpp"

namespace tl {

void enrich_from_transcripts(const RunArtifacts& run, std::string_view family, std::vector<Message>& messages,
                             std::vector<ToolCall>& tool_calls, std::vector<TodoItem>& todos) {
  for (const TextArtifact* t : provider_transcripts(run, family)) {
    parse_jsonl_messages(*t, messages, tool_calls, todos);
  }
}

void PiParser::enrich(const RunArtifacts& run, ParseContext&, std::vector<Message>& messages,
                      std::vector<ToolCall>& tool_calls, std::vector<TodoItem>& todos) const {
  enrich_from_transcripts(run, "pi", messages, tool_calls, todos);
}

}  // namespace tl
