#!/bin/sh
# A guided check of deskhand on a real Mac, for a person at the keyboard:
#
#   deskhand/platform/macos/first-run.sh [PATH/TO/deskhand]
#
# (by default build/bin/deskhand of this checkout). Each step says what you
# should see, runs the helper, shows its reply and asks whether you saw it:
#   1. permissions: Screen Recording and Accessibility are granted;
#   2. activation: "key" "tab" reaches TextEdit while this terminal is in front;
#   3. chunking: "type" puts 30 characters with an emoji into TextEdit whole;
#   4. clicks: a click lands in TextEdit and in a Chromium-based app;
#   5. capture sizing: a capture on a Retina display has the point size in
#      pixels (at most 1600 on the longer side), and a window partly off
#      screen is captured whole.
# It needs python3 (for JSON) and changes nothing but the TextEdit document it
# opens and the window you pick for the click. Answers are summed up at the end.
set -u

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
helper=${1:-$root/build/bin/deskhand}
capture_file=${TMPDIR:-/tmp}/deskhand-first-run.png
passed=0
failed=0

if [ "$(uname)" != Darwin ]; then
  echo "This check is for a Mac; elsewhere the tests use the simulated desktop."
  exit 2
fi
if [ ! -x "$helper" ]; then
  echo "No helper at $helper: build it (see deskhand/README.md) or name it."
  exit 2
fi
command -v python3 >/dev/null 2>&1 || { echo "python3 is needed"; exit 2; }

# ask QUESTION: reads y or n from the terminal and counts the answer.
ask() {
  printf '%s [y/n] ' "$1"
  read -r answer </dev/tty
  case $answer in
    y | Y | yes) passed=$((passed + 1)) ;;
    *) failed=$((failed + 1)); echo "  noted as a failure" ;;
  esac
}

pause() {
  printf '%s (press Enter) ' "$1"
  read -r _ </dev/tty
}

# call JSON: runs the helper with the request; prints the reply and the exit
# status; the reply is kept in $reply.
call() {
  reply=$(printf '%s' "$1" | "$helper")
  status=$?
  printf '  request: %s\n  reply (exit %s): %.600s\n' "$1" "$status" "$reply"
}

# json EXPRESSION: evaluates a Python expression over the reply `r` (and the
# window `w` from $window, when set).
json() {
  REPLY_JSON=$reply WINDOW_JSON=${window:-null} python3 -c '
import json, os, sys
r = json.loads(os.environ["REPLY_JSON"] or "null")
w = json.loads(os.environ["WINDOW_JSON"])
v = eval(sys.argv[1])
print(v if isinstance(v, str) else json.dumps(v))' "$1"
}

