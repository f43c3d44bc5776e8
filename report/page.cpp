#include "page.hpp"

#include <simdjson.h>

#include "first_screen.hpp"
#include "html.hpp"
#include "page_assets.hpp"

namespace report {

namespace {

constexpr std::size_t kTitleChars = 160;

std::string_view type_name(simdjson::dom::element_type type) {
  switch (type) {
    case simdjson::dom::element_type::ARRAY:
      return "an array";
    case simdjson::dom::element_type::STRING:
      return "a string";
    case simdjson::dom::element_type::BOOL:
      return "a boolean";
    case simdjson::dom::element_type::NULL_VALUE:
      return "null";
    case simdjson::dom::element_type::OBJECT:
      return "an object";
    default:
      return "a number";
  }
}

std::string_view string_member(simdjson::dom::element element, std::string_view pointer) {
  std::string_view text;
  if (element.at_pointer(pointer).get_string().get(text) != simdjson::SUCCESS) return {};
  return text;
}

// The browser tab's title: the run's title, else its first prompt, else its
// id, else its harness.
std::string page_title(simdjson::dom::element doc) {
  std::string name(string_member(doc, "/state/title"));
  if (name.empty()) name = string_member(doc, "/state/userTurns/0/prompt");
  if (name.empty()) {
    simdjson::dom::element run_id;
    if (doc.at_pointer("/runId").get(run_id) == simdjson::SUCCESS && !run_id.is_null()) {
      std::string_view id;
      name = run_id.get_string().get(id) == simdjson::SUCCESS ? std::string(id) : simdjson::to_string(run_id);
    }
  }
  if (name.empty()) name = string_member(doc, "/harness");
  std::string title = "tracelens report";
  if (!name.empty()) title += " \xC2\xB7 " + html::shorten(name, kTitleChars);
  return title;
}

// A JSON string of `text` (valid UTF-8), escaped as JSON requires.
std::string json_string(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      static constexpr char kHex[] = "0123456789abcdef";
      out += "\\u00";
      out += kHex[u >> 4];
      out += kHex[u & 15];
    } else {
      out += c;
    }
  }
  return out + "\"";
}

constexpr std::string_view kRecordLists[] = {"messages", "toolCalls"};
constexpr std::size_t kPartBytes = 256 * 1024;  // records per element, by size

bool is_record_list(std::string_view key, simdjson::dom::element value) {
  if (!value.is_array()) return false;
  for (std::string_view k : kRecordLists) {
    if (k == key) return true;
  }
  return false;
}

// Writes the document as the page reads it: one element with the document
// whose "state" lists of messages and tool calls are written empty, then
// those records in elements of about kPartBytes each, in order, each naming
// its list. The page reads them one after the other, so the browser never
// holds one string of the whole document, and can show the first screen
// while it still reads the rest.
void write_document(simdjson::dom::element doc, const html::Writer& write) {
  std::string head = "{";
  bool first = true;
  for (auto [key, value] : simdjson::dom::object(doc)) {
    if (!first) head += ',';
    head += json_string(key);
    head += ':';
    first = false;
    if (key != "state" || !value.is_object()) {
      head += simdjson::to_string(value);
      continue;
    }
    head += "{";
    bool first_member = true;
    for (auto [k, v] : simdjson::dom::object(value)) {
      if (!first_member) head += ',';
      head += json_string(k);
      head += ':';
      head += is_record_list(k, v) ? std::string("[]") : simdjson::to_string(v);
      first_member = false;
    }
    head += "}";
  }
  head += "}";
  write("<script type=\"application/json\" id=\"tracelens-document\">");
  html::json_for_script(head, write);
  write("</script>\n");

  simdjson::dom::element state;
  if (doc["state"].get(state) != simdjson::SUCCESS || !state.is_object()) return;
  std::string part;
  auto flush = [&](std::string_view list) {
    if (part.empty()) return;
    write("<script type=\"application/json\" class=\"tracelens-records\" data-list=\"");
    write(list);
    write("\">[");
    html::json_for_script(part, write);
    write("]</script>\n");
    part.clear();
  };
  // Duplicate keys: JSON.parse keeps the last, and so does the page.
  for (std::string_view list : kRecordLists) {
    simdjson::dom::element records;
    bool found = false;
    for (auto [k, v] : simdjson::dom::object(state)) {
      if (k == list && v.is_array()) {
        records = v;
        found = true;
      }
    }
    if (!found) continue;
    for (simdjson::dom::element record : simdjson::dom::array(records)) {
      if (!part.empty()) part += ',';
      part += simdjson::to_string(record);
      if (part.size() >= kPartBytes) flush(list);
    }
    flush(list);
  }
}

}  // namespace

std::string write_page(const std::string& input, const html::Writer& write) {
  std::string_view text = input;
  bool bom = text.substr(0, 3) == "\xEF\xBB\xBF";
  if (bom) text.remove_prefix(3);
  bool padded = input.capacity() - input.size() >= simdjson::SIMDJSON_PADDING;

  std::string repaired;
  std::size_t replaced = 0;
  if (!simdjson::validate_utf8(text.data(), text.size())) {
    auto fixed = html::repair_utf8(text);
    repaired = std::move(fixed.text);
    replaced = fixed.replaced;
    repaired.reserve(repaired.size() + simdjson::SIMDJSON_PADDING);
    text = repaired;
    padded = true;
  }
  if (text.find_first_not_of(" \t\r\n") == std::string_view::npos) return "the input is empty, not a JSON object";

  std::string title;
  std::string header;
  simdjson::dom::parser parser;
  simdjson::dom::element doc;
  {
    auto err = parser.allocate(text.size(), html::kMaxNesting);
    if (err == simdjson::SUCCESS) err = parser.parse(text.data(), text.size(), !padded).get(doc);
    if (err != simdjson::SUCCESS) {
      return std::string("the input is not valid JSON (") + simdjson::error_message(err) + ")";
    }
    if (doc.type() != simdjson::dom::element_type::OBJECT) {
      return std::string("the input is ") + std::string(type_name(doc.type())) + ", not a JSON object";
    }
    title = html::escape_text(page_title(doc));
    header = first_screen_html(doc);
  }
  std::string meta = "{\"inputBytes\":" + std::to_string(input.size()) +
                     ",\"replacedUtf8Sequences\":" + std::to_string(replaced) +
                     ",\"byteOrderMark\":" + (bom ? "true" : "false") + "}";

  for (std::string_view part : assets::kBeforeTitle) write(part);
  write(title);
  for (std::string_view part : assets::kBeforeHeader) write(part);
  write(header);
  for (std::string_view part : assets::kBeforeMeta) write(part);
  write(meta);
  for (std::string_view part : assets::kBeforeDocument) write(part);
  write_document(doc, write);
  for (std::string_view part : assets::kAfterDocument) write(part);
  return {};
}

}  // namespace report
