// User turns: each real user prompt opens a turn that owns the messages, tool
// calls and todos recorded after it in the same file.
#pragma once

#include <vector>

#include "../model.hpp"

namespace tl {

std::vector<UserTurn> group_user_turns(const std::vector<Message>& messages, const std::vector<ToolCall>& tool_calls,
                                       const std::vector<TodoItem>& todos, ActivityState state);

}  // namespace tl
