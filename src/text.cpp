#include "text.hpp"

#include "simd.hpp"

#include "common/utf8.hpp"

#include <algorithm>
#include <cstring>
#include <memory>

#include <unicode/ucasemap.h>
#include <unicode/uchar.h>

namespace tl::text {

namespace {

bool is_cont(unsigned char b) { return (b & 0xC0) == 0x80; }

}  // namespace

std::string repair_utf8(std::string_view bytes) {
  if (is_valid_utf8(bytes)) return std::string(bytes);
  return common::repair_utf8(bytes);
}

void repair_utf8_in_place(std::string& s) {
  if (is_valid_utf8(s)) return;
  s = repair_utf8(s);
}

char32_t decode(std::string_view s, std::size_t& pos) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  unsigned char b0 = p[pos];
  if (b0 < 0x80) {
    ++pos;
    return b0;
  }
  std::size_t len = b0 >= 0xF0 ? 4 : b0 >= 0xE0 ? 3 : 2;
  if (pos + len > s.size()) {  // not valid text; treat the byte alone
    ++pos;
    return 0xFFFD;
  }
  char32_t c = b0 & (len == 2 ? 0x1F : len == 3 ? 0x0F : 0x07);
  for (std::size_t k = 1; k < len; ++k) c = (c << 6) | (p[pos + k] & 0x3F);
  pos += len;
  return c;
}

bool is_space(char32_t c) {
  // The Unicode White_Space property (a stable list of 25 code points).
  if (c < 0x80) return c == ' ' || (c >= 0x09 && c <= 0x0D);
  switch (c) {
    case 0x85:
    case 0xA0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000:
      return true;
    default:
      return c >= 0x2000 && c <= 0x200A;
  }
}

namespace {

// Length in bytes of the whitespace character that ends at `end`, or 0.
std::size_t space_before(std::string_view s, std::size_t end) {
  if (end == 0) return 0;
  unsigned char last = static_cast<unsigned char>(s[end - 1]);
  if (last < 0x80) return is_space(last) ? 1 : 0;
  std::size_t start = end - 1;
  while (start > 0 && is_cont(static_cast<unsigned char>(s[start]))) --start;
  std::size_t pos = start;
  char32_t c = decode(s, pos);
  return (pos == end && is_space(c)) ? end - start : 0;
}

}  // namespace

std::string_view trim_start(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    unsigned char b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
      if (!is_space(b)) break;
      ++i;
      continue;
    }
    std::size_t pos = i;
    if (!is_space(decode(s, pos))) break;
    i = pos;
  }
  return s.substr(i);
}

std::string_view trim_end(std::string_view s) {
  std::size_t end = s.size();
  while (std::size_t n = space_before(s, end)) end -= n;
  return s.substr(0, end);
}

std::string_view trim(std::string_view s) { return trim_end(trim_start(s)); }

bool is_blank(std::string_view s) { return trim_start(s).empty(); }

namespace {

struct CaseMapDeleter {
  void operator()(UCaseMap* m) const { ucasemap_close(m); }
};

UCaseMap* root_case_map() {
  static std::unique_ptr<UCaseMap, CaseMapDeleter> map = [] {
    UErrorCode err = U_ZERO_ERROR;
    return std::unique_ptr<UCaseMap, CaseMapDeleter>(ucasemap_open("", 0, &err));
  }();
  return map.get();
}

bool is_ascii(std::string_view s) {
  for (char c : s) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

template <typename Fn>
std::string map_case(std::string_view s, Fn fn) {
  std::string out(s.size() + s.size() / 2 + 8, '\0');
  UErrorCode err = U_ZERO_ERROR;
  int32_t n =
      fn(root_case_map(), out.data(), static_cast<int32_t>(out.size()), s.data(), static_cast<int32_t>(s.size()), &err);
  if (err == U_BUFFER_OVERFLOW_ERROR) {
    out.assign(static_cast<std::size_t>(n), '\0');
    err = U_ZERO_ERROR;
    n = fn(root_case_map(), out.data(), n, s.data(), static_cast<int32_t>(s.size()), &err);
  }
  if (U_FAILURE(err)) return std::string(s);
  out.resize(static_cast<std::size_t>(n));
  return out;
}

}  // namespace

char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

std::string ascii_lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = ascii_lower(c);
  return out;
}

bool iequals_ascii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
  }
  return true;
}

std::string to_lower(std::string_view s) {
  if (is_ascii(s)) return ascii_lower(s);
  return map_case(s, ucasemap_utf8ToLower);
}

