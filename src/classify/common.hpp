// The harness-independent part of every parse: the terminal capture, screen
// captures and harness files read for prompts, replies, approvals, tool lines,
// checklists and error lines; the activity decided from them; user turns.
#pragma once

#include <string_view>
#include <vector>

#include "../artifacts.hpp"
#include "../model.hpp"

namespace tl {

struct CommonParse {
  Activity activity;
  std::vector<Message> messages;
  std::vector<ToolCall> tool_calls;
  std::vector<TodoItem> todos;
  std::vector<Approval> approvals;
  std::vector<ToolError> tool_errors;
  std::vector<UserTurn> user_turns;
};

// Messages and tool calls come from the terminal only when the run holds no
// session log of the family's harness and the harness has no terminal reading
// of its own.
CommonParse common_parse(const RunArtifacts& run, std::string_view family);

}  // namespace tl
