// Text operations on transcript values: the text of a JSON content value,
// tag blocks, slash-command prompts, XML-like tags and source locations.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "../json.hpp"

namespace tl {

// The readable text of a content value: a string itself, or the texts of an
// array's strings and of its elements' "text", "content" or "thinking"
// members joined with line feeds; none for any other value.
std::optional<std::string> json_text(json::Element value);
// json_text as a view: into the parsed value when there is one piece, else
// into `storage`, which holds the joined pieces.
std::optional<std::string_view> json_text_view(json::Element value, std::string& storage);
// truncate_readable of json_text, without joining when there is one piece.
std::optional<std::string> json_text_truncated(json::Element value, std::size_t max_chars);
// The same for a line's content list when it carries a tool result: an element
// whose "content" is itself a list stands for json_text of that list.
std::optional<std::string> tool_result_text(json::Element content, std::size_t max_chars);
// The text without its "<tag>…</tag>" blocks.
std::string strip_tag_blocks(std::string_view text, std::string_view tag);
// The prompt of a slash command's "<command-name>" text, if it is one.
std::optional<std::string> slash_command_prompt(std::string_view text);
// The trimmed text between the first "<tag>" and the first "</tag>" after it.
std::optional<std::string_view> xml_tag(std::string_view text, std::string_view tag);
// "path:N" (or "path:N:TodoWrite:K", "path:N:plan:K") to its path and line.
std::optional<std::pair<std::string_view, std::uint64_t>> source_location(std::string_view source);

}  // namespace tl