std::string to_upper(std::string_view s) {
  if (is_ascii(s)) {
    std::string out(s);
    for (char& c : out) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    }
    return out;
  }
  return map_case(s, ucasemap_utf8ToUpper);
}

namespace {

// Only two characters lower-case to something holding an ASCII letter:
// U+212A (Kelvin sign) to "k", and U+0130 to "i" followed by U+0307, which
// can only end a match. A needle without "k" and not ending in "i" matches
// the lowered text exactly where it matches ASCII-case-insensitively.
bool needs_full_lowering(std::string_view hay, std::string_view needle) {
  if (needle.find('k') != std::string_view::npos && hay.find("\xE2\x84\xAA") != std::string_view::npos) return true;
  return needle.ends_with('i') && hay.find("\xC4\xB0") != std::string_view::npos;
}

using simd::v16;

// Length of the run of visible ASCII bytes and of single spaces that each
// stand before one, from a visible byte at `p` (at most `n` bytes).
std::size_t plain_words_run(const char* p, std::size_t n) {
  auto visible = [](v16 v) { return (v > simd::splat(0x20)) & (v < simd::splat(0x7F)); };
  std::size_t i = 0;
  for (; i + 17 <= n; i += 16) {
    const v16 v = simd::load(p + i);
    const auto keep = visible(v) | ((v == simd::splat(' ')) & visible(simd::load(p + i + 1)));
    const auto stop = ~keep;
    if (simd::any(stop)) return i + simd::first(stop);
  }
  auto visible_byte = [](char c) { return c > 0x20 && c < 0x7F; };
  for (; i < n; ++i) {
    if (visible_byte(p[i])) continue;
    if (p[i] == ' ' && i + 1 < n && visible_byte(p[i + 1])) continue;
    break;
  }
  return i;
}

bool imatch_at(const char* p, std::string_view needle) {
  for (std::size_t k = 0; k < needle.size(); ++k) {
    if (ascii_lower(p[k]) != needle[k]) return false;
  }
  return true;
}

// Length of the run of ASCII bytes other than the carriage return.
std::size_t ascii_no_cr_run(const char* p, std::size_t n) {
  return simd::run_until(p, n, [](v16 v) { return (v == simd::splat('\r')) | (v >= simd::splat(0x80)); });
}

}  // namespace

std::size_t count_line_feeds(std::string_view s) {
  std::size_t n = 0;
  const char* p = s.data();
  const char* end = p + s.size();
  while (p < end) {
    const void* lf = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
    if (lf == nullptr) break;
    ++n;
    p = static_cast<const char*>(lf) + 1;
  }
  return n;
}

std::size_t ifind_ascii(std::string_view hay, std::string_view needle, std::size_t from) {
  if (needle.empty()) return from <= hay.size() ? from : std::string_view::npos;
  if (from > hay.size() || hay.size() - from < needle.size()) return std::string_view::npos;
  const std::size_t k = needle.size();
  const std::size_t mid = k / 2;
  const std::size_t places = hay.size() - k + 1;
  // Candidates must match the first, middle and last needle bytes, each
  // folded with 0x20; they are then confirmed byte by byte.
  const v16 first = simd::splat(static_cast<unsigned char>(needle[0] | 0x20));
  const v16 middle = simd::splat(static_cast<unsigned char>(needle[mid] | 0x20));
  const v16 last = simd::splat(static_cast<unsigned char>(needle[k - 1] | 0x20));
  const v16 fold = simd::splat(0x20);
  const char* p = hay.data();
  auto block = [&](std::size_t at) {
    return ((simd::load(p + at) | fold) == first) & ((simd::load(p + at + mid) | fold) == middle) &
           ((simd::load(p + at + k - 1) | fold) == last);
  };
  const std::size_t at =
      simd::first_place(from, places, block, [&](std::size_t place) { return imatch_at(p + place, needle); });
  return at == places ? std::string_view::npos : at;
}

