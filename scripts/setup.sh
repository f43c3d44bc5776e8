#!/usr/bin/env bash
# Installs the Debian packages the project builds and tests with.
# Idempotent: prints nothing and installs nothing when everything is present.
set -euo pipefail

packages=(
  g++ cmake make pkg-config
  libsimdjson-dev nlohmann-json3-dev libicu-dev libmimalloc-dev libpng-dev libsqlite3-dev
  googletest libgtest-dev
  python3 python3-jsonschema python3-yaml
  chromium chromium-driver python3-selenium
  clang libclang-rt-dev clang-format
  time jq bc
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}" >&2
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq </dev/null >/dev/null
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null >/dev/null
