// Tool errors (failure lines in terminal captures, screen captures and logs)
// and the decision of what the run is doing now.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "../artifacts.hpp"
#include "../json.hpp"
#include "../model.hpp"

namespace tl {

// An error scan stops once the tool-error list holds this many entries.
inline constexpr std::size_t kToolErrorScanLimit = 50;

// Failure lines and provider API errors of `text`; sources are `path`, a
// colon and the line number.
void parse_tool_errors(std::string_view path, std::string_view text, std::vector<ToolError>& errors);

// One line of that scan at a time, for callers that read the lines anyway.
class ToolErrorScanner {
 public:
  void line(std::string_view path, std::uint64_t number, std::string_view line, std::vector<ToolError>& errors);
  // The same for a line that the caller has parsed (`parsed` null when it is
  // not one JSON value), which is then not parsed again.
  void parsed_line(std::string_view path, std::uint64_t number, std::string_view line, const json::Element* parsed,
                   std::vector<ToolError>& errors);

 private:
  json::DocParser parser_;
};

// An activity with a reason.
Activity activity(ActivityState state, std::string_view kind, std::string_view reason,
                  std::optional<std::string> source);

// The first rule that applies decides: approvals (unless the manifest says
// the run succeeded), cancel or abort evidence, the manifest's failure or
// success, a terminal showing active work, tool error evidence; else unknown.
Activity classify_activity(const RunArtifacts& run, const std::vector<Message>& messages,
                           const std::vector<Approval>& approvals, const std::vector<ToolError>& tool_errors,
                           const std::vector<ToolCall>& tool_calls);

}  // namespace tl
