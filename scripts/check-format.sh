#!/usr/bin/env bash
# Fails when a C++ source differs from what clang-format makes of it (the
# .clang-format file at the top holds the project's style); prints the files
# to fix.
set -euo pipefail
cd "$(dirname "$0")/.."
bad=()
while IFS= read -r f; do
  clang-format --dry-run --Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done < <(git ls-files '*.cpp' '*.hpp' '*.mm' '*.h' | grep -v '/sdk-decls/')
if [ ${#bad[@]} -gt 0 ]; then
  printf 'not formatted (run clang-format -i): %s\n' "${bad[@]}" >&2
  exit 1
fi
