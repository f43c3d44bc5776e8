#include "opencode.hpp"

// Scaffold: every hook behaves as the interface's default until the OpenCode
// reader lands.
namespace tl {

void OpencodeParser::enrich(const RunArtifacts& run, std::vector<Message>& messages,
                            std::vector<ToolCall>& tool_calls, std::vector<TodoItem>& todos) const {
  Parser::enrich(run, messages, tool_calls, todos);
}

std::vector<SubAgent> OpencodeParser::sub_agents(const RunArtifacts& run) const { return Parser::sub_agents(run); }

}  // namespace tl
