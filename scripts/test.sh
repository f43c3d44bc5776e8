#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: unit and end-to-end
# tests in a release build, again under AddressSanitizer and
# UndefinedBehaviorSanitizer, then a short run of each fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
jobs=$(nproc 2>/dev/null || echo 2)

echo "== source format"
scripts/check-format.sh

echo "== workflow files"
scripts/check-workflows.py

echo "== release build"
scripts/build.sh build -DTRACELENS_WERROR=ON
(cd build && ctest --output-on-failure -j"$jobs")

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build"
scripts/sanitize-build.sh
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j"$jobs")

# FUZZ_SECONDS sets each fuzz target's run (default 60); 0 skips the fuzzing.
if [ "${FUZZ_SECONDS:-60}" != 0 ]; then
  echo "== fuzzing"
  scripts/fuzz.sh "${FUZZ_SECONDS:-60}"
fi
echo "== all tests passed"
