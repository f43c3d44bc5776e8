// Substring searches tuned for JSON lines, where the quote that starts most
// needles is everywhere: candidates are the places where a needle's first
// and last bytes both match, sixteen at a time.
#include <cstring>

#include "simd.hpp"
#include "text.hpp"

namespace tl::text {

bool contains(std::string_view hay, std::string_view needle) { return find(hay, needle) != std::string_view::npos; }

std::size_t find(std::string_view text, std::string_view needle) {
  const std::size_t n = needle.size();
  if (n < 2 || text.size() < n) return text.find(needle);
  const simd::v16 first = simd::splat(static_cast<unsigned char>(needle.front()));
  const simd::v16 last = simd::splat(static_cast<unsigned char>(needle.back()));
  const char* p = text.data();
  const std::size_t places = text.size() - n + 1;
  auto block = [&](std::size_t at) { return (simd::load(p + at) == first) & (simd::load(p + at + n - 1) == last); };
  const std::size_t at = simd::first_place(
      0, places, block, [&](std::size_t place) { return std::memcmp(p + place, needle.data(), n) == 0; });
  return at == places ? std::string_view::npos : at;
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
