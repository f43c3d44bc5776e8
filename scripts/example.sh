#!/usr/bin/env bash
# Installs what is missing, builds, and runs tracelens on the bundled example
# run; also writes that run's page with tracelens-report.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh build >/dev/null
build/bin/tracelens parse-run --input examples/claude-run --harness claude --version 2.1.217 | tee build/example.json
build/bin/tracelens-report build/example.json > build/example-report.html
echo "example page: $(pwd)/build/example-report.html" >&2
