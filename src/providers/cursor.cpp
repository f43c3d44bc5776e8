#include "cursor.hpp"

// Scaffold: every hook behaves as the interface's default until the Cursor
// reader lands.
namespace tl {

void CursorParser::enrich(const RunArtifacts& run, std::vector<Message>& messages, std::vector<ToolCall>& tool_calls,
                          std::vector<TodoItem>& todos) const {
  Parser::enrich(run, messages, tool_calls, todos);
}

std::vector<SubAgent> CursorParser::sub_agents(const RunArtifacts& run) const { return Parser::sub_agents(run); }

std::vector<Provenance> CursorParser::provenance() const { return Parser::provenance(); }

}  // namespace tl
