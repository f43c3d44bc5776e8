#!/usr/bin/env bash
# Configures and builds build-asan: everything with clang under
# AddressSanitizer and UndefinedBehaviorSanitizer, with the fuzz targets, so
# that one sanitizer build serves both the tests and the fuzzing.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
CC=clang CXX=clang++ cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRACELENS_SANITIZE=ON \
  -DTRACELENS_FUZZ=ON -DTRACELENS_WERROR=ON -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link" >/dev/null
cmake --build build-asan -j"$jobs"
