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

class CursorParser : public Parser {
 public:
  CursorParser(std::string label, ParserResolution resolution) : Parser("cursor", std::move(label), resolution) {}
  void enrich(const RunArtifacts& run, std::vector<Message>& messages, std::vector<ToolCall>& tool_calls,
              std::vector<TodoItem>& todos) const override;
  std::vector<SubAgent> sub_agents(const RunArtifacts& run) const override;
  std::vector<Provenance> provenance() const override;

 private:
  // The Cursor sub-agents found while `enrich` read the transcripts, so that
  // `sub_agents` does not parse them again. Valid only for the run it was
  // made from; any other run is read afresh.
  struct LaunchCache {
    RunIdentity run;
    std::vector<SubAgent> agents;
  };
  bool cache_matches(const RunArtifacts& run) const;
  mutable std::optional<LaunchCache> launches_;
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

// The sub-agents launched in the run's Cursor transcripts (without the
// default ones), each transcript read once.
std::vector<SubAgent> cursor_sub_agents(const RunArtifacts& run);

}  // namespace tl
