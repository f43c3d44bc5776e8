#include "html.hpp"

#include "common/utf8.hpp"

namespace report::html {

namespace {

unsigned char byte_at(std::string_view s, std::size_t i) { return static_cast<unsigned char>(s[i]); }

}  // namespace

RepairedUtf8 repair_utf8(std::string_view bytes) {
  RepairedUtf8 out;
  out.text = common::repair_utf8(bytes, &out.replaced);
  return out;
}

std::string escape_text(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out.push_back(c);
    }
  }
  return out;
}

void json_for_script(std::string_view json, const Writer& write) {
  std::size_t run = 0;  // start of the bytes not yet written
  for (std::size_t i = 0; i < json.size(); ++i) {
    std::string_view escape;
    std::size_t length = 1;
    switch (json[i]) {
      case '<':
        escape = "\\u003c";
        break;
      case '>':
        escape = "\\u003e";
        break;
      case '&':
        escape = "\\u0026";
        break;
      case '\xE2':
        if (i + 2 < json.size() && json[i + 1] == '\x80' && (json[i + 2] == '\xA8' || json[i + 2] == '\xA9')) {
          escape = json[i + 2] == '\xA8' ? "\\u2028" : "\\u2029";
          length = 3;
        }
        break;
      default:
        break;
    }
    if (escape.empty()) continue;
    if (i > run) write(json.substr(run, i - run));
    write(escape);
    i += length - 1;
    run = i + 1;
  }
  if (run < json.size()) write(json.substr(run));
}

std::string json_for_script(std::string_view json) {
  std::string out;
  out.reserve(json.size() + json.size() / 64);
  json_for_script(json, [&out](std::string_view piece) { out += piece; });
  return out;
}

std::string shorten(std::string_view text, std::size_t max_chars) {
  std::size_t chars = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((byte_at(text, i) & 0xC0) == 0x80) continue;  // continuation byte
    if (chars == max_chars) return std::string(text.substr(0, i)) + "\xE2\x80\xA6";
    ++chars;
  }
  return std::string(text);
}

}  // namespace report::html
