#include "json.hpp"

#include "common/json_escapes.hpp"
#include "common/json_tree.hpp"
#include "simd.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <limits>
#include <vector>

namespace tl::json {

void pad(std::string& s) {
  const std::size_t n = s.size();
  s.append(kPadding, '\0');  // within the capacity when it was reserved for them
  s.resize(n);
}

DocParser::DocParser() = default;

std::optional<Element> DocParser::parse(std::string_view text, const std::string* owner) {
  bool in_place = false;
  if (owner != nullptr) {
    const char* begin = owner->data();
    const char* end_of_buffer = begin + owner->capacity();
    in_place = text.data() >= begin && text.data() + text.size() + kPadding <= end_of_buffer;
  }
  simdjson::simdjson_result<Element> result;
  if (in_place) {
    result = parser_.parse(text.data(), text.size(), false);
  } else {
    if (scratch_.size() < text.size() + kPadding) scratch_.resize(text.size() + kPadding, '\0');
    std::memcpy(scratch_.data(), text.data(), text.size());
    result = parser_.parse(scratch_.data(), text.size(), false);
  }
  Element e;
  if (!result.get(e)) return e;
  if (result.error() == simdjson::NUMBER_ERROR) return parse_bigint_fallback(text);
  if (result.error() == simdjson::STRING_ERROR) return parse_surrogate_fallback(text);
  return std::nullopt;
}

// A string that simdjson refuses for a lone surrogate escape is read with
// U+FFFD in its place, so that the rest of the value is kept.
std::optional<Element> DocParser::parse_surrogate_fallback(std::string_view text) {
  std::optional<std::string> repaired = common::replace_lone_surrogates(text);
  if (!repaired) return std::nullopt;
  const std::size_t n = repaired->size();
  repaired->resize(n + kPadding, '\0');
  Element e;
  auto result = parser_.parse(repaired->data(), n, false);
  if (!result.get(e)) return e;
  if (result.error() == simdjson::NUMBER_ERROR) return parse_bigint_fallback(std::string_view(*repaired).substr(0, n));
  return std::nullopt;
}

namespace {

// True when the digits of an integer literal (with optional leading minus)
// do not fit the 64-bit type the value would take.
bool integer_overflows(std::string_view lit) {
  bool negative = !lit.empty() && lit[0] == '-';
  std::string_view digits = negative ? lit.substr(1) : lit;
  std::string_view limit = negative ? "9223372036854775808" : "18446744073709551615";
  if (digits.size() != limit.size()) return digits.size() > limit.size();
  return digits > limit;
}

}  // namespace

// simdjson rejects integers beyond 64 bits; such numbers are read as 64-bit
// floats instead, by rewriting their literal with a fraction part.
std::optional<Element> DocParser::parse_bigint_fallback(std::string_view text) {
  std::string rewritten;
  rewritten.reserve(text.size() + 16 + kPadding);
  bool changed = false;
  std::size_t i = 0;
  while (i < text.size()) {
    char c = text[i];
    if (c == '"') {
      std::size_t j = i + 1;
      while (j < text.size() && text[j] != '"') j += (text[j] == '\\') ? 2u : 1u;
      j = std::min(j + 1, text.size());
      rewritten.append(text.substr(i, j - i));
      i = j;
      continue;
    }
    if (c == '-' || (c >= '0' && c <= '9')) {
      std::size_t j = i + 1;
      while (j < text.size() && text[j] >= '0' && text[j] <= '9') ++j;
      bool integer = j >= text.size() || (text[j] != '.' && text[j] != 'e' && text[j] != 'E');
      std::string_view lit = text.substr(i, j - i);
      rewritten.append(lit);
      if (integer && lit != "-" && integer_overflows(lit)) {
        rewritten.append(".0");
        changed = true;
      }
      i = j;
      continue;
    }
    rewritten.push_back(c);
    ++i;
  }
  if (!changed) return std::nullopt;
  const std::size_t n = rewritten.size();
  rewritten.resize(n + kPadding, '\0');
  Element e;
  if (parser_.parse(rewritten.data(), n, false).get(e)) return std::nullopt;
  return e;
}

std::optional<Value> parse_value(std::string_view text) {
  DocParser p;
  auto e = p.parse(text);
  if (!e) return std::nullopt;
  return to_value(*e);
}

std::optional<Element> member(Element e, std::string_view key) {
  simdjson::dom::object obj;
  if (e.get_object().get(obj)) return std::nullopt;
  // A repeated key: the last occurrence wins, as in the owned value.
  std::optional<Element> found;
  for (auto field : obj) {
    // Most keys differ from the wanted one in length or first byte; only the
    // others are compared whole.
    const std::string_view k = field.key;
    if (k.size() == key.size() && (k.empty() || (k[0] == key[0] && k == key))) found = field.value;
  }
  return found;
}

bool read_fields(Element e, std::initializer_list<Field> fields) {
  simdjson::dom::object obj;
  if (e.get_object().get(obj)) return false;
  // The fields chained by key length (the last bucket takes every longer
  // key), so that a member is compared only with the keys of its length.
  constexpr std::size_t kBuckets = 32;
  constexpr std::size_t kMaxFields = 255;
  std::array<std::uint8_t, kBuckets> head{};      // 1-based index of a bucket's first field; 0 for none
  std::array<std::uint8_t, kMaxFields + 1> next;  // written below for every field before it is read
  const Field* const list = fields.begin();
  const std::size_t count = std::min(fields.size(), kMaxFields);
  for (std::size_t i = count; i-- > 0;) {
    const std::size_t bucket = std::min(list[i].key.size(), kBuckets - 1);
    next[i + 1] = head[bucket];
    head[bucket] = static_cast<std::uint8_t>(i + 1);
  }
  for (auto member : obj) {
    const std::string_view key = member.key;
    for (std::size_t at = head[std::min(key.size(), kBuckets - 1)]; at != 0; at = next[at]) {
      const std::string_view want = list[at - 1].key;
      // Keys are short: a byte loop beats a call to memcmp.
      std::size_t i = 0;
      while (i < key.size() && want[i] == key[i]) ++i;
      if (i == key.size()) {
        *list[at - 1].slot = member.value;
        break;
      }
    }
  }
  return true;
}

std::optional<Element> pointer(Element e, std::string_view ptr) {
  if (ptr.empty()) return e;
  if (ptr[0] != '/') return std::nullopt;
  Element cur = e;
  std::size_t pos = 1;
  std::string token;
  while (true) {
    std::size_t next = ptr.find('/', pos);
    std::string_view raw = ptr.substr(pos, next == std::string_view::npos ? std::string_view::npos : next - pos);
    token.clear();
    for (std::size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] == '~' && i + 1 < raw.size() && (raw[i + 1] == '0' || raw[i + 1] == '1')) {
        token.push_back(raw[i + 1] == '0' ? '~' : '/');
        ++i;
      } else {
        token.push_back(raw[i]);
      }
    }
    if (cur.is_object()) {
      auto m = member(cur, token);
      if (!m) return std::nullopt;
      cur = *m;
    } else if (cur.is_array()) {
      if (token.empty() || (token.size() > 1 && token[0] == '0')) return std::nullopt;
      std::size_t index = 0;
      for (char c : token) {
        if (c < '0' || c > '9') return std::nullopt;
        if (index > (std::numeric_limits<std::size_t>::max() - 9) / 10) return std::nullopt;
        index = index * 10 + static_cast<std::size_t>(c - '0');
      }
      auto arr = as_array(cur);
      Element item;
      if (arr->at(index).get(item)) return std::nullopt;
      cur = item;
    } else {
      return std::nullopt;
    }
    if (next == std::string_view::npos) break;
    pos = next + 1;
  }
  return cur;
}

