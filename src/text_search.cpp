// Substring searches tuned for JSON lines, where the quote that starts most
// needles is everywhere: candidates are the places where a needle's first
// and last bytes both match, sixteen at a time.
#include <cstring>

#include "simd.hpp"
#include "text.hpp"

namespace tl::text {

namespace {

// Calls hit(place) for the places where `needle` occurs, in order, until it
// returns false. Sixteen candidate places at a time: those where the
// needle's first and last bytes both match are compared in full.
template <typename Hit>
void for_each_place(std::string_view text, std::string_view needle, Hit&& hit) {
  const std::size_t n = needle.size();
  if (n < 2 || text.size() < n) {
    for (std::size_t at = text.find(needle); at != std::string_view::npos; at = text.find(needle, at + 1)) {
      if (!hit(at) || n == 0) return;
    }
    return;
  }
  const simd::v16 first = simd::splat(static_cast<unsigned char>(needle.front()));
  const simd::v16 last = simd::splat(static_cast<unsigned char>(needle.back()));
  const char* p = text.data();
  const std::size_t places = text.size() - n + 1;
  auto block = [&](std::size_t at) { return (simd::load(p + at) == first) & (simd::load(p + at + n - 1) == last); };
  // Checks the candidates of one block; false once `hit` says stop.
  auto check = [&](std::size_t at, auto hits) {
    while (simd::any(hits)) {
      const std::size_t k = simd::first(hits);
      if (std::memcmp(p + at + k + 1, needle.data() + 1, n - 2) == 0 && !hit(at + k)) return false;
      hits[k] = 0;
    }
    return true;
  };
  std::size_t i = 0;
  // Four blocks are tested together: candidates are rare.
  for (; i + 64 <= places; i += 64) {
    const auto b0 = block(i), b1 = block(i + 16), b2 = block(i + 32), b3 = block(i + 48);
    if (!simd::any(b0 | b1 | b2 | b3)) continue;
    if (!check(i, b0) || !check(i + 16, b1) || !check(i + 32, b2) || !check(i + 48, b3)) return;
  }
  for (; i + 16 <= places; i += 16) {
    if (!check(i, block(i))) return;
  }
  for (; i < places; ++i) {
    if (std::memcmp(p + i, needle.data(), n) == 0 && !hit(i)) return;
  }
}

}  // namespace

bool contains(std::string_view hay, std::string_view needle) { return find(hay, needle) != std::string_view::npos; }

std::size_t find(std::string_view text, std::string_view needle) {
  std::size_t found = std::string_view::npos;
  for_each_place(text, needle, [&](std::size_t at) {
    found = at;
    return false;
  });
  return found;
}

std::size_t find_last(std::string_view text, std::string_view needle) {
  const std::size_t n = needle.size();
  if (n < 2 || text.size() < n + 16) return text.rfind(needle);
  // From the end backwards (what is looked for usually sits near the end of
  // its line), four blocks of sixteen places tested together.
  const simd::v16 first = simd::splat(static_cast<unsigned char>(needle.front()));
  const simd::v16 last = simd::splat(static_cast<unsigned char>(needle.back()));
  const char* p = text.data();
  auto block = [&](std::size_t at) { return (simd::load(p + at) == first) & (simd::load(p + at + n - 1) == last); };
  // The last match among the places [at, end) of one block, if any.
  auto last_in = [&](std::size_t at, std::size_t end, auto hits) -> std::size_t {
    if (!simd::any(hits)) return std::string_view::npos;
    for (std::size_t k = 16; k-- > 0;) {
      if (hits[k] != 0 && at + k < end && std::memcmp(p + at + k + 1, needle.data() + 1, n - 2) == 0) return at + k;
    }
    return std::string_view::npos;
  };
  std::size_t i = text.size() - n + 1;
  while (i >= 64) {
    const std::size_t at = i - 64;
    const auto b0 = block(at), b1 = block(at + 16), b2 = block(at + 32), b3 = block(at + 48);
    if (simd::any(b0 | b1 | b2 | b3)) {
      for (std::size_t found :
           {last_in(at + 48, i, b3), last_in(at + 32, i, b2), last_in(at + 16, i, b1), last_in(at, i, b0)}) {
        if (found != std::string_view::npos) return found;
      }
    }
    i = at;
  }
  while (i > 0) {
    const std::size_t at = i >= 16 ? i - 16 : 0;
    if (std::size_t found = last_in(at, i, block(at)); found != std::string_view::npos) return found;
    i = at;
  }
  return std::string_view::npos;
}

}  // namespace tl::text
