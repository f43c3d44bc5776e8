// The harness-independent evidence of every parse: the terminal capture, screen
// captures and harness files read for prompts, replies, approvals, tool lines,
// checklists and error lines. The activity and the user turns are decided by
// the generic parse once the harness's own logs have been read too.
#pragma once

#include <memory>
#include <optional>
#include <string>
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

// What the checklist and error scans find in one text.
struct TextEvidence {
  std::vector<TodoItem> todos;
  std::vector<ToolError> tool_errors;
};

class TextScan;

// The scans of the run's texts, made as a reader of the harness's logs reads
// them: watching that reader's LogReader, each log is read once for both.
class EvidenceScan final : public LogWatcher {
 public:
  EvidenceScan(const RunArtifacts& run, std::string_view family);
  ~EvidenceScan() override;
  void begin(const TextArtifact& artifact) override;
  void piece(const TextArtifact& piece, std::uint64_t first_line) override;
  void line(std::uint64_t number, std::string_view raw, const json::Element* parsed) override;
  void end(bool complete) override;

 private:
  friend void add_text_evidence(const RunArtifacts& run, std::string_view family, EvidenceScan& scan, CommonParse& out);
  const RunArtifacts& run_;
  std::string family_;
  std::vector<std::optional<TextEvidence>> found_;  // by index in run.texts
  std::optional<std::size_t> current_;
  std::unique_ptr<TextScan> scan_;
};

// The evidence in the terminal capture. Messages and tool calls come from it
// only when the run holds no session log of the family's harness and the
// harness has no terminal reading of its own.
CommonParse terminal_evidence(const RunArtifacts& run, std::string_view family);
// Adds the evidence in the run's texts (screens and harness files), in path
// order: what `scan` saw, and every other text read now; then the tool-error
// list is reduced to its distinct errors. The todo list keeps its duplicates
// for the caller to drop once every todo is in.
void add_text_evidence(const RunArtifacts& run, std::string_view family, EvidenceScan& scan, CommonParse& out);
// Both at once, with the todo list without duplicates.
CommonParse common_parse(const RunArtifacts& run, std::string_view family);

}  // namespace tl