std::optional<std::string_view> as_string(Element e) {
  std::string_view s;
  if (e.get_string().get(s)) return std::nullopt;
  return s;
}

std::optional<std::string_view> string_member(Element e, std::string_view key) {
  auto m = member(e, key);
  if (!m) return std::nullopt;
  return as_string(*m);
}

std::optional<std::string_view> string_at(Element e, std::string_view ptr) {
  auto m = pointer(e, ptr);
  if (!m) return std::nullopt;
  return as_string(*m);
}

std::optional<bool> as_bool(Element e) {
  bool b;
  if (e.get_bool().get(b)) return std::nullopt;
  return b;
}

std::optional<bool> bool_member(Element e, std::string_view key) {
  auto m = member(e, key);
  if (!m) return std::nullopt;
  return as_bool(*m);
}

bool is_true(Element e, std::string_view key) { return bool_member(e, key).value_or(false); }

bool is_true_at(Element e, std::string_view ptr) {
  auto m = pointer(e, ptr);
  return m && as_bool(*m).value_or(false);
}

std::optional<simdjson::dom::array> as_array(Element e) {
  simdjson::dom::array a;
  if (e.get_array().get(a)) return std::nullopt;
  return a;
}

std::optional<simdjson::dom::object> as_object(Element e) {
  simdjson::dom::object o;
  if (e.get_object().get(o)) return std::nullopt;
  return o;
}

