// The harness-independent evidence of every parse: the terminal capture, screen
// captures and harness files read for prompts, replies, approvals, tool lines,
// checklists and error lines. The activity and the user turns are decided by
// the generic parse once the harness's own logs have been read too.
#pragma once

#include <string_view>
#include <vector>

#include "../artifacts.hpp"
#include "../model.hpp"

namespace tl {

struct CommonParse {
  std::vector<Message> messages;
  std::vector<ToolCall> tool_calls;
  std::vector<TodoItem> todos;
  std::vector<Approval> approvals;
  std::vector<ToolError> tool_errors;
};

// Messages and tool calls come from the terminal only when the run holds no
// session log of the family's harness and the harness has no terminal reading
// of its own. The todo list comes back without duplicates and the tool-error
// list reduced to its distinct errors.
CommonParse common_parse(const RunArtifacts& run, std::string_view family);

}  // namespace tl
