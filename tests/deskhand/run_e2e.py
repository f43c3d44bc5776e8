#!/usr/bin/python3
"""End-to-end tests of deskhand on simulated desktops.

Usage: run_e2e.py PATH/TO/deskhand [unittest options]

Each test writes a desktop description, runs the program with one request on
standard input and DESKHAND_SIM_DESKTOP naming the description, and checks the
reply (parsed as JSON), the exit status, that standard error stays empty, and
the events the program posted (the desktop's event log).
"""

import base64
import json
import os
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import zlib

BINARY = None

PID = 42
OTHER_PID = 99
FRAME = {"x": 100, "y": 200, "width": 800, "height": 600}
TARGET = {"pid": PID, **FRAME}

LOCKED = "This Mac is locked. Unlock it before using screenshots or app control."
NO_SCREEN_RECORDING = "Enable Screen Recording for Mirel's Mac helper in System Settings, then reconnect."
UNAVAILABLE = "The selected window is unavailable. List windows again."
TOO_LARGE = "Window screenshot exceeds 3 MB; resize the window and try again."
NO_ACCESSIBILITY = "Enable Accessibility for Mirel's Mac helper in System Settings, then reconnect."
GEOMETRY_CHANGED = "Window geometry changed. Capture it again before interacting."
CLOSED = "The application closed."
NOT_FOCUSED = "Could not focus the selected app."
NO_FOCUSED_WINDOW = "Cannot identify the focused window. Focus the selected window manually and capture again."
CANNOT_VERIFY = "Cannot verify the focused window."
DIFFERENT_WINDOW = "A different window has focus. Focus the selected window and capture again."
AMBIGUOUS = ("The focused window is ambiguous or changed. Move overlapping windows apart "
             "and capture the selected window again.")
OUTSIDE = "Click is outside the selected window."
INVALID_TEXT = "Invalid text"
NO_KEYBOARD_EVENT = "Cannot create keyboard event"
NO_MOUSE_EVENT = "Cannot create mouse event"
UNSUPPORTED_KEY = "Unsupported key"
UNKNOWN_ACTION = "Unknown Mac action"
INVALID_INPUT = "Invalid Mac input"
FAILED = "Mac action failed"


def window(window_id, pid=PID, title="Notes", layer=None, owner=True, **frame):
    w = {"windowId": window_id, **(frame or FRAME), "title": title}
    if layer is not None:
        w["layer"] = layer
    w["owner"] = {"pid": pid, "name": "Editor %d" % pid, "bundleId": "com.example.app%d" % pid} if owner else None
    return w


def desktop(**overrides):
    """A granted, unlocked desktop: window 7 of process 42, and process 99 in front."""
    d = {
        "screenRecording": True,
        "accessibility": True,
        "windows": [window(3, pid=OTHER_PID, title="Other", x=0, y=0, width=500, height=400), window(7)],
        "frontmost": OTHER_PID,
    }
    d.update(overrides)
    return d


def interaction(action, **arguments):
    return {"action": action, "windowId": 7, "target": dict(TARGET), **arguments}


