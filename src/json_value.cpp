#include "json_value.hpp"

#include "simd.hpp"

namespace tl::json {

const Value* value_member(const Value& v, std::string_view key) {
  if (!v.is_object()) return nullptr;
  auto it = v.find(key);
  if (it == v.end()) return nullptr;
  return &*it;
}

std::optional<std::string_view> value_string_member(const Value& v, std::string_view key) {
  const Value* m = value_member(v, key);
  if (m == nullptr || !m->is_string()) return std::nullopt;
  return std::string_view(m->get_ref<const std::string&>());
}

void write_string(std::string& out, std::string_view s) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.push_back('"');
  std::size_t i = 0;
  while (i < s.size()) {
    // Copy the run that needs no escape, then escape one byte.
    std::size_t run = simd::run_until(s.data() + i, s.size() - i, [](simd::v16 v) {
      return (v < simd::splat(0x20)) | (v == simd::splat('"')) | (v == simd::splat('\\'));
    });
    out.append(s.data() + i, run);
    i += run;
    if (i >= s.size()) break;
    unsigned char c = static_cast<unsigned char>(s[i++]);
    switch (c) {
      case '"':
        out.append("\\\"");
        break;
      case '\\':
        out.append("\\\\");
        break;
      case '\b':
        out.append("\\b");
        break;
      case '\f':
        out.append("\\f");
        break;
      case '\n':
        out.append("\\n");
        break;
      case '\r':
        out.append("\\r");
        break;
      case '\t':
        out.append("\\t");
        break;
      default:
        out.append("\\u00");
        out.push_back(kHex[c >> 4]);
        out.push_back(kHex[c & 0xf]);
    }
  }
  out.push_back('"');
}

void write_value(std::string& out, const Value& v) {
  switch (v.type()) {
    case Value::value_t::object: {
      out.push_back('{');
      bool first = true;
      for (const auto& [k, item] : v.items()) {
        if (!first) out.push_back(',');
        first = false;
        write_string(out, k);
        out.push_back(':');
        write_value(out, item);
      }
      out.push_back('}');
      return;
    }
    case Value::value_t::array: {
      out.push_back('[');
      bool first = true;
      for (const auto& item : v) {
        if (!first) out.push_back(',');
        first = false;
        write_value(out, item);
      }
      out.push_back(']');
      return;
    }
    case Value::value_t::string:
      write_string(out, v.get_ref<const std::string&>());
      return;
    default:
      // Numbers, booleans and null: the library writes integers as parsed and
      // floats in their shortest round-trip form.
      out.append(v.dump(-1, ' ', false, Value::error_handler_t::replace));
      return;
  }
}

Encoded encode(const Value& v) { return Encoded{dump(v)}; }

std::string dump(const Value& v) {
  std::string out;
  write_value(out, v);
  return out;
}

}  // namespace tl::json
