#include "codex_plan.hpp"

namespace tl {

namespace {

// ASCII whitespace of script text: space, tab, line feed, form feed, carriage
// return (not vertical tab).
bool is_script_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r'; }

bool is_ident_start(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '$'; }

bool is_ident_char(char c) { return is_ident_start(c) || (c >= '0' && c <= '9'); }

std::size_t skip_script_space(std::string_view s, std::size_t i) {
  while (i < s.size() && is_script_space(s[i])) ++i;
  return i;
}

// Parses `text` as one JSON array.
std::optional<simdjson::dom::array> parse_array(std::string_view text, json::DocParser& parser) {
  auto parsed = parser.parse(text);
  if (!parsed) return std::nullopt;
  return json::as_array(*parsed);
}

// A plan has at least one element with a string step and a string status.
bool looks_like_plan(simdjson::dom::array plan) {
  for (json::Element item : plan) {
    if (json::string_member(item, "step") && json::string_member(item, "status")) return true;
  }
  return false;
}

// The plan array of the member whose key starts at `key_pos` (and is
// `key_len` bytes long), if the occurrence is a real member holding a plan.
// The bytes scanned and parsed are taken from `budget`; once it is spent the
// search gives up.
std::optional<simdjson::dom::array> plan_at(std::string_view code, std::size_t key_pos, std::size_t key_len,
                                            json::DocParser& parser, std::size_t& budget) {
  // The key must open an object member: the byte before it is "," or "{".
  std::size_t b = key_pos;
  while (b > 0 && is_script_space(code[b - 1])) --b;
  if (b == 0 || (code[b - 1] != ',' && code[b - 1] != '{')) return std::nullopt;
  std::size_t i = skip_script_space(code, key_pos + key_len);
  if (i >= code.size() || code[i] != ':') return std::nullopt;
  i = skip_script_space(code, i + 1);
  if (i >= code.size() || code[i] != '[') return std::nullopt;
  // A scan cut short by the budget ends the search: its answer would be
  // unknown.
  const std::string_view window = code.substr(0, i + std::min(budget, code.size() - i));
  auto end = find_json_array_end(window, i);
  if (!end) {
    budget = window.size() < code.size() ? 0 : budget - (window.size() - i);
    return std::nullopt;
  }
  budget -= *end - i;
  std::string_view literal = code.substr(i, *end - i);
  if (budget < literal.size()) {
    budget = 0;
    return std::nullopt;
  }
  budget -= literal.size();
  auto plan = parse_array(literal, parser);
  if (!plan) {
    if (budget < literal.size()) {
      budget = 0;
      return std::nullopt;
    }
    budget -= literal.size();
    auto converted = lenient_literal_json(literal);
    if (converted) plan = parse_array(*converted, parser);
  }
  if (!plan || !looks_like_plan(*plan)) return std::nullopt;
  return plan;
}

}  // namespace

std::optional<std::size_t> find_json_array_end(std::string_view text, std::size_t start) {
  std::size_t depth = 0;
  bool in_string = false;
  bool escaped = false;
  for (std::size_t i = start; i < text.size(); ++i) {
    const char c = text[i];
    if (in_string) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        in_string = false;
      }
      continue;
    }
    if (c == '"') {
      in_string = true;
    } else if (c == '[') {
      ++depth;
    } else if (c == ']') {
      if (depth == 0) return std::nullopt;
      if (--depth == 0) return i + 1;
    }
  }
  return std::nullopt;
}

std::optional<std::string> lenient_literal_json(std::string_view lit) {
  // The last significant byte written; kNone at the start, kIdent after an
  // identifier.
  constexpr int kNone = -1;
  constexpr int kIdent = -2;
  std::string out;
  out.reserve(lit.size() + 32);
  int previous = kNone;
  std::size_t i = 0;
  while (i < lit.size()) {
    const char c = lit[i];
    if (c == '"') {
      std::size_t j = i + 1;
      while (j < lit.size() && lit[j] != '"') j += lit[j] == '\\' ? 2u : 1u;
      if (j >= lit.size()) return std::nullopt;
      out.append(lit.substr(i, j + 1 - i));
      previous = '"';
      i = j + 1;
    } else if (is_ident_start(c)) {
      std::size_t j = i + 1;
      while (j < lit.size() && is_ident_char(lit[j])) ++j;
      std::string_view ident = lit.substr(i, j - i);
      std::size_t k = skip_script_space(lit, j);
      if ((previous == '{' || previous == ',') && k < lit.size() && lit[k] == ':') {
        json::write_string(out, ident);
      } else {
        out.append(ident);
      }
      previous = kIdent;
      i = j;
    } else if (c == ',') {
      std::size_t k = skip_script_space(lit, i + 1);
      if (!(k < lit.size() && (lit[k] == ']' || lit[k] == '}'))) {
        out.push_back(',');
        previous = ',';
      }
      ++i;
    } else if (static_cast<unsigned char>(c) >= 0x80) {
      return std::nullopt;
    } else {
      out.push_back(c);
      if (!is_script_space(c)) previous = static_cast<unsigned char>(c);
      ++i;
    }
  }
  return out;
}

std::optional<simdjson::dom::array> parse_nested_update_plan(std::string_view code, json::DocParser& parser) {
  if (code.size() > kNestedPlanTextLimit) return std::nullopt;
  constexpr std::string_view kCall = "tools.update_plan";
  std::size_t call = code.find(kCall);
  if (call == std::string_view::npos) return std::nullopt;
  std::size_t paren = skip_script_space(code, call + kCall.size());
  if (paren >= code.size() || code[paren] != '(') return std::nullopt;
  std::size_t budget = kNestedPlanWorkBudget;
  for (std::string_view key : {std::string_view("\"plan\""), std::string_view("plan")}) {
    for (std::size_t at = code.find(key, paren + 1); at != std::string_view::npos && budget > 0;
         at = code.find(key, at + 1)) {
      if (auto plan = plan_at(code, at, key.size(), parser, budget)) return plan;
    }
  }
  return std::nullopt;
}

std::optional<json::Value> parse_nested_update_plan(std::string_view code) {
  json::DocParser parser;
  auto plan = parse_nested_update_plan(code, parser);
  if (!plan) return std::nullopt;
  json::Value out = json::Value::array();
  for (json::Element item : *plan) out.push_back(json::to_value(item));
  return out;
}

}  // namespace tl
