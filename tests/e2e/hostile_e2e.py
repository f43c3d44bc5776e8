#!/usr/bin/env python3
"""Bad input end to end: every run below must give exit status 0, one
schema-valid document, nothing on standard error, within a time limit.

    hostile_e2e.py TRACELENS
"""
import json, os, shutil, stat, subprocess, sys, tempfile

from run_e2e import check_document

BINARY = None
FAILURES = []


def parse(run, harness="pi", version="0.73.1", timeout=120):
    proc = subprocess.run([BINARY, "parse-run", "--input", run, "--harness", harness, "--version", version],
                          capture_output=True, stdin=subprocess.DEVNULL, timeout=timeout)
    doc, problems = check_document(proc)
    return doc, problems


def case(name):
    def wrap(fn):
        def run():
            tmp = tempfile.mkdtemp(prefix="tracelens-hostile-")
            try:
                problems = fn(tmp) or []
            except subprocess.TimeoutExpired:
                problems = ["timed out"]
            except Exception as e:
                problems = [f"driver error: {e!r}"]
            finally:
                for root, dirs, _ in os.walk(tmp):
                    for d in dirs:
                        try:
                            os.chmod(os.path.join(root, d), 0o755)
                        except OSError:
                            pass
                shutil.rmtree(tmp, ignore_errors=True)
            if problems:
                FAILURES.append(f"{name}: " + "; ".join(problems))
        run.name = name
        return run
    return wrap


def write(path, data, mode="w"):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, mode) as f:
        f.write(data)


def texts(doc, key):
    return [m["text"] for m in doc["state"][key]]


@case("missing input directory")
def missing(tmp):
    doc, problems = parse(os.path.join(tmp, "nope"))
    if doc and (doc["runId"] is not None or doc["state"]["messages"] or doc["state"]["snapshots"] != []):
        problems.append("expected an empty run")
    return problems


@case("input is a symbolic-link loop")
def input_loop(tmp):
    os.symlink(os.path.join(tmp, "b"), os.path.join(tmp, "a"))
    os.symlink(os.path.join(tmp, "a"), os.path.join(tmp, "b"))
    return parse(os.path.join(tmp, "a"))[1]


@case("symbolic-link loops, a FIFO and links inside the run")
def loops(tmp):
    write(os.path.join(tmp, "screens/a.txt"), "- [ ] real\n")
    os.symlink(tmp, os.path.join(tmp, "self"))
    os.symlink("loop2", os.path.join(tmp, "loop1"))
    os.symlink("loop1", os.path.join(tmp, "loop2"))
    os.mkfifo(os.path.join(tmp, "terminal.log"))
    os.mkfifo(os.path.join(tmp, "screens/fifo.txt"))
    os.symlink("/dev/zero", os.path.join(tmp, "metadata.json"))
    doc, problems = parse(tmp, timeout=30)
    if doc and [t["content"] for t in doc["state"]["todos"]] != ["real"]:
        problems.append(f"todos {doc['state']['todos']}")
    return problems


@case("unreadable directory and file")
def unreadable(tmp):
    write(os.path.join(tmp, "screens/ok.txt"), "- [ ] visible\n")
    write(os.path.join(tmp, "screens/locked/x.txt"), "- [ ] hidden\n")
    write(os.path.join(tmp, "screens/secret.txt"), "- [ ] secret\n")
    os.chmod(os.path.join(tmp, "screens/locked"), 0)
    os.chmod(os.path.join(tmp, "screens/secret.txt"), 0)
    doc, problems = parse(tmp)
    if doc and os.geteuid() != 0 and [t["content"] for t in doc["state"]["todos"]] != ["visible"]:
        problems.append(f"todos {doc['state']['todos']}")
    return problems


