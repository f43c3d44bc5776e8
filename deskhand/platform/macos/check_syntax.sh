#!/bin/sh
# Compiles the macOS layer in syntax-only mode against the declarations in
# sdk-decls/, on machines without the macOS SDK. A misspelt selector, an
# argument of the wrong type or a completion handler of the wrong type fails.
# Exits 77 (skipped) when clang++ is not installed.
set -u
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)

clang=${CLANGXX:-clang++}
if ! command -v "$clang" >/dev/null 2>&1; then
  echo "clang++ not found: the Objective-C++ syntax check is skipped"
  exit 77
fi

status=0
for source in "$here"/*.mm; do
  echo "checking $source"
  "$clang" -x objective-c++ -fsyntax-only -fobjc-arc -fblocks -fobjc-runtime=macosx-14.0 \
    -std=c++20 -Wall -Wextra -Werror \
    -I "$here/sdk-decls" -I "$root" "$source" || status=1
done
[ "$status" -eq 0 ] && echo "syntax check passed"
exit "$status"
