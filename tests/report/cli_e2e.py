#!/usr/bin/env python3
"""tracelens-report as a program, without a browser: where it reads, how it
refuses what is not one JSON object, and that the page's Content-Security-Policy
names the exact bytes of its inline script and style.

    cli_e2e.py TRACELENS_REPORT
"""
import base64, hashlib, json, os, re, subprocess, sys, tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
    print(("ok   " if ok else "FAIL ") + what)


def run(binary, args=(), data=None):
    return subprocess.run([binary, *args], input=data, capture_output=True, timeout=60)


def csp_sources(page):
    m = re.search(rb'<meta http-equiv="Content-Security-Policy" content="([^"]*)">', page)
    policy = m.group(1).decode() if m else ""
    return {d.split()[0]: d.split()[1:] for d in (p.strip() for p in policy.split(";")) if d}


def digest(text):
    return "'sha256-" + base64.b64encode(hashlib.sha256(text).digest()).decode() + "'"


def main():
    binary = sys.argv[1]
    doc = open(os.path.join(HERE, "docs", "hostile.json"), "rb").read()

    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "doc.json")
        with open(path, "wb") as f:
            f.write(doc)
        from_file = run(binary, [path])
        from_stdin = run(binary, [], doc)
        from_dash = run(binary, ["-"], doc)
    check(from_file.returncode == 0 and from_file.stderr == b"", "a file argument gives status 0 and no message")
    check(from_file.stdout == from_stdin.stdout == from_dash.stdout, "standard input and '-' give the same page")
    page = from_file.stdout

    # The policy allows exactly the inline script and style, by the hashes of their bytes.
    sources = csp_sources(page)
    scripts = re.findall(rb"<script>(.*?)</script>", page, re.S)
    styles = re.findall(rb"<style>(.*?)</style>", page, re.S)
    check(len(scripts) == 1 and len(styles) == 1, "one inline script and one inline style")
    check(sources.get("script-src") == [digest(scripts[0])], "script-src is the hash of the inline script")
    check(sources.get("style-src") == [digest(styles[0])], "style-src is the hash of the inline style")
    for directive in ("default-src", "img-src", "connect-src", "frame-src", "object-src", "base-uri", "form-action"):
        check(sources.get(directive) == ["'none'"], f"{directive} is 'none'")
    check(page.index(b"Content-Security-Policy") < page.index(b"<style>"), "the policy comes before the style")

    # The document travels whole and with no '<' in its element.
    # The document's messages and tool calls follow it in parts, each naming its list.
    block = re.search(rb'<script type="application/json" id="tracelens-document">(.*?)</script>', page, re.S)
    parts = re.findall(rb'<script type="application/json" class="tracelens-records" data-list="(\w+)">(.*?)</script>',
                       page, re.S)
    check(block is not None and b"<" not in block.group(1) and all(b"<" not in p for _, p in parts),
          "the document's elements hold no '<'")
    whole = json.loads(block.group(1)) if block else {}
    for name, part in parts:
        whole["state"][name.decode()] += json.loads(part)
    check(whole == json.loads(doc), "the embedded document, with its parts, equals the input")
    check(page.count(b"</script") == 3 + len(parts), "only the page's script elements end in </script")
    check(page.index(b'<h1 class="title">') < page.index(b"<script"), "the first screen comes before any script")

    # Invalid UTF-8 is shown as U+FFFD, not refused.
    bad = run(binary, [], b'{"harness":"a\xff\xfeb","state":{"title":"t\xc0"}}')
    check(bad.returncode == 0, "invalid UTF-8 inside strings is repaired, status 0")
    try:
        bad.stdout.decode("utf-8")
        check(True, "the page of invalid UTF-8 input is valid UTF-8")
    except UnicodeDecodeError:
        check(False, "the page of invalid UTF-8 input is valid UTF-8")

    # What is not one JSON object: status 2, one line on standard error, nothing on standard output.
    for data in [b"", b"[1,2]", b'"text"', b"7", b"null", b"{", b'{"a":1} {"b":2}', b"not json", b"\xff\xfe"]:
        r = run(binary, [], data)
        lines = r.stderr.decode("utf-8", "replace").splitlines()
        check(r.returncode == 2 and len(lines) == 1 and r.stdout == b"", f"input {data[:12]!r}: status 2, one line")
    for args in (["/nonexistent/doc.json"], ["a.json", "b.json"], ["--nonsense"], ["bad\nname.json"]):
        r = run(binary, args)
        check(r.returncode == 2 and len(r.stderr.decode().splitlines()) == 1 and r.stdout == b"",
              f"arguments {args!r}: status 2, one line")
    # A lone surrogate escape reads as U+FFFD; the rest of the document is kept.
    lone = run(binary, [], b'{"harness":"cut \\ud83d","state":{"title":"low \\udc00 pair \\ud83d\\ude00 text \\\\ud83d"}}')
    block = re.search(rb'<script type="application/json" id="tracelens-document">(.*?)</script>', lone.stdout, re.S)
    check(lone.returncode == 0 and block is not None and json.loads(block.group(1)) ==
          {"harness": "cut \ufffd", "state": {"title": "low \ufffd pair \U0001F600 text \\ud83d"}},
          "lone surrogate escapes read as U+FFFD, the rest kept")
    check(lone.stdout.decode("utf-8", "strict") is not None, "that page is strict UTF-8")

    with tempfile.TemporaryDirectory() as tmp:
        # Only a regular file or standard input is read: status 2 and one line, at once.
        fifo = os.path.join(tmp, "fifo")
        os.mkfifo(fifo)
        for path in (tmp, "/dev/zero", fifo):
            r = run(binary, [path])
            check(r.returncode == 2 and len(r.stderr.splitlines()) == 1 and r.stdout == b"",
                  f"{os.path.basename(path)}: not a regular file, status 2, one line")
        # Beyond 536,870,912 bytes: refused before reading (a file) or once read (standard input).
        big = os.path.join(tmp, "big.json")
        with open(big, "wb") as f:
            f.write(b"{}")
        os.truncate(big, 536870913)
        r = run(binary, [big])
        check(r.returncode == 2 and b"536870912" in r.stderr and r.stdout == b"", "a file over the limit: status 2")
        proc = subprocess.Popen([binary], stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        chunk = b" " * (1 << 20)
        try:
            for _ in range(600):
                proc.stdin.write(chunk)
        except BrokenPipeError:
            pass
        out, err = proc.communicate(timeout=60)
        check(proc.returncode == 2 and b"536870912" in err and out == b"", "standard input over the limit: status 2")

    # A reader that closes the page early: status 1 and one line.
    proc = subprocess.Popen([binary], stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    proc.stdin.write(json.dumps({"state": {"title": "x" * 4000000}}).encode())
    proc.stdin.close()
    proc.stdout.read(10)
    proc.stdout.close()
    err = proc.stderr.read()
    check(proc.wait(timeout=60) == 1 and len(err.splitlines()) == 1, "an early-closing reader: status 1, one line")

    r = run(binary, ["--help"])
    check(r.returncode == 0 and b"usage: tracelens-report" in r.stdout, "--help prints the usage")

    print(f"{len(failures)} failed")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
