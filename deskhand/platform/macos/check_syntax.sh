#!/bin/sh
# Compiles the macOS layer in syntax-only mode against the declarations in
# sdk-decls/, on machines without the macOS SDK: check_syntax.sh [FILE.mm...]
# (by default every .mm beside this script). A misspelt selector, an argument
# of the wrong type, a completion handler of the wrong type, a name that
# clashes with what Apple's headers declare globally, or a macOS 14 API used
# without an availability check fails.
#
# The target is macOS 13 (x86_64, so that the C library headers of this
# machine fit), one version below the first that has every API the layer
# needs, so that each macOS 14 call must sit behind `@available`. The C++
# standard library is the host's libstdc++; the predefined nullability macros
# of a Darwin target are undefined because glibc's headers use those names.
# The declarations are included as system headers, as the SDK's are, and the
# warning flags are the project's.
# Exits 77 (skipped) when clang++ or the libstdc++ headers are not installed.
set -u
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)

clang=${CLANGXX:-clang++}
if ! command -v "$clang" >/dev/null 2>&1; then
  echo "clang++ not found: the Objective-C++ syntax check is skipped"
  exit 77
fi
triplet=$(gcc -dumpmachine 2>/dev/null || echo x86_64-linux-gnu)
gccversion=$(gcc -dumpversion 2>/dev/null | cut -d. -f1)
cxx_headers=/usr/include/c++/$gccversion
if [ -z "$gccversion" ] || [ ! -d "$cxx_headers" ]; then
  echo "libstdc++ headers not found: the Objective-C++ syntax check is skipped"
  exit 77
fi

[ "$#" -gt 0 ] || set -- "$here"/*.mm
status=0
for source in "$@"; do
  echo "checking $source"
  "$clang" -target x86_64-apple-macos13.0 -U__nonnull -U__nullable -D_GNU_SOURCE \
    -x objective-c++ -fsyntax-only -fobjc-arc -fblocks -std=c++20 \
    -Wall -Wextra -Wshadow -Wconversion -Wsign-conversion -Wpedantic -Wold-style-cast -Werror \
    -stdlib=libstdc++ -nostdinc++ -isystem "$cxx_headers" -isystem "/usr/include/$triplet/c++/$gccversion" \
    -isystem /usr/include -isystem "/usr/include/$triplet" \
    ${DESKHAND_SYNTAX_FLAGS:-} -isystem "$here/sdk-decls" -I "$root" "$source" || status=1
done
[ "$status" -eq 0 ] && echo "syntax check passed"
exit "$status"
