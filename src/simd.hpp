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

}  // namespace tl::simd
