#include "transcript_text.hpp"

#include <vector>

#include "../text.hpp"

namespace tl {

namespace {

// The texts that json_text joins, as views into the parsed value. With
// `content_lists`, an element whose "content" is itself a list stands for the
// texts of that list (a tool result given as blocks).
bool json_text_pieces(json::Element value, std::vector<std::string_view>& pieces, bool content_lists = false) {
  pieces.clear();
  if (auto s = json::as_string(value)) {
    pieces.push_back(*s);
    return true;
  }
  auto items = json::as_array(value);
  if (!items) return false;
  for (json::Element item : *items) {
    if (content_lists) {
      if (auto inner = json::member(item, "content"); inner && json::is_array(*inner)) {
        std::vector<std::string_view> nested;
        json_text_pieces(*inner, nested);
        // Only a list whose joined text is not empty counts.
        if (nested.size() > 1 || (nested.size() == 1 && !nested[0].empty())) {
          pieces.insert(pieces.end(), nested.begin(), nested.end());
        }
        continue;
      }
    }
    std::optional<std::string_view> piece = json::as_string(item);
    if (!piece) {
      for (std::string_view key : {"text", "content", "thinking"}) {
        if ((piece = json::string_member(item, key))) break;
      }
    }
    if (piece) pieces.push_back(*piece);
  }
  return true;
}

std::string join_pieces(const std::vector<std::string_view>& pieces) { return text::join_lines(pieces); }

}  // namespace

std::optional<std::string> json_text(json::Element value) {
  std::vector<std::string_view> pieces;
  if (!json_text_pieces(value, pieces)) return std::nullopt;
  if (value.is_string()) return std::string(pieces[0]);
  std::string out = join_pieces(pieces);
  if (out.empty()) return std::nullopt;
  return out;
}

std::optional<std::string_view> json_text_view(json::Element value, std::string& storage) {
  thread_local std::vector<std::string_view> pieces;
  if (!json_text_pieces(value, pieces)) return std::nullopt;
  if (value.is_string()) return pieces[0];
  if (pieces.size() == 1) {
    if (pieces[0].empty()) return std::nullopt;
    return pieces[0];
  }
  storage = join_pieces(pieces);
  if (storage.empty()) return std::nullopt;
  return std::string_view(storage);
}

namespace {

std::optional<std::string> truncated_text(json::Element value, std::size_t max_chars, bool content_lists) {
  thread_local std::vector<std::string_view> pieces;
  if (!json_text_pieces(value, pieces, content_lists)) return std::nullopt;
  // A single piece is shortened in place; several are joined first.
  if (pieces.size() == 1) {
    if (pieces[0].empty() && !value.is_string()) return std::nullopt;
    return text::truncate_readable(pieces[0], max_chars);
  }
  std::string joined = join_pieces(pieces);
  if (joined.empty()) return std::nullopt;
  return text::truncate_readable(joined, max_chars);
}

}  // namespace

std::optional<std::string> json_text_truncated(json::Element value, std::size_t max_chars) {
  return truncated_text(value, max_chars, false);
}

std::optional<std::string> tool_result_text(json::Element content, std::size_t max_chars) {
  return truncated_text(content, max_chars, true);
}

std::string strip_tag_blocks(std::string_view text, std::string_view tag) {
  std::string open = text::concat({"<", tag});
  std::string close = text::concat({"</", tag, ">"});
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (true) {
    std::size_t start = text.find(open, pos);
    if (start == std::string_view::npos) {
      out.append(text.substr(pos));
      break;
    }
    std::size_t after = start + open.size();
    bool opens = false;
    if (after < text.size()) {
      std::size_t p = after;
      char32_t c = text::decode(text, p);
      opens = c == '>' || text::is_space(c);
    }
    if (!opens) {
      out.append(text.substr(pos, after - pos));
      pos = after;
      continue;
    }
    std::size_t end = text.find(close, after);
    if (end == std::string_view::npos) {
      out.append(text.substr(pos));
      break;
    }
    out.append(text.substr(pos, start - pos));
    pos = end + close.size();
  }
  return out;
}

std::optional<std::string_view> xml_tag(std::string_view text, std::string_view tag) {
  std::string open = text::concat({"<", tag, ">"});
  std::string close = text::concat({"</", tag, ">"});
  std::size_t start = text.find(open);
  if (start == std::string_view::npos) return std::nullopt;
  start += open.size();
  std::size_t end = text.find(close, start);
  if (end == std::string_view::npos) return std::nullopt;
  return text::trim(text.substr(start, end - start));
}

std::optional<std::string> slash_command_prompt(std::string_view text) {
  auto name = xml_tag(text, "command-name");
  if (!name || name->empty()) return std::nullopt;
  std::string command = name->starts_with('/') ? std::string(*name) : text::concat({"/", *name});
  auto args = xml_tag(text, "command-args");
  if (args && !args->empty()) return text::concat({command, " ", *args});
  return command;
}

namespace {

std::optional<std::uint64_t> parse_line_number(std::string_view s) {
  if (!s.empty() && s[0] == '+') s.remove_prefix(1);
  if (s.empty()) return std::nullopt;
  std::uint64_t n = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    std::uint64_t d = static_cast<std::uint64_t>(c - '0');
    if (n > (UINT64_MAX - d) / 10) return std::nullopt;
    n = n * 10 + d;
  }
  return n;
}

}  // namespace

std::optional<std::pair<std::string_view, std::uint64_t>> source_location(std::string_view source) {
  std::size_t last = source.rfind(':');
  if (last == std::string_view::npos) return std::nullopt;
  std::string_view before = source.substr(0, last);
  for (std::string_view marker : {":TodoWrite", ":plan"}) {
    if (!before.ends_with(marker)) continue;
    std::string_view rest = before.substr(0, before.size() - marker.size());
    std::size_t third = rest.rfind(':');
    if (third == std::string_view::npos) return std::nullopt;
    auto line = parse_line_number(rest.substr(third + 1));
    if (!line) return std::nullopt;
    return std::make_pair(rest.substr(0, third), *line);
  }
  auto line = parse_line_number(source.substr(last + 1));
  if (!line) return std::nullopt;
  return std::make_pair(before, *line);
}

}  // namespace tl
