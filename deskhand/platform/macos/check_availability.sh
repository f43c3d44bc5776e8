#!/bin/sh
# Proves that the syntax check of the macOS layer (check_syntax.sh) rejects
# what would fail on a Mac: a macOS 14 method or property used without an
# availability check, a use of Point/Rect/Size that the global Carbon types
# make ambiguous, and a function named after an AssertMacros.h macro; and
# that it accepts the correct form of the same code. Exits 77 (skipped) when
# the syntax check is skipped.
set -u
here=$(cd "$(dirname "$0")" && pwd)
probe=$here/probes/clash_probe.mm
status=0

# run CASE EXPECTATION [TEXT]: compiles the probe with PROBE_<CASE> defined;
# EXPECTATION is pass or fail, and a failure must mention TEXT.
run() {
  out=$(DESKHAND_SYNTAX_FLAGS="-DPROBE_$1" sh "$here/check_syntax.sh" "$probe" 2>&1)
  code=$?
  [ "$code" -eq 77 ] && { echo "$out"; exit 77; }
  if [ "$2" = pass ] && [ "$code" -ne 0 ]; then
    echo "FAIL: $1 should pass the syntax check:"; echo "$out"; status=1
  elif [ "$2" = fail ] && [ "$code" -eq 0 ]; then
    echo "FAIL: $1 should fail the syntax check"; status=1
  elif [ "$2" = fail ] && ! printf '%s' "$out" | grep -q -- "$3"; then
    echo "FAIL: $1 failed without \"$3\":"; echo "$out"; status=1
  else
    echo "ok: $1: $2"
  fi
}

run UNGUARDED_METHOD fail "only available on macOS 14.0 or newer"
run UNGUARDED_PROPERTY fail "only available on macOS 14.0 or newer"
run GUARDED pass
run GLOBAL_RECT fail "reference to 'Rect' is ambiguous"
run QUALIFIED_RECT pass
run CHECK_NAME fail "expanded from macro 'check'"
exit "$status"
