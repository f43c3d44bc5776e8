#include "page.hpp"

#include <simdjson.h>

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

// The browser tab's title: the run's title, else its id, else its harness.
std::string page_title(simdjson::dom::element doc) {
  std::string name(string_member(doc, "/state/title"));
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
  {
    simdjson::dom::parser parser;
    simdjson::dom::element doc;
    auto err = parser.allocate(text.size(), html::kMaxNesting);
    if (err == simdjson::SUCCESS) err = parser.parse(text.data(), text.size(), !padded).get(doc);
    if (err != simdjson::SUCCESS) {
      return std::string("the input is not valid JSON (") + simdjson::error_message(err) + ")";
    }
    if (doc.type() != simdjson::dom::element_type::OBJECT) {
      return std::string("the input is ") + std::string(type_name(doc.type())) + ", not a JSON object";
    }
    title = html::escape_text(page_title(doc));
  }
  std::string meta = "{\"inputBytes\":" + std::to_string(input.size()) +
                     ",\"replacedUtf8Sequences\":" + std::to_string(replaced) +
                     ",\"byteOrderMark\":" + (bom ? "true" : "false") + "}";

  write(assets::kBeforeTitle);
  write(title);
  write(assets::kBeforeMeta);
  write(meta);
  write(assets::kBeforeDocument);
  html::json_for_script(text, write);
  write(assets::kAfterDocument);
  return {};
}

}  // namespace report
