// Byte scanning sixteen bytes at a time with the compiler's portable vector
// types (SSE2 on x86-64, NEON on ARM).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tl::simd {

typedef unsigned char v16 __attribute__((vector_size(16)));

inline v16 load(const char* p) {
  v16 v;
  std::memcpy(&v, p, 16);
  return v;
}

inline v16 splat(unsigned char c) { return c - v16{}; }

template <typename V>
inline bool any(V v) {
  static_assert(sizeof(V) == 16);
  std::uint64_t a, b;
  std::memcpy(&a, &v, 8);
  std::memcpy(&b, reinterpret_cast<const char*>(&v) + 8, 8);
  return (a | b) != 0;
}

// Index of the first non-zero lane; `v` must have one.
template <typename V>
inline std::size_t first(V v) {
  static_assert(sizeof(V) == 16);
  std::uint64_t a, b;
  std::memcpy(&a, &v, 8);
  std::memcpy(&b, reinterpret_cast<const char*>(&v) + 8, 8);
  return a != 0 ? static_cast<std::size_t>(__builtin_ctzll(a)) / 8
                : 8 + static_cast<std::size_t>(__builtin_ctzll(b)) / 8;
}

// Length of the run of bytes at `p` (at most `n`) for which `stop` is false
// in every lane; `stop` maps a block to a lane mask.
template <typename Stop>
inline std::size_t run_until(const char* p, std::size_t n, Stop stop) {
  std::size_t i = 0;
  while (i + 16 <= n) {
    auto m = stop(load(p + i));
    if (any(m)) return i + first(m);
    i += 16;
  }
  while (i < n) {
    char tmp[16] = {};
    std::size_t left = n - i < 16 ? n - i : 16;
    std::memcpy(tmp, p + i, left);
    auto m = stop(load(tmp));
    if (any(m)) {
      std::size_t f = first(m);
      return f < left ? i + f : n;
    }
    i += left;
  }
  return n;
}

// The first of the places [from, places) that `match(at)` confirms among the
// candidates that `block(at)` marks (the lane mask of the sixteen places from
// `at`), or `places` when there is none. Four blocks are tested together, as
// candidates are rare; the last places, fewer than sixteen, all go to `match`.
template <typename Block, typename Match>
inline std::size_t first_place(std::size_t from, std::size_t places, Block block, Match match) {
  auto confirm = [&](std::size_t at, auto hits) {
    while (any(hits)) {
      const std::size_t lane = first(hits);
      if (match(at + lane)) return at + lane;
      hits[lane] = 0;
    }
    return places;
  };
  std::size_t i = from;
  for (; i + 64 <= places; i += 64) {
    const auto b0 = block(i), b1 = block(i + 16), b2 = block(i + 32), b3 = block(i + 48);
    if (!any(b0 | b1 | b2 | b3)) continue;
    std::size_t at = confirm(i, b0);
    if (at == places) at = confirm(i + 16, b1);
    if (at == places) at = confirm(i + 32, b2);
    if (at == places) at = confirm(i + 48, b3);
    if (at != places) return at;
  }
  for (; i + 16 <= places; i += 16) {
    if (const std::size_t at = confirm(i, block(i)); at != places) return at;
  }
  for (; i < places; ++i) {
    if (match(i)) return i;
  }
  return places;
}

}  // namespace tl::simd