# find_window PYTHON-CONDITION: lists windows and keeps the first window `w`
# that meets the condition in $window ("null" when there is none).
find_window() {
  call '{"action":"windows"}'
  window=$(REPLY_JSON=$reply python3 -c '
import json, os, sys
r = json.loads(os.environ["REPLY_JSON"] or "{}")
found = [w for w in r.get("windows", []) if eval(sys.argv[1])]
print(json.dumps(found[0]) if found else "null")' "$1")
}

# request ACTION EXTRA: the interaction request for $window, with the extra
# members (JSON text without braces, may be empty).
request() {
  WINDOW_JSON=$window python3 -c '
import json, os, sys
w = json.loads(os.environ["WINDOW_JSON"])
r = {"action": sys.argv[1], "windowId": w["windowId"],
     "target": {k: w[k] for k in ("pid", "x", "y", "width", "height")}}
r.update(json.loads("{" + sys.argv[2] + "}"))
print(json.dumps(r, ensure_ascii=False))' "$1" "$2"
}

echo "== 1. Permissions"
echo "Expect: {\"screen\":true,\"accessibility\":true}. The permissions belong to the"
echo "app that starts the helper (this terminal app), so grant them to it in System"
echo "Settings > Privacy & Security if either is false, quit and reopen it, and run"
echo "this again."
call '{"action":"permissions"}'
ask "Are both true?"

echo
echo "== 2. Activation (macOS 14 and later refuse activation that is not yielded)"
open -a TextEdit
pause "A TextEdit window is open (make a new document if it shows a file dialog). Now click back into this terminal so that it is in front, then"
find_window 'w["bundleId"] == "com.apple.TextEdit"'
if [ "$window" = null ]; then
  echo "  No TextEdit window was listed (is Screen Recording granted?)."
  failed=$((failed + 1))
else
  echo "Expect: TextEdit comes to the front and a tab appears at its insertion point;"
  echo "the reply is {\"complete\":true,\"windowId\":...}, not \"Could not focus the selected app.\""
  call "$(request key '"key": "tab"')"
  ask "Did TextEdit come forward with a tab typed?"

  echo
  echo "== 3. Typing in chunks of 20 UTF-16 code units"
  text='deskhand typed 30 chars: 😀 ok.'
  echo "Expect: exactly \"$text\" (30 characters, the emoji counting as one) after"
  echo "the tab, not cut after 20 characters and not only its first character."
  pause "Click back into this terminal, then"
  call "$(request type "\"text\": \"$text\"")"
  ask "Does TextEdit show the whole text?"

  echo
  echo "== 4. Clicks"
  echo "Expect: the insertion point moves to the middle of the TextEdit window."
  click_at=$(json '"\"x\": %s, \"y\": %s" % (w["width"] // 2, w["height"] // 2)')
  call "$(request click "$click_at")"
  ask "Did the insertion point move there?"

  echo
  echo "== 4. Clicks, continued: a Chromium-based app"
  echo "Open a Chromium-based app (Chrome, Edge, Brave, Arc, or an Electron app such"
  echo "as VS Code or Slack) with a text field, or a button you can see react, in the"
  echo "middle of its front window."
  pause "Then click back into this terminal, and"
  find_window 'w["bundleId"] in ("com.google.Chrome", "com.microsoft.edgemac", "com.brave.Browser", "company.thebrowser.Browser", "com.microsoft.VSCode", "com.tinyspeck.slackmacgap", "com.hnc.Discord", "org.chromium.Chromium")'
  if [ "$window" = null ]; then
    echo "  None of the known Chromium-based apps has a window; skipped."
  else
    echo "  window: $(json 'w["app"] + " — " + w["title"]')"
    echo "Expect: the app comes forward and the click lands in the middle of the"
    echo "window (the field takes the focus, or the button reacts); before the click"
    echo "state and window fields were set, such apps dropped the click."
    click_at=$(json '"\"x\": %s, \"y\": %s" % (w["width"] // 2, w["height"] // 2)')
    call "$(request click "$click_at")"
    ask "Did the click land?"
  fi

  # Step 5 captures TextEdit again.
  find_window 'w["bundleId"] == "com.apple.TextEdit"'
  echo
  echo "== 5. Capture sizing"
  call "$(request capture '')"
  if [ "$status" -eq 0 ]; then
    printf '%s' "$reply" | python3 -c '
import base64, json, sys
r = json.load(sys.stdin)
open(sys.argv[1], "wb").write(base64.b64decode(r["image"]))' "$capture_file"
    echo "  points: $(json 'r["width"]') x $(json 'r["height"]'); pixels: $(json 'r["pixelWidth"]') x $(json 'r["pixelHeight"]')"
    echo "  expected pixels: $(json '"%d x %d" % tuple(max(1, int(s * min(1600 / max(r["width"], r["height"]), 1))) for s in (r["width"], r["height"]))')"
    echo "Expect: the pixel size is the point size (scaled down only past 1600),"
    echo "not twice it on a Retina display; the image (opened now) shows the whole"
    echo "window without its shadow."
    open "$capture_file"
    ask "Do the sizes match and does the image look right?"
    pause "Drag the TextEdit window half off the right edge of the screen, then"
    find_window 'w["bundleId"] == "com.apple.TextEdit"'
    if [ "$window" != null ]; then
      call "$(request capture '')"
      [ "$status" -eq 0 ] && printf '%s' "$reply" | python3 -c '
import base64, json, sys
open(sys.argv[1], "wb").write(base64.b64decode(json.load(sys.stdin)["image"]))' "$capture_file" &&
        open "$capture_file"
      echo "Expect: the image shows the whole window, also the part off screen."
      ask "Is the whole window in the image?"
    fi
  else
    failed=$((failed + 1))
  fi
fi

echo
echo "== $passed passed, $failed failed"
[ "$failed" -eq 0 ]