bool is_object(Element e) { return e.is_object(); }
bool is_array(Element e) { return e.is_array(); }
bool is_string(Element e) { return e.is_string(); }
bool is_null(Element e) { return e.is_null(); }

std::optional<Element> first_present(Element e, std::initializer_list<std::string_view> keys) {
  for (auto k : keys) {
    if (auto m = member(e, k)) return m;
  }
  return std::nullopt;
}

Value to_value(Element e) { return common::to_owned(e); }

namespace {

// Writes elements as write_value writes their owned copies. The members of
// the objects being written share one list: each object sorts its own
// stretch at the end of it and drops it when done.
class Encoder {
 public:
  using Member = std::pair<std::string_view, Element>;
  Encoder(std::string& out, std::vector<Member>& members) : out_(out), members_(members) {}

  void element(Element e) {
    using simdjson::dom::element_type;
    switch (e.type()) {
      case element_type::OBJECT:
        object(e.get_object().value_unsafe());
        return;
      case element_type::ARRAY: {
        out_.push_back('[');
        bool first = true;
        const simdjson::dom::array items = e.get_array().value_unsafe();
        for (Element item : items) {
          if (!first) out_.push_back(',');
          first = false;
          element(item);
        }
        out_.push_back(']');
        return;
      }
      case element_type::STRING:
        write_string(out_, e.get_string().value_unsafe());
        return;
      case element_type::INT64:
        integer(e.get_int64().value_unsafe());
        return;
      case element_type::UINT64:
        integer(e.get_uint64().value_unsafe());
        return;
      case element_type::DOUBLE:
        write_value(out_, Value(e.get_double().value_unsafe()));
        return;
      case element_type::BOOL:
        out_.append(e.get_bool().value_unsafe() ? "true" : "false");
        return;
      case element_type::NULL_VALUE:
        break;
    }
    out_.append("null");
  }

 private:
  void object(simdjson::dom::object o) {
    const std::size_t base = members_.size();
    for (auto field : o) members_.emplace_back(field.key, field.value);
    const std::size_t end = members_.size();
    // A stable order keeps the members of one key in their written order,
    // so that the last of them is the one kept.
    auto by_key = [](const Member& a, const Member& b) { return a.first < b.first; };
    auto first_member = members_.begin() + static_cast<std::ptrdiff_t>(base);
    if (end - base <= 16) {
      for (auto it = first_member + 1; it < members_.end(); ++it) {
        std::rotate(std::upper_bound(first_member, it, *it, by_key), it, it + 1);
      }
    } else {
      std::stable_sort(first_member, members_.end(), by_key);
    }
    out_.push_back('{');
    bool first = true;
    for (std::size_t i = base; i < end; ++i) {
      if (i + 1 < end && members_[i + 1].first == members_[i].first) continue;
      if (!first) out_.push_back(',');
      first = false;
      write_string(out_, members_[i].first);
      out_.push_back(':');
      element(members_[i].second);  // may add members past `end`
    }
    members_.resize(base);
    out_.push_back('}');
  }

  template <typename Int>
  void integer(Int v) {
    char buf[24];
    auto [last, ec] = std::to_chars(buf, buf + sizeof buf, v);
    out_.append(buf, ec == std::errc() ? last : buf);
  }

  std::string& out_;
  std::vector<Member>& members_;
};

}  // namespace

Encoded encode(Element e) {
  // Written into buffers that keep their capacity from call to call, then
  // copied once at its final size: growing each text by doubling cost more
  // than the copy.
  thread_local std::string scratch;
  thread_local std::vector<Encoder::Member> members;
  scratch.clear();
  members.clear();
  Encoder(scratch, members).element(e);
  return Encoded{scratch};
}

}  // namespace tl::json