def png_info(data):
    """Checks a PNG's structure (signature, chunk CRCs, pixel data size) and returns (width, height)."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG signature"
    at, width, height, idat, chunks = 8, None, None, b"", []
    while at < len(data):
        (length,) = struct.unpack(">I", data[at:at + 4])
        kind = data[at + 4:at + 8]
        body = data[at + 8:at + 8 + length]
        (crc,) = struct.unpack(">I", data[at + 8 + length:at + 12 + length])
        assert zlib.crc32(kind + body) & 0xFFFFFFFF == crc, "bad CRC in %r" % kind
        chunks.append(kind)
        if kind == b"IHDR":
            width, height, depth, color = struct.unpack(">IIBB", body[:10])
            channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[color]
            row = 1 + (width * channels * depth + 7) // 8
        elif kind == b"IDAT":
            idat += body
        at += 12 + length
    assert chunks[0] == b"IHDR" and chunks[-1] == b"IEND", chunks
    assert len(zlib.decompress(idat)) == height * row, "pixel data of the wrong size"
    return width, height


class Deskhand(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.log = os.path.join(self.dir.name, "events.jsonl")

    def tearDown(self):
        self.dir.cleanup()

    def call(self, request, desk=None, raw=None, env_desktop=True):
        """Runs deskhand; returns (reply, status, events). `raw` is sent as is."""
        env = dict(os.environ)
        env.pop("DESKHAND_SIM_DESKTOP", None)
        if desk is not None and env_desktop:
            desk = dict(desk)
            desk.setdefault("eventLog", self.log)
            path = os.path.join(self.dir.name, "desktop.json")
            with open(path, "w", encoding="utf-8") as f:
                json.dump(desk, f)
            env["DESKHAND_SIM_DESKTOP"] = path
        if os.path.exists(self.log):
            os.remove(self.log)
        stdin = raw if raw is not None else json.dumps(request).encode()
        done = subprocess.run([BINARY], input=stdin, capture_output=True, env=env, timeout=60)
        self.assertEqual(done.stderr, b"", "nothing is written on standard error")
        reply = json.loads(done.stdout.decode("utf-8"))
        self.assertIsInstance(reply, dict)
        events = []
        if os.path.exists(self.log):
            with open(self.log, encoding="utf-8") as f:
                events = [json.loads(line) for line in f]
        return reply, done.returncode, events

    def assertError(self, request, desk, message, raw=None):
        reply, status, events = self.call(request, desk, raw=raw)
        self.assertEqual(reply, {"error": message})
        self.assertEqual(status, 1)
        self.assertEqual(events, [], "no event is posted on a failure")
        return events

    def assertComplete(self, request, desk):
        reply, status, events = self.call(request, desk)
        self.assertEqual(reply, {"complete": True, "windowId": 7})
        self.assertEqual(status, 0)
        return events


class RequestProtocol(Deskhand):
    def test_permissions_without_a_desktop(self):
        reply, status, _ = self.call({"action": "permissions"})
        self.assertEqual((reply, status), ({"screen": False, "accessibility": False}, 0))

    def test_permissions_answer_on_a_locked_screen(self):
        reply, status, _ = self.call({"action": "permissions"},
                                     {"session": {"CGSSessionScreenIsLocked": True}, "accessibility": True})
        self.assertEqual((reply, status), ({"screen": False, "accessibility": True}, 0))
        reply, status, _ = self.call({"action": "permissions"}, desktop())
        self.assertEqual((reply, status), ({"screen": True, "accessibility": True}, 0))

    def test_a_desktop_that_cannot_be_read_fails_every_action(self):
        env = dict(os.environ, DESKHAND_SIM_DESKTOP=os.path.join(self.dir.name, "missing.json"))
        for action in ("permissions", "windows"):
            done = subprocess.run([BINARY], input=json.dumps({"action": action}).encode(),
                                  capture_output=True, env=env, timeout=60)
            self.assertEqual((json.loads(done.stdout), done.returncode, done.stderr),
                             ({"error": FAILED}, 1, b""))

    def test_a_desktop_that_is_not_an_object_fails_every_action(self):
        path = os.path.join(self.dir.name, "array.json")
        for content in ("[]", "{", ""):
            with open(path, "w", encoding="utf-8") as f:
                f.write(content)
            env = dict(os.environ, DESKHAND_SIM_DESKTOP=path)
            done = subprocess.run([BINARY], input=b'{"action":"permissions"}', capture_output=True,
                                  env=env, timeout=60)
            self.assertEqual((json.loads(done.stdout), done.returncode, done.stderr),
                             ({"error": FAILED}, 1, b""), content)

    def test_empty_input_is_not_json(self):
        self.assertError(None, desktop(), FAILED, raw=b"")

    def test_malformed_json(self):
        self.assertError(None, desktop(), FAILED, raw=b'{"action": "windows"')

    def test_input_limit(self):
        request = b'{"action":"permissions"}'
        exact = request[:1] + b" " * (32768 - len(request)) + request[1:]
        self.assertEqual(len(exact), 32768)
        reply, status, _ = self.call(None, desktop(), raw=exact)
        self.assertEqual((reply, status), ({"screen": True, "accessibility": True}, 0))
        self.assertError(None, desktop(), INVALID_INPUT, raw=exact + b" ")
        self.assertError(None, desktop(), INVALID_INPUT, raw=b"[" * 32769)

    def test_not_an_object_or_no_text_action(self):
        for raw in (b'["permissions"]', b'"permissions"', b'{"action": 5}', b"{}", b'{"Action": "windows"}'):
            self.assertError(None, desktop(), INVALID_INPUT, raw=raw)

    def test_reply_is_one_compact_object(self):
        env = dict(os.environ)
        env.pop("DESKHAND_SIM_DESKTOP", None)
        done = subprocess.run([BINARY], input=b'{"action":"permissions"}', capture_output=True, env=env,
                              timeout=60)
        self.assertEqual(done.stdout.count(b"{"), 1)
        self.assertNotIn(b" ", done.stdout)
        self.assertEqual(json.loads(done.stdout), {"screen": False, "accessibility": False})

    def test_locked_screen(self):
        locked = desktop(session={"CGSSessionScreenIsLocked": True})
        for action in ("windows", "capture", "click", "type", "key"):
            self.assertError(interaction(action), locked, LOCKED)

    def test_only_boolean_false_or_no_state_unlocks(self):
        for session in ({"CGSSessionScreenIsLocked": False}, {}, None):
            reply, status, _ = self.call({"action": "windows"}, desktop(session=session))
            self.assertEqual(status, 0, session)
        # A lock state that is there but not a boolean fails closed.
        for value in (1, 0, "false", [], {}):
            self.assertError(interaction("click", x=5, y=5), desktop(session={"CGSSessionScreenIsLocked": value}),
                             LOCKED)

    def test_screen_recording_required(self):
        for action in ("windows", "capture", "click"):
            self.assertError(interaction(action), desktop(screenRecording=False), NO_SCREEN_RECORDING)

    def test_lock_is_reported_before_screen_recording(self):
        self.assertError({"action": "windows"},
                         desktop(screenRecording=False, session={"CGSSessionScreenIsLocked": True}), LOCKED)

    def test_listing_error(self):
        for action in ("windows", "capture", "key"):
            self.assertError(interaction(action, key="tab"), desktop(listError=True), FAILED)

    def test_a_listing_that_never_answers_fails_after_ten_seconds(self):
        reply, status, _ = self.call({"action": "permissions"}, desktop(listHangs=True))
        self.assertEqual((reply, status), ({"screen": True, "accessibility": True}, 0))
        started = time.monotonic()
        self.assertError({"action": "windows"}, desktop(listHangs=True), FAILED)
        self.assertGreaterEqual(time.monotonic() - started, 10, "the deadline is 10 s")

    def test_a_capture_that_never_answers_fails_after_ten_seconds(self):
        started = time.monotonic()
        self.assertError({"action": "capture", "windowId": 7}, desktop(captureHangs=True), FAILED)
        self.assertGreaterEqual(time.monotonic() - started, 10, "the deadline is 10 s")

    def test_a_closed_standard_output_ends_with_status_one(self):
        env = dict(os.environ)
        env.pop("DESKHAND_SIM_DESKTOP", None)
        # A pipe nobody reads: the write fails with EPIPE instead of a SIGPIPE
        # killing the process.
        read_end, write_end = os.pipe()
        os.close(read_end)
        try:
            done = subprocess.run([BINARY], input=b'{"action":"permissions"}', stdout=write_end,
                                  stderr=subprocess.PIPE, env=env, timeout=60)
        finally:
            os.close(write_end)
        self.assertEqual((done.returncode, done.stderr), (1, b""))
        # No standard output at all.
        done = subprocess.run([BINARY], input=b'{"action":"permissions"}', stderr=subprocess.PIPE,
                              env=env, timeout=60, preexec_fn=lambda: os.close(1))
        self.assertEqual((done.returncode, done.stderr), (1, b""))

    def stream(self, size):
        """Streams `size` bytes of spaces into the program; returns (reply, status, peak RSS in bytes)."""
        env = dict(os.environ)
        env.pop("DESKHAND_SIM_DESKTOP", None)
        proc = subprocess.Popen([BINARY], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, env=env, bufsize=0)

        def feed():
            block = b" " * 65536
            try:
                for _ in range(0, size, len(block)):
                    proc.stdin.write(block)
                proc.stdin.close()
            except BrokenPipeError:
                pass  # the program stopped reading, as it should

        feeder = threading.Thread(target=feed)
        feeder.start()
        out, err = proc.stdout.read(), proc.stderr.read()
        _, wait_status, usage = os.wait4(proc.pid, 0)
        proc.returncode = os.waitstatus_to_exitcode(wait_status)
        feeder.join()
        for pipe in (proc.stdin, proc.stdout, proc.stderr):
            try:
                pipe.close()
            except BrokenPipeError:
                pass
        self.assertEqual(err, b"")
        # ru_maxrss counts kibibytes on Linux and bytes on macOS.
        return json.loads(out), proc.returncode, usage.ru_maxrss * (1 if sys.platform == "darwin" else 1024)

    def test_oversized_input_is_refused_without_reading_it_all(self):
        small = self.stream(65536)
        large = self.stream(64 * 1048576)
        for reply, status, _ in (small, large):
            self.assertEqual((reply, status), ({"error": INVALID_INPUT}, 1))
        # Reading it all would hold 64 MiB; the program holds at most 32,769 bytes.
        self.assertLess(large[2] - small[2], 8 * 1048576, "peak memory grows with the input")

    def test_unknown_action_without_window_is_unavailable(self):
        self.assertError({"action": "dance"}, desktop(), UNAVAILABLE)

    def test_unknown_action_is_reported_after_focus(self):
        self.assertError(interaction("dance"), desktop(), UNKNOWN_ACTION)


class Windows(Deskhand):
    def test_lists_eligible_windows_in_order(self):
        windows = [
            window(1, title="First", x=1.5, y=-20, width=640.25, height=480),
            window(2, layer=25),
            window(3, owner=False),
            window(4, x=0, y=0, width=1, height=100),
            window(5, x=0, y=0, width=100, height=1),
            window(6, title=None, pid=7, x=10, y=10, width=1.5, height=1.5),
        ]
        reply, status, _ = self.call({"action": "windows"}, desktop(windows=windows))
        self.assertEqual(status, 0)
        self.assertEqual(reply, {"windows": [
            {"windowId": 1, "pid": PID, "app": "Editor 42", "bundleId": "com.example.app42", "title": "First",
             "x": 1.5, "y": -20, "width": 640.25, "height": 480},
            {"windowId": 6, "pid": 7, "app": "Editor 7", "bundleId": "com.example.app7", "title": "",
             "x": 10, "y": 10, "width": 1.5, "height": 1.5},
        ]})

    def test_no_windows(self):
        reply, status, _ = self.call({"action": "windows"}, desktop(windows=[]))
        self.assertEqual((reply, status), ({"windows": []}, 0))

    def test_at_most_one_hundred(self):
        windows = [window(i, x=i, y=0, width=50, height=50) for i in range(1, 151)]
        reply, status, _ = self.call({"action": "windows"}, desktop(windows=windows))
        self.assertEqual(status, 0)
        self.assertEqual([w["windowId"] for w in reply["windows"]], list(range(1, 101)))

    def test_titles_are_cut_to_300_characters(self):
        windows = [window(1, title="é" * 301), window(2, title="😀" * 301), window(3, title="x" * 300)]
        reply, _, _ = self.call({"action": "windows"}, desktop(windows=windows))
        self.assertEqual([w["title"] for w in reply["windows"]], ["é" * 300, "😀" * 300, "x" * 300])


class Capture(Deskhand):
    def capture(self, windows, window_id=7, **overrides):
        return self.call({"action": "capture", "windowId": window_id}, desktop(windows=windows, **overrides))

    def test_captures_at_most_1600_pixels_on_the_longer_side(self):
        for frame, size in (((3200, 1000), (1600, 500)), ((800, 600), (800, 600)), ((1000, 3200), (500, 1600))):
            w = window(7, x=10, y=20, width=frame[0], height=frame[1])
            reply, status, events = self.capture([w])
            self.assertEqual(status, 0)
            image = base64.b64decode(reply.pop("image"), validate=True)
            self.assertEqual(png_info(image), size)
            self.assertEqual(reply, {"windowId": 7, "pid": PID, "app": "Editor 42", "bundleId": "com.example.app42",
                                     "title": "Notes", "x": 10, "y": 20, "width": frame[0], "height": frame[1],
                                     "pixelWidth": size[0], "pixelHeight": size[1]})
            self.assertEqual(events, [])

    def test_png_limit(self):
        reply, status, _ = self.capture([dict(window(7), pngBytes=3145728)])
        self.assertEqual(status, 0)
        self.assertEqual(len(base64.b64decode(reply["image"], validate=True)), 3145728)
        self.assertError({"action": "capture", "windowId": 7}, desktop(windows=[dict(window(7), pngBytes=3145729)]),
                         TOO_LARGE)
        self.assertError({"action": "capture", "windowId": 7}, desktop(windows=[dict(window(7), pngBytes=0)]),
                         TOO_LARGE)

    def test_capture_error(self):
        self.assertError({"action": "capture", "windowId": 7}, desktop(captureError=True), FAILED)

    def test_selection(self):
        for window_id in (12.5, -1, "7", None, 4294967303, 8):
            self.assertError({"action": "capture", "windowId": window_id}, desktop(), UNAVAILABLE)
        self.assertError({"action": "capture"}, desktop(), UNAVAILABLE)
        reply, status, _ = self.call({"action": "capture", "windowId": 7.0}, desktop())
        self.assertEqual((reply["windowId"], status), (7, 0))

    def test_ineligible_windows_are_not_selectable(self):
        for w in (window(7, layer=25), window(7, owner=False), window(7, x=0, y=0, width=1, height=50)):
            self.assertError({"action": "capture", "windowId": 7}, desktop(windows=[w]), UNAVAILABLE)


class Interaction(Deskhand):
    def test_click(self):
        events = self.assertComplete(interaction("click", x=5, y=6.5), desktop())
        self.assertEqual(events, [
            {"pid": PID, "type": "leftMouseDown", "x": 105, "y": 206.5, "clickState": 1, "windowId": 7},
            {"pid": PID, "type": "leftMouseUp", "x": 105, "y": 206.5, "clickState": 1, "windowId": 7},
        ])

    def test_click_at_the_origin(self):
        events = self.assertComplete(interaction("click", x=0, y=0), desktop())
        self.assertEqual([(e["x"], e["y"]) for e in events], [(100, 200), (100, 200)])

    def test_click_outside(self):
        for x, y in ((800, 0), (0, 600), (-1, 0), (0, -0.5), ("1", 1)):
            self.assertError(interaction("click", x=x, y=y), desktop(), OUTSIDE)
        self.assertError(interaction("click", x=1), desktop(), OUTSIDE)

    def test_mouse_events_that_cannot_be_created(self):
        self.assertError(interaction("click", x=1, y=1), desktop(mouseEventsFail=True), NO_MOUSE_EVENT)

    def test_type(self):
        text = "héllo 😀"
        events = self.assertComplete(interaction("type", text=text), desktop())
        self.assertEqual(events, [
            {"pid": PID, "type": "keyDown", "keyCode": 0, "text": text},
            {"pid": PID, "type": "keyUp", "keyCode": 0, "text": text},
        ])

    def test_type_in_chunks_of_twenty_code_units(self):
        # 30 characters, 31 UTF-16 code units: 13 before the emoji, 2 for it.
        text = "Type thirty: 😀 then the rest.."
        events = self.assertComplete(interaction("type", text=text), desktop())
        first, second = "Type thirty: 😀 then", " the rest.."
        self.assertEqual(events, [
            {"pid": PID, "type": "keyDown", "keyCode": 0, "text": first},
            {"pid": PID, "type": "keyUp", "keyCode": 0, "text": first},
            {"pid": PID, "type": "keyDown", "keyCode": 0, "text": second},
            {"pid": PID, "type": "keyUp", "keyCode": 0, "text": second},
        ])

    def test_a_surrogate_pair_is_never_split(self):
        events = self.assertComplete(interaction("type", text="a" * 19 + "😀" + "b"), desktop())
        self.assertEqual([e["text"] for e in events], ["a" * 19] * 2 + ["😀b"] * 2)

    def test_text_limits(self):
        # 8,000 code units: 400 pairs, the last one "a" * 18 and the emoji.
        events = self.assertComplete(interaction("type", text="a" * 7998 + "😀"), desktop())
        self.assertEqual(len(events), 800)
        self.assertEqual([e["type"] for e in events[:4]], ["keyDown", "keyUp", "keyDown", "keyUp"])
        self.assertEqual(events[0]["text"], "a" * 20)
        self.assertEqual(events[-1], {"pid": PID, "type": "keyUp", "keyCode": 0, "text": "a" * 18 + "😀"})
        for text in ("", "a" * 8001, "a" * 7999 + "😀", 5, None):
            self.assertError(interaction("type", text=text), desktop(), INVALID_TEXT)

    def test_keyboard_events_that_cannot_be_created(self):
        self.assertError(interaction("type", text="a"), desktop(keyboardEventsFail=True), NO_KEYBOARD_EVENT)
        self.assertError(interaction("key", key="tab"), desktop(keyboardEventsFail=True), NO_KEYBOARD_EVENT)

    def test_keys(self):
        table = {"enter": 36, "tab": 48, "escape": 53, "backspace": 51, "left": 123, "right": 124,
                 "down": 125, "up": 126}
        for name, code in table.items():
            events = self.assertComplete(interaction("key", key=name), desktop())
            self.assertEqual(events, [{"pid": PID, "type": "keyDown", "keyCode": code},
                                      {"pid": PID, "type": "keyUp", "keyCode": code}])

    def test_unsupported_keys(self):
        for key in ("Enter", "return", 36):
            self.assertError(interaction("key", key=key), desktop(), UNSUPPORTED_KEY)

    def test_accessibility_required(self):
        self.assertError(interaction("click", x=1, y=1), desktop(accessibility=False), NO_ACCESSIBILITY)

    def test_target_must_match_exactly(self):
        for key, value in (("x", 100.5), ("width", 799), ("pid", 43), ("height", "600")):
            request = interaction("key", key="tab")
            request["target"][key] = value
            self.assertError(request, desktop(), GEOMETRY_CHANGED)
        request = interaction("key", key="tab")
        del request["target"]
        self.assertError(request, desktop(), GEOMETRY_CHANGED)

    def test_application_closed(self):
        self.assertError(interaction("key", key="tab"), desktop(running=[OTHER_PID]), CLOSED)

    def test_application_that_does_not_come_forward(self):
        started = time.monotonic()
        self.assertError(interaction("key", key="tab"), desktop(activation={str(PID): "ignored"}), NOT_FOCUSED)
        self.assertGreaterEqual(time.monotonic() - started, 0.95, "the wait lasts 20 × 50 ms")

    def test_application_already_in_front(self):
        self.assertComplete(interaction("key", key="tab"),
                            desktop(frontmost=PID, activation={str(PID): "ignored"}))

    def test_focused_window_unknown(self):
        self.assertError(interaction("key", key="tab"), desktop(focused={str(PID): "none"}), NO_FOCUSED_WINDOW)

    def test_focused_geometry_unreadable(self):
        for answer in ("positionError", "sizeError"):
            self.assertError(interaction("key", key="tab"), desktop(focused={str(PID): answer}), CANNOT_VERIFY)

    def test_focus_tolerance(self):
        near = {"x": 100.5, "y": 199.5, "width": 800.9, "height": 600}
        self.assertComplete(interaction("key", key="tab"), desktop(focused={str(PID): near}))
        for key, value in (("x", 101), ("y", 199), ("width", 801), ("height", 598)):
            far = dict(FRAME, **{key: value})
            self.assertError(interaction("key", key="tab"), desktop(focused={str(PID): far}), DIFFERENT_WINDOW)

    def test_stacked_windows_are_ambiguous(self):
        windows = [window(7), window(8, title="Twin")]
        self.assertError(interaction("click", x=1, y=1), desktop(windows=windows), AMBIGUOUS)

    def test_a_menu_over_the_window_is_ambiguous(self):
        windows = [window(7), window(9, layer=25, x=100.5, y=200, width=800, height=600)]
        self.assertError(interaction("click", x=1, y=1), desktop(windows=windows), AMBIGUOUS)

    def test_focus_on_another_window_of_the_application(self):
        windows = [window(8, x=0, y=0, width=300, height=300), window(7)]
        self.assertError(interaction("key", key="tab"), desktop(windows=windows), DIFFERENT_WINDOW)

    def test_windows_of_other_applications_do_not_count(self):
        windows = [window(7), window(3, pid=OTHER_PID, **FRAME)]
        self.assertComplete(interaction("key", key="up"), desktop(windows=windows))


class ChangeAfterTheFocusCheck(Deskhand):
    """The desktop changes once the focus check has read the focused window:
    the listing that disambiguates is the last check before any event."""

    def test_a_window_that_moves_is_caught_before_posting(self):
        moved = [window(3, pid=OTHER_PID, title="Other", x=0, y=0, width=500, height=400),
                 window(7, x=300, y=200, width=800, height=600)]
        for action in (interaction("click", x=5, y=5), interaction("type", text="hi"), interaction("key", key="up")):
            self.assertError(action, desktop(afterFocusCheck={"windows": moved}), AMBIGUOUS)

    def test_a_window_that_appears_over_it_is_caught_before_posting(self):
        covered = [window(7), window(8, title="Dialog")]
        self.assertError(interaction("click", x=5, y=5), desktop(afterFocusCheck={"windows": covered}), AMBIGUOUS)

    def test_a_window_that_closes_is_caught_before_posting(self):
        self.assertError(interaction("key", key="up"), desktop(afterFocusCheck={"windows": []}), AMBIGUOUS)

    def test_focus_lost_after_the_checks_is_not_claimed_beyond_what_was_posted(self):
        # No check after the listing reads the focus, so the events are
        # posted; the reply says no more than that they were posted to the
        # selected window's process for window 7.
        later = {"frontmost": OTHER_PID, "focused": {str(PID): "none"}}
        reply, status, events = self.call(interaction("click", x=5, y=6), desktop(afterFocusCheck=later))
        self.assertEqual((reply, status), ({"complete": True, "windowId": 7}, 0))
        self.assertEqual(events, [
            {"pid": PID, "type": "leftMouseDown", "x": 105, "y": 206, "clickState": 1, "windowId": 7},
            {"pid": PID, "type": "leftMouseUp", "x": 105, "y": 206, "clickState": 1, "windowId": 7},
        ])

    def test_a_change_that_is_not_a_described_desktop_fails_every_action(self):
        reply, status, _ = self.call({"action": "windows"}, desktop(afterFocusCheck={"windows": 5}))
        self.assertEqual((reply, status), ({"error": FAILED}, 1))


def main():
    global BINARY
    if len(sys.argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    BINARY = os.path.abspath(sys.argv[1])
    program = unittest.main(argv=[sys.argv[0]] + sys.argv[2:], exit=False, verbosity=1)
    result = program.result
    failed = len(result.failures) + len(result.errors)
    print("%d passed, %d failed" % (result.testsRun - failed, failed))
    return 0 if result.wasSuccessful() and result.testsRun > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
