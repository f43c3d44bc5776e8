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

Page build_page(std::string_view input) {
  Page page;
  std::size_t input_bytes = input.size();
  bool bom = input.substr(0, 3) == "\xEF\xBB\xBF";
  if (bom) input.remove_prefix(3);

  std::string repaired;
  std::size_t replaced = 0;
  if (!simdjson::validate_utf8(input.data(), input.size())) {
    auto fixed = html::repair_utf8(input);
    repaired = std::move(fixed.text);
    replaced = fixed.replaced;
    input = repaired;
  }
  if (input.find_first_not_of(" \t\r\n") == std::string_view::npos) {
    page.error = "the input is empty, not a JSON object";
    return page;
  }

  simdjson::dom::parser parser;
  simdjson::padded_string padded(input);
  simdjson::dom::element doc;
  if (auto err = parser.parse(padded).get(doc); err != simdjson::SUCCESS) {
    page.error = std::string("the input is not valid JSON (") + simdjson::error_message(err) + ")";
    return page;
  }
  if (doc.type() != simdjson::dom::element_type::OBJECT) {
    page.error = std::string("the input is ") + std::string(type_name(doc.type())) + ", not a JSON object";
    return page;
  }

  std::string meta = "{\"inputBytes\":" + std::to_string(input_bytes) +
                     ",\"replacedUtf8Sequences\":" + std::to_string(replaced) +
                     ",\"byteOrderMark\":" + (bom ? "true" : "false") + "}";
  std::string title = html::escape_text(page_title(doc));

  std::string& out = page.html;
  out.reserve(assets::kBeforeTitle.size() + assets::kAfterDocument.size() + input.size() + input.size() / 32 + 4096);
  out += assets::kBeforeTitle;
  out += title;
  out += assets::kBeforeMeta;
  out += meta;
  out += assets::kBeforeDocument;
  out += html::json_for_script(input);
  out += assets::kAfterDocument;
  return page;
}

}  // namespace report