@case("binary files, invalid UTF-8 in names and contents")
def binary(tmp):
    write(os.path.join(tmp, "screens/bin.txt"), b"- [ ] x\x00\x01\x02", "wb")
    bad = os.path.join(os.fsencode(tmp), b"screens", b"bad\xff\xfename\nnl.txt")
    with open(bad, "wb") as f:
        f.write(b"- [ ] caf\xe9 \xf0\x9f\x99\n")
    home = os.path.join(tmp, "snapshots/s/home/.pi/agent/sessions/p")
    write(os.path.join(home, "log.jsonl"), b'{"role":"user","content":"hi \xff there"}\n\xff\xfe\n', "wb")
    write(os.path.join(tmp, "terminal.log"), b"> caf\xc3\xa9 \xe2\x82\n", "wb")
    doc, problems = parse(tmp)
    if doc:
        todos = doc["state"]["todos"]
        if [t["content"] for t in todos] != ["caf\ufffd \ufffd"]:
            problems.append(f"todos {todos}")
        elif todos[0]["source"] != "screens/bad\ufffd\ufffdname\nnl.txt:1":
            problems.append(f"source {todos[0]['source']!r}")
        if texts(doc, "messages") != ["hi \ufffd there"]:
            problems.append(f"messages {texts(doc, 'messages')}")
    return problems


@case("a terminal capture of 300,000 bytes keeps its head and tail")
def big_terminal(tmp):
    head = "> first prompt\n"
    tail = "> last prompt\n"
    middle_line = "> lost in the middle\n"
    filler = "x" * 99 + "\n"
    prefix = head + filler * 1400 + middle_line  # the middle line starts at byte 140,015
    rest = 300000 - len(tail) - len(prefix)
    body = prefix + "y" * (rest - 1) + "\n" + tail
    assert len(body) == 300000
    write(os.path.join(tmp, "terminal.log"), body)
    doc, problems = parse(tmp, harness="gemini", version="1.0.0")
    if doc and texts(doc, "messages") != ["first prompt", "last prompt"]:
        problems.append(f"messages {texts(doc, 'messages')}")
    return problems


@case("300 files of 250,000 bytes: the 64 MiB budget")
def budget(tmp):
    for i in range(300):
        write(os.path.join(tmp, f"screens/{i:03d}.txt"), f"- [ ] file {i}\n" + "z" * (250000 - 14 - len(str(i))) + "\n")
    write(os.path.join(tmp, "screens/zz-small.txt"), "- [ ] small one\n")
    doc, problems = parse(tmp)
    if doc:
        contents = [t["content"] for t in doc["state"]["todos"]]
        want = [f"file {i}" for i in range(268)] + ["small one"]
        if contents != want:
            problems.append(f"{len(contents)} todos, last {contents[-3:]}")
    return problems


@case("truncated and malformed JSONL, huge line, deep nesting")
def malformed(tmp):
    home = os.path.join(tmp, "snapshots/s/home/.pi/agent/sessions/p")
    lines = ['{"role":"user","content":"one"}', '{"role":"assistant","content":"tw', "[" * 100000,
             '{"a":' * 50000, '{"role":"assistant","content":"' + "w" * 3000000 + '"}',
             '{"role":"assistant","content":"two"}', '{"role":"user","content":"cut']
    write(os.path.join(home, "log.jsonl"), "\n".join(lines))
    doc, problems = parse(tmp)
    if doc:
        got = texts(doc, "messages")
        if len(got) != 3 or got[0] != "one" or got[2] != "two" or not got[1].startswith("www"):
            problems.append(f"messages {[t[:20] for t in got]}")
    return problems


@case("a manifest of 100 MB of spaces")
def manifest_spaces(tmp):
    with open(os.path.join(tmp, "metadata.json"), "w") as f:
        for _ in range(100):
            f.write(" " * 1000000)
    doc, problems = parse(tmp)
    if doc and doc["runId"] is not None:
        problems.append("runId should be null")
    return problems