std::size_t ifind_either_ascii(std::string_view hay, std::string_view a, std::string_view b, std::size_t from) {
  if (a.size() < 2 || b.size() < 2) {
    return std::min(ifind_ascii(hay, a, from), ifind_ascii(hay, b, from));
  }
  const std::size_t longest = std::max(a.size(), b.size());
  if (from > hay.size() || hay.size() - from < longest) {
    return std::min(ifind_ascii(hay, a, from), ifind_ascii(hay, b, from));
  }
  // Candidates match a needle's first and last bytes, folded with 0x20; the
  // first byte's block is loaded once for both. The places from which the
  // longer needle would run past the text are left to ifind_ascii.
  const std::size_t places = hay.size() - longest + 1;
  const v16 fold = simd::splat(0x20);
  const v16 a_first = simd::splat(static_cast<unsigned char>(a.front() | 0x20));
  const v16 a_last = simd::splat(static_cast<unsigned char>(a.back() | 0x20));
  const v16 b_first = simd::splat(static_cast<unsigned char>(b.front() | 0x20));
  const v16 b_last = simd::splat(static_cast<unsigned char>(b.back() | 0x20));
  const char* p = hay.data();
  auto block = [&](std::size_t at) {
    const v16 head = simd::load(p + at) | fold;
    return ((head == a_first) & ((simd::load(p + at + a.size() - 1) | fold) == a_last)) |
           ((head == b_first) & ((simd::load(p + at + b.size() - 1) | fold) == b_last));
  };
  const std::size_t at = simd::first_place(
      from, places, block, [&](std::size_t place) { return imatch_at(p + place, a) || imatch_at(p + place, b); });
  if (at != places) return at;
  return std::min(ifind_ascii(hay, a, places), ifind_ascii(hay, b, places));
}

bool lower_contains(std::string_view hay, std::string_view needle) {
  if (needs_full_lowering(hay, needle)) return to_lower(hay).find(needle) != std::string::npos;
  return ifind_ascii(hay, needle) != std::string_view::npos;
}

bool lower_starts_with(std::string_view hay, std::string_view needle) {
  if (needs_full_lowering(hay.substr(0, needle.size() * 3 + 4), needle)) {
    return to_lower(hay.substr(0, needle.size() * 4 + 8)).starts_with(needle);
  }
  return hay.size() >= needle.size() && imatch_at(hay.data(), needle);
}

bool starts_with_any(std::string_view s, std::initializer_list<std::string_view> prefixes) {
  for (auto p : prefixes) {
    if (s.starts_with(p)) return true;
  }
  return false;
}

bool lower_contains_any(std::string_view hay, std::initializer_list<std::string_view> needles) {
  for (auto n : needles) {
    if (lower_contains(hay, n)) return true;
  }
  return false;
}

bool lower_starts_with_any(std::string_view hay, std::initializer_list<std::string_view> prefixes) {
  for (auto p : prefixes) {
    if (lower_starts_with(hay, p)) return true;
  }
  return false;
}

std::size_t char_count(std::string_view s) {
  std::size_t n = 0;
  for (char c : s) n += !is_cont(static_cast<unsigned char>(c));
  return n;
}

std::string_view take_chars(std::string_view s, std::size_t n) {
  std::size_t i = 0;
  std::size_t count = 0;
  while (i < s.size()) {
    if (!is_cont(static_cast<unsigned char>(s[i]))) {
      if (count == n) break;
      ++count;
    }
    ++i;
  }
  return s.substr(0, i);
}

bool LineReader::next(std::string_view& line) {
  if (pos_ >= text_.size()) return false;
  const char* start = text_.data() + pos_;
  const void* nl = std::memchr(start, '\n', text_.size() - pos_);
  std::size_t end = nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - text_.data()) : text_.size();
  std::size_t line_end = end;
  if (nl && line_end > pos_ && text_[line_end - 1] == '\r') --line_end;
  line = text_.substr(pos_, line_end - pos_);
  pos_ = nl ? end + 1 : text_.size();
  ++number_;
  return true;
}

std::uint64_t LineCounter::line_at(std::size_t offset) {
  offset = std::min(offset, text_.size());
  line_ += count_line_feeds(text_.substr(pos_, offset - pos_));
  pos_ = offset;
  return line_;
}

