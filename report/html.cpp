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

namespace {

// The value of four hexadecimal digits at `at`, or -1.
long hex4(std::string_view s, std::size_t at) {
  if (at + 4 > s.size()) return -1;
  long v = 0;
  for (std::size_t i = at; i < at + 4; ++i) {
    const char c = s[i];
    long d = -1;
    if (c >= '0' && c <= '9') d = c - '0';
    if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    if (d < 0) return -1;
    v = v * 16 + d;
  }
  return v;
}

bool high_surrogate(long u) { return u >= 0xD800 && u <= 0xDBFF; }
bool low_surrogate(long u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

std::optional<std::string> replace_lone_surrogates(std::string_view json) {
  // Every surrogate escape starts with a backslash, "u" and "d".
  if (json.find("\\ud") == std::string_view::npos && json.find("\\uD") == std::string_view::npos) {
    return std::nullopt;
  }
  std::string out;
  bool changed = false;
  bool in_string = false;
  std::size_t i = 0;
  while (i < json.size()) {
    const char c = json[i];
    if (!in_string || c != '\\' || i + 1 >= json.size()) {
      if (c == '"') in_string = !in_string;
      out.push_back(c);
      ++i;
      continue;
    }
    const long unit = json[i + 1] == 'u' ? hex4(json, i + 2) : -1;
    if (!high_surrogate(unit) && !low_surrogate(unit)) {
      out.append(json.substr(i, 2));
      i += 2;
      continue;
    }
    if (high_surrogate(unit) && i + 7 < json.size() && json[i + 6] == '\\' && json[i + 7] == 'u' &&
        low_surrogate(hex4(json, i + 8))) {
      out.append(json.substr(i, 12));
      i += 12;
      continue;
    }
    out.append("\\uFFFD");
    changed = true;
    i += 6;
  }
  if (!changed) return std::nullopt;
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