@case("a 200 MB single-line session log")
def huge_line(tmp):
    home = os.path.join(tmp, "snapshots/s/home/.claude/projects/p")
    os.makedirs(home)
    with open(os.path.join(home, "s.jsonl"), "w") as f:
        f.write('{"type":"user","uuid":"u1","message":{"role":"user","content":"')
        chunk = "lorem ipsum " * 100000
        for _ in range(200000000 // len(chunk)):
            f.write(chunk)
        f.write('"}}\n{"type":"assistant","message":{"role":"assistant","content":"after"}}\n')
    doc, problems = parse(tmp, harness="claude", version="2.1.217", timeout=300)
    if doc:
        got = texts(doc, "messages")
        if len(got) != 2 or not got[0].startswith("lorem ipsum lorem") or len(got[0]) != 801 or got[1] != "after":
            problems.append(f"messages {[t[:30] for t in got]}")
    return problems


@case("a session log of a million empty lines")
def empty_lines(tmp):
    home = os.path.join(tmp, "snapshots/s/home/.pi/agent/sessions/p")
    os.makedirs(home)
    with open(os.path.join(home, "s.jsonl"), "w") as f:
        f.write("\n" * 1000000 + '{"role":"user","content":"last"}\n')
    doc, problems = parse(tmp)
    if doc:
        msgs = doc["state"]["messages"]
        if len(msgs) != 1 or not msgs[0]["source"].endswith("s.jsonl:1000001"):
            problems.append(f"messages {msgs}")
    return problems


@case("files that shrink, vanish and reappear while the run is read")
def racing_files(tmp):
    import threading
    home = os.path.join(tmp, "snapshots/s/home/.pi/agent/sessions/p")
    os.makedirs(home)
    paths = [os.path.join(home, f"s{i}.jsonl") for i in range(8)] + \
            [os.path.join(tmp, "screens", f"{i}.txt") for i in range(8)] + [os.path.join(tmp, "terminal.log")]
    line = '{"role":"user","content":"' + "x" * 2000 + '"}\n'
    stop = threading.Event()

    def churn():
        n = 0
        while not stop.is_set():
            for p in paths:
                n += 1
                try:
                    if n % 3 == 0:
                        os.remove(p)
                    elif n % 3 == 1:
                        with open(p, "r+") as f:
                            f.truncate(n % 5000)
                    else:
                        os.makedirs(os.path.dirname(p), exist_ok=True)
                        with open(p, "w") as f:
                            f.write(line * 200)
                except OSError:
                    pass

    for p in paths:
        os.makedirs(os.path.dirname(p), exist_ok=True)
        with open(p, "w") as f:
            f.write(line * 200)
    worker = threading.Thread(target=churn)
    worker.start()
    problems = []
    try:
        for _ in range(25):
            problems += parse(tmp)[1]
            if problems:
                break
    finally:
        stop.set()
        worker.join()
    return problems


@case("a single log file as input")
def single_file(tmp):
    path = os.path.join(tmp, "weird name.v1.log")
    write(path, '{"role":"user","content":"solo"}\n')
    doc, problems = parse(path)
    if doc:
        if doc["runId"] != "weird name.v1":
            problems.append(f"runId {doc['runId']!r}")
        # A file outside a harness home is not a pi session log, so no messages
        # come from it; it is still scanned by nothing but is loaded.
        if doc["state"]["contextArtifacts"] != []:
            problems.append("context artifacts in single-file mode")
    return problems


def main():
    global BINARY
    BINARY = os.path.abspath(sys.argv[1])
    cases = [missing, input_loop, loops, unreadable, binary, big_terminal, budget, malformed, manifest_spaces,
             huge_line, empty_lines, racing_files, single_file]
    for c in cases:
        c()
    for f in FAILURES:
        print("FAIL", f)
    print(f"{len(cases)} hostile cases, {len(FAILURES)} failures")
    sys.exit(1 if FAILURES else 0)


if __name__ == "__main__":
    main()
