// Steps of the common analysis that the modules' own unit tests check one by
// one; outside the analysis only a provider that reads single todo objects of
// its own lists (omp) calls one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "../json.hpp"
#include "../model.hpp"

namespace tl::detail {

// ---- todos ------------------------------------------------------------------

void parse_todo_object(std::string_view source, json::Element value, std::vector<TodoItem>& todos);

// ---- user turns -------------------------------------------------------------

// Per source path, the (line, turn) pairs of the turns opened in that file.
using TurnLineIndex = std::unordered_map<std::string_view, std::vector<std::pair<std::uint64_t, std::size_t>>>;
std::optional<std::size_t> turn_owner_for_source(std::string_view source, const TurnLineIndex& index);

// ---- tool errors and activity -----------------------------------------------

bool looks_provider_api_error_line(std::string_view lower_line);
std::optional<std::string> structured_tool_error_text(std::string_view output);
// True when the line holds an exit-code phrase ("exit code ", "exit code: ",
// "process exited with code ", " exited with code ", in any letter case) and
// every such phrase is followed by the number 0.
bool exit_codes_all_zero(std::string_view line);

using LatestLines = std::unordered_map<std::string_view, std::uint64_t>;
LatestLines latest_activity_lines(const std::vector<Message>& messages, const std::vector<ToolCall>& tool_calls);
std::optional<std::string> terminal_abort_source(std::string_view terminal, const LatestLines& latest,
                                                 const std::vector<ToolCall>& tool_calls);
std::optional<std::string> terminal_tool_error_source(const LatestLines& latest,
                                                      const std::vector<ToolError>& tool_errors,
                                                      const std::vector<ToolCall>& tool_calls);

}  // namespace tl::detail
