// User turn grouping: one turn per user message, with the messages, tool
// calls and todos that belong to it.
#include <algorithm>

#include "detail.hpp"
#include "transcript_text.hpp"
#include "turns.hpp"

namespace tl {

using detail::turn_owner_for_source;
using detail::TurnLineIndex;

std::optional<std::size_t> detail::turn_owner_for_source(std::string_view source, const TurnLineIndex& index) {
  auto loc = source_location(source);
  if (!loc) return std::nullopt;
  auto it = index.find(loc->first);
  if (it == index.end()) return std::nullopt;
  const auto& entries = it->second;
  auto after = std::upper_bound(entries.begin(), entries.end(), loc->second,
                                [](std::uint64_t line, const auto& e) { return line < e.first; });
  if (after == entries.begin()) return std::nullopt;
  return std::prev(after)->second;
}

std::vector<UserTurn> group_user_turns(const std::vector<Message>& messages, const std::vector<ToolCall>& tool_calls,
                                       const std::vector<TodoItem>& todos, ActivityState state) {
  std::vector<UserTurn> turns;
  std::vector<std::uint64_t> starts;
  TurnLineIndex index;
  for (const auto& m : messages) {
    if (m.role != "user") continue;
    std::size_t k = turns.size();
    UserTurn turn;
    turn.position = k;
    turn.start_message_position = m.position;
    turn.prompt = m.text;
    turns.push_back(std::move(turn));
    starts.push_back(m.position);
    if (auto loc = source_location(m.source)) index[loc->first].emplace_back(loc->second, k);
  }
  if (turns.empty()) return turns;
  for (auto& [path, entries] : index) std::sort(entries.begin(), entries.end());

  for (const auto& m : messages) {
    auto after = std::upper_bound(starts.begin(), starts.end(), m.position);
    if (after == starts.begin()) continue;
    turns[static_cast<std::size_t>(after - starts.begin()) - 1].message_positions.push_back(m.position);
  }
  for (const auto& call : tool_calls) {
    if (auto k = turn_owner_for_source(call.source, index)) turns[*k].tool_call_positions.push_back(call.position);
  }
  for (const auto& todo : todos) {
    if (auto k = turn_owner_for_source(todo.source, index)) turns[*k].todo_positions.push_back(todo.position);
  }
  for (std::size_t k = 0; k < turns.size(); ++k) {
    turns[k].state = k + 1 == turns.size() ? state : ActivityState::Finished;
  }
  return turns;
}

}  // namespace tl
