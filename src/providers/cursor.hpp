// Parser of the cursor harness: Cursor's agent transcripts (JSONL files under
// .cursor/projects/ in the home snapshot), read with rules of their own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "../json.hpp"
#include "parser.hpp"

namespace tl {

// The sub-agents that `enrich` found launched in the transcripts.
struct CursorParseContext : ParseContext {
  std::vector<SubAgent> launched;
};

class CursorParser : public ParserWithContext<CursorParseContext> {
 public:
  CursorParser(std::string label, ParserResolution resolution)
      : ParserWithContext("cursor", std::move(label), resolution) {}
  void enrich(const RunArtifacts& run, ParseContext& context, LogReader& logs, std::vector<Message>& messages,
              std::vector<ToolCall>& tool_calls, std::vector<TodoItem>& todos) const override;
  std::vector<SubAgent> sub_agents(const RunArtifacts& run, const ParseContext& context) const override;
  std::vector<Provenance> provenance() const override;
};

// The readable text of a Cursor content value: a string itself, the pieces of
// an array's elements joined with line feeds, else the empty text.
std::string extract_cursor_text(std::optional<json::Element> content);
// The text of a tool-result element's "content"; absent when there is none.
std::optional<std::string> cursor_tool_result_text(json::Element element);
// The words of `text` joined with single spaces.
std::string collapse(std::string_view text);
// The prompt of a user text: what a user_query tag encloses, or else the
// text without its tags, whitespace-collapsed.
std::string cursor_user_prompt(std::string_view text);
// The todo state of a TodoWrite item's status text ("pending" when absent).
std::string_view cursor_todo_state(std::optional<std::string_view> status);

}  // namespace tl
