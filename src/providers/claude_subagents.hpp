// Claude sub-agents: launches through the task and agent tools, their launch
// results, task notifications and messages sent to running agents, replayed
// from the Claude transcripts.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "../artifacts.hpp"
#include "../json.hpp"
#include "../model.hpp"
#include "../text.hpp"

namespace tl {

// The members of a Claude transcript line that the transcript's scans look
// at, read in one pass over the line.
struct ClaudeLine {
  json::Element element;
  std::optional<json::Element> type, message, cwd, git_branch, session_id;
};
ClaudeLine read_claude_line(json::Element line);

// Ids read from a line are looked up without copying them.
template <typename T>
using IdMap = text::TextMap<T>;

// Working state of one replay over all Claude transcripts of a run.
struct ClaudeSubAgentTracker {
  // In order of first launch; this list is the result.
  std::vector<SubAgent> agents;
  // Tool-use id of the launching call to its index in `agents`.
  IdMap<std::size_t> by_tool_use_id;
  // Agent id or task id to its index in `agents`.
  IdMap<std::size_t> by_task_id;
  // Tool-use id of a message sent to a sub-agent to the agent's index and
  // its state before the message.
  IdMap<std::pair<std::size_t, ActivityState>> pending_messages;
  // Task notifications already applied, by their text.
  std::unordered_set<std::string> seen_notifications;
};

// A tool result's content flattened to text.
std::string claude_event_text(std::optional<json::Element> value);

// Applies one parsed transcript line (line `number` of the transcript at
// `path`) to the tracker.
void track_claude_sub_agent_line(ClaudeSubAgentTracker& tracker, const ClaudeLine& line, std::string_view path,
                                 std::uint64_t number);

// The run's sub-agents, each with its latest state.
std::vector<SubAgent> claude_sub_agents(const RunArtifacts& run);

}  // namespace tl
