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
    r = run(binary, ["--help"])
    check(r.returncode == 0 and b"usage: tracelens-report" in r.stdout, "--help prints the usage")

    print(f"{len(failures)} failed")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