std::string truncate_readable(std::string_view s, std::size_t max_chars) {
  std::size_t pos = 0;
  std::size_t skipped = 0;
  while (skipped < 64) {
    if (pos >= s.size()) return std::string();
    std::size_t next = pos;
    if (!is_space(decode(s, next))) break;
    pos = next;
    ++skipped;
  }
  if (skipped == 64 && pos < s.size()) {
    std::size_t next = pos;
    if (is_space(decode(s, next))) return std::string(kEllipsis);
  }
  std::string out;
  out.reserve(std::min(s.size() - pos, max_chars * 4) + 4);
  // s[from, pos) goes out unchanged; only a carriage return is rewritten.
  std::size_t from = pos;
  std::size_t copied = 0;
  while (copied < max_chars && pos < s.size()) {
    char c = s[pos];
    if (c == '\r') {
      out.append(s.data() + from, pos - from).push_back('\n');
      pos += (pos + 1 < s.size() && s[pos + 1] == '\n') ? 2u : 1u;
      from = pos;
      ++copied;
    } else if (static_cast<unsigned char>(c) < 0x80) {
      std::size_t run = ascii_no_cr_run(s.data() + pos, std::min(s.size() - pos, max_chars - copied));
      pos += run;
      copied += run;
    } else {
      decode(s, pos);
      ++copied;
    }
  }
  out.append(s.data() + from, pos - from);
  if (pos >= s.size()) {
    out.resize(trim_end(out).size());
    return out;
  }
  std::size_t rest = 0;
  std::size_t p = pos;
  bool only_space = true;
  while (p < s.size() && rest <= 64) {
    if (!is_space(decode(s, p))) {
      only_space = false;
      break;
    }
    ++rest;
  }
  if (only_space && rest <= 64) {
    out.resize(trim_end(out).size());
    return out;
  }
  out.append(kEllipsis);
  return out;
}

std::string collapse_spaces(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  std::size_t pos = 0;
  bool pending_space = false;
  while (pos < s.size()) {
    std::size_t start = pos;
    unsigned char b = static_cast<unsigned char>(s[pos]);
    bool space;
    if (b < 0x80) {
      space = is_space(b);
      ++pos;
    } else {
      space = is_space(decode(s, pos));
    }
    if (space) {
      pending_space = !out.empty();
      continue;
    }
    if (pending_space) {
      out.push_back(' ');
      pending_space = false;
    }
    out.append(s.data() + start, pos - start);
  }
  return out;
}

std::string compact(std::string_view s, std::size_t max_chars) {
  std::string out;
  out.reserve(std::min(s.size(), max_chars * 4 + 4));
  // The output is the input but for its whitespace runs: s[from, pos) goes
  // out unchanged and is copied when a run must be rewritten or dropped.
  std::size_t from = 0;
  std::size_t pos = 0;
  std::size_t count = 0;  // characters in the output so far, or in s[from, pos)
  auto cut = [&](std::size_t at) { return out.append(s.data() + from, at - from).append(kEllipsis); };
  while (pos < s.size()) {
    const unsigned char b = static_cast<unsigned char>(s[pos]);
    if (b > 0x20 && b < 0x7F) {
      // Visible ASCII with single spaces between its words stays as it is.
      const std::size_t room = max_chars - count;
      const std::size_t run = plain_words_run(s.data() + pos, std::min(s.size() - pos, room + 1));
      if (run > room) return cut(pos + room);
      count += run;
      pos += run;
      continue;
    }
    std::size_t next = pos;
    if (!is_space(b < 0x80 ? static_cast<char32_t>(s[next++]) : decode(s, next))) {
      if (count == max_chars) return cut(pos);
      ++count;
      pos = next;
      continue;
    }
    std::size_t end = next;
    for (std::size_t after = end; end < s.size() && is_space(decode(s, after)); after = end) end = after;
    if (end == s.size()) break;  // trailing whitespace is dropped
    if (count == 0) {            // leading whitespace is dropped
      from = pos = end;
      continue;
    }
    // A run between two characters is one space.
    if (count == max_chars) return cut(pos);
    ++count;
    if (end - pos != 1 || b != ' ') {
      out.append(s.data() + from, pos - from).push_back(' ');
      from = end;
    }
    pos = end;
  }
  out.append(s.data() + from, pos - from);
  return out;
}

std::string join_lines(std::span<const std::string_view> pieces) {
  std::size_t n = pieces.size();
  for (std::string_view p : pieces) n += p.size();
  std::string out;
  out.reserve(n);
  LineJoiner joiner(out);
  for (std::string_view p : pieces) joiner.add(p);
  return out;
}

std::string concat(std::initializer_list<std::string_view> pieces) {
  std::size_t n = 0;
  for (auto p : pieces) n += p.size();
  std::string out;
  out.reserve(n);
  for (auto p : pieces) out.append(p);
  return out;
}

std::string source_of(std::string_view path, std::uint64_t line) {
  std::string out;
  out.reserve(path.size() + 12);
  out.append(path);
  out.push_back(':');
  out.append(std::to_string(line));
  return out;
}

std::string_view file_stem(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.rfind('.');
  return dot == std::string_view::npos || dot == 0 ? name : name.substr(0, dot);
}

}  // namespace tl::text
