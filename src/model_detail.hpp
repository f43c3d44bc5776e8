// The encoding of one record alone, which the document's encoder writes in
// place; the unit tests check records one by one through it.
#pragma once

#include <string>

namespace tl::detail {

// The compact JSON of one record (Activity, Message, ToolCall, TodoItem,
// UserTurn, SubAgent, Approval, ToolError, ContextArtifact or Provenance).
template <typename Record>
std::string record_json(const Record& record);

}  // namespace tl::detail
