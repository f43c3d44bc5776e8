#!/usr/bin/env bash
# Installs what is missing, builds, and runs tracelens on the bundled example run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh build >/dev/null
build/bin/tracelens parse-run --input examples/claude-run --harness claude --version 2.1.217
