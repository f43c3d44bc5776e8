#!/usr/bin/env python3
"""Bad input end to end: every run below must give exit status 0, one
schema-valid document, nothing on standard error, within a time limit.

    hostile_e2e.py TRACELENS
"""
import json, os, shutil, sqlite3, stat, subprocess, sys, tempfile, time

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


def measured(args, timeout=120):
    """Runs a program; returns (status, stdout, stderr, peak memory in MiB, processor seconds)."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        start = time.monotonic()
        proc = subprocess.Popen(args, stdout=out, stderr=err, stdin=subprocess.DEVNULL)
        while True:
            pid, status, usage = os.wait4(proc.pid, os.WNOHANG)
            if pid:
                break
            if time.monotonic() - start > timeout:
                proc.kill()
                proc.wait()
                raise subprocess.TimeoutExpired(args, timeout)
            time.sleep(0.02)
        proc.returncode = os.waitstatus_to_exitcode(status)
        seconds = usage.ru_utime + usage.ru_stime  # processor time: steadier than the clock on a busy machine
        out.seek(0)
        err.seek(0)
        return proc.returncode, out.read(), err.read(), usage.ru_maxrss / 1024, seconds


def measured_parse(run, harness, version, timeout=120):
    status, out, err, mib, seconds = measured(
        [BINARY, "parse-run", "--input", run, "--harness", harness, "--version", version], timeout)
    doc, problems = check_document(subprocess.CompletedProcess([], status, out, err))
    return doc, problems, mib, seconds


OPENCODE_TABLES = ("CREATE TABLE session(id TEXT PRIMARY KEY, parent_id TEXT, title TEXT, time_created INTEGER);"
                   "CREATE TABLE message(id TEXT PRIMARY KEY, session_id TEXT, time_created INTEGER, data TEXT);"
                   "CREATE TABLE todo(session_id TEXT, content TEXT, status TEXT, position INTEGER);")


def opencode_store(db_path, part_columns="id TEXT, message_id TEXT, data TEXT", wal=False):
    """An OpenCode database with one session, one user message with one text
    part, and one todo; the open connection is returned."""
    os.makedirs(os.path.dirname(db_path), exist_ok=True)
    db = sqlite3.connect(db_path)
    if wal:
        db.execute("PRAGMA journal_mode=WAL")
        db.execute("PRAGMA wal_autocheckpoint=0")
    db.executescript(OPENCODE_TABLES + f"CREATE TABLE part({part_columns});")
    db.execute("INSERT INTO session VALUES('ses_1', NULL, 'one session', 1000)")
    db.execute("INSERT INTO message VALUES('msg_1', 'ses_1', 1001, ?)",
               ('{"role":"user","time":{"created":1001}}',))
    column = "data" if "data" in part_columns else "raw"
    db.execute(f"INSERT INTO part(id, message_id, {column}) VALUES('prt_1', 'msg_1', ?)",
               ('{"type":"text","text":"hello"}',))
    db.execute("INSERT INTO todo VALUES('ses_1', 'write the test', 'pending', 0)")
    db.commit()
    return db


def file_states(directory):
    """Every file's bytes, mode, owner, group and modification and change times."""
    out = {}
    for name in sorted(os.listdir(directory)):
        path = os.path.join(directory, name)
        st = os.lstat(path)
        with open(path, "rb") as f:
            out[name] = (f.read(), st.st_mode, st.st_uid, st.st_gid, st.st_mtime_ns, st.st_ctime_ns)
    return out


@case("an OpenCode store owned by others is left exactly as it was, also when root reads it")
def store_untouched_as_root(tmp):
    if os.geteuid() != 0:
        print("skipped: an OpenCode store owned by others (needs root to give files to other owners)")
        return []
    store = os.path.join(tmp, "snapshots/s/home/.local/share/opencode")
    live = os.path.join(tmp, "live")
    db = opencode_store(os.path.join(live, "opencode.db"), wal=True)
    db.execute("INSERT INTO todo VALUES('ses_1', 'only in the log', 'pending', 1)")
    db.commit()
    os.makedirs(store)
    for name in ("opencode.db", "opencode.db-wal", "opencode.db-shm"):  # copied while the writer has it open
        shutil.copyfile(os.path.join(live, name), os.path.join(store, name))
    db.close()
    shutil.rmtree(live)
    # Three owners, none of them the reader, and modes that differ.
    for name, uid, mode in (("opencode.db", 1001, 0o640), ("opencode.db-wal", 1002, 0o600),
                            ("opencode.db-shm", 1003, 0o644)):
        os.chown(os.path.join(store, name), uid, uid + 100)
        os.chmod(os.path.join(store, name), mode)
    before = file_states(store)
    time.sleep(0.05)  # a change time set by the run would differ
    doc, problems = parse(tmp, harness="opencode", version="1.17.3")
    after = file_states(store)
    for name in before:
        if after.get(name) != before[name]:
            problems.append(f"{name} changed: {before[name][1:]} -> {after.get(name, (None,))[1:]}")
    if doc and [t["content"] for t in doc["state"]["todos"]] != ["write the test", "only in the log"]:
        problems.append(f"todos {doc['state']['todos']}")
    return problems


@case("an OpenCode part table whose data column is generated is left out, unevaluated")
def generated_column(tmp):
    db_path = os.path.join(tmp, "snapshots/s/home/.local/share/opencode/opencode.db")
    db = opencode_store(db_path, part_columns="id TEXT, message_id TEXT, raw TEXT")
    for i in range(2, 200):
        db.execute("INSERT INTO part(id, message_id, raw) VALUES(?, 'msg_1', 'x')", (f"prt_{i:03d}",))
    # Declared generated after the rows are in, as a hostile file can be: each
    # evaluation would build strings of 180 MB.
    expensive = ("replace(replace(replace(replace(hex(zeroblob(30000000)), '0', 'ab'), 'a', 'cd'), 'b', 'x'), "
                 "'c', 'y')")
    db.execute("PRAGMA writable_schema=ON")
    db.execute("UPDATE sqlite_master SET sql = ? WHERE name = 'part'",
               (f"CREATE TABLE part(id TEXT, message_id TEXT, raw TEXT, data TEXT AS (raw || {expensive}) VIRTUAL)",))
    db.commit()
    db.close()
    doc, problems, mib, seconds = measured_parse(tmp, "opencode", "1.17.3", timeout=60)
    if seconds > 10 or mib > 200:
        problems.append(f"{seconds:.1f} s of processor time, {mib:.0f} MiB")
    if doc:
        # The other tables are read: the todo is there; the message has no part left to show.
        if [t["content"] for t in doc["state"]["todos"]] != ["write the test"]:
            problems.append(f"todos {doc['state']['todos']}")
        if doc["state"]["messages"]:
            problems.append(f"messages {texts(doc, 'messages')}")
    return problems


@case("100,000 empty files: memory for what they hold")
def many_empty_files(tmp):
    for d in range(100):
        folder = os.path.join(tmp, f"snapshots/s/work/d{d:03d}")
        os.makedirs(folder)
        for f in range(1000):
            open(os.path.join(folder, f"f{f:04d}.txt"), "w").close()
    write(os.path.join(tmp, "screens/zz.txt"), "- [ ] after them\n")
    doc, problems, mib, seconds = measured_parse(tmp, "pi", "0.73.1", timeout=120)
    if mib > 300:
        problems.append(f"peak memory {mib:.0f} MiB")
    if doc and [t["content"] for t in doc["state"]["todos"]] != ["after them"]:
        problems.append(f"todos {doc['state']['todos']}")
    return problems


@case("a 40 GiB sparse session log is read up to its hole")
def sparse_log(tmp):
    path = os.path.join(tmp, "snapshots/s/home/.pi/agent/sessions/p/log.jsonl")
    write(path, '{"role":"user","content":"before the hole"}\n')
    os.truncate(path, 40 << 30)
    doc, problems, mib, seconds = measured_parse(tmp, "pi", "0.73.1", timeout=60)
    if mib > 100 or seconds > 10:
        problems.append(f"{seconds:.1f} s of processor time, {mib:.0f} MiB")
    if doc:
        if texts(doc, "messages") != ["before the hole"]:
            problems.append(f"messages {texts(doc, 'messages')}")
        sizes = [c["sizeBytes"] for c in doc["state"]["contextArtifacts"] if c["path"].endswith("log.jsonl")]
        if sizes != [40 << 30]:
            problems.append(f"context sizes {sizes}")
    return problems


def gemini_sub_agent_run(run, n):
    """n sub-agent chats and their launches: even chats are claimed by agent
    id, odd ones by folder and prompt."""
    chats = os.path.join(run, "snapshots/s/home/.gemini/tmp/p/chats")
    os.makedirs(os.path.join(chats, "p1"))
    lines = ['{"sessionId":"p1","projectHash":"h"}']
    for i in range(n):
        call = {"id": f"i{i}", "name": "invoke_agent", "status": "success",
                "args": {"agent_name": f"agent{i}", "prompt": f"task {i}"}}
        if i % 2 == 0:
            call["agentId"] = f"a{i}"
        lines.append(json.dumps({"id": f"g{i}", "type": "gemini", "content": "", "toolCalls": [call]}))
        with open(os.path.join(chats, f"p1/a{i}.jsonl"), "w") as f:
            f.write(json.dumps({"sessionId": f"a{i}", "kind": "subagent"}) + "\n" +
                    json.dumps({"id": "x", "type": "user", "content": f" task {i} "}) + "\n")
    write(os.path.join(chats, "session-1.jsonl"), "\n".join(lines) + "\n")


@case("32,000 Gemini sub-agent chats are each matched to their own launch")
def many_sub_agents(tmp):
    # How the matching scales is measured by the benchmark, not here: this
    # case holds every chat to its own launch at a size where a scan of every
    # launch per chat used to take tens of seconds, within the hang guard.
    problems = []
    n = 32000
    gemini_sub_agent_run(tmp, n)
    doc, found = parse(tmp, harness="gemini", version="0.61.0", timeout=120)
    problems += found
    if doc:
        agents = doc["state"]["subAgents"]
        want = sorted((f"a{i}", f"agent{i}", f"session-1.jsonl:{i + 2}") for i in range(n))
        got = sorted((a["id"], a["title"], a["source"].rsplit("/", 1)[-1]) for a in agents)
        if got != want:
            problems.append(f"{len(agents)} sub-agents, first {agents[:2]}")
    return problems


@case("a lone surrogate escape becomes U+FFFD and the record is kept")
def lone_surrogates(tmp):
    claude = os.path.join(tmp, "snapshots/s/home/.claude/projects/p/s.jsonl")
    write(claude, '{"type":"user","message":{"role":"user","content":"cut \\ud83d"},"uuid":"u1",'
                  '"timestamp":"2026-01-01T00:00:00Z"}\n'
                  '{"type":"assistant","message":{"role":"assistant","content":[{"type":"text",'
                  '"text":"low \\udE00, pair \\ud83d\\ude00, two highs \\ud83d\\ud83d, text \\\\ud83d"}]},'
                  '"uuid":"u2","timestamp":"2026-01-01T00:00:01Z"}\n')
    gemini = os.path.join(tmp, "snapshots/s/home/.gemini/tmp/p/chats/session-1.jsonl")
    write(gemini, '{"sessionId":"p1","projectHash":"h"}\n{"id":"m1","type":"user","content":"gemini \\ud83d cut"}\n')
    problems = []
    for harness, version, want in (
            ("claude", "2.1.217", ["cut \ufffd", "low \ufffd, pair \U0001F600, two highs \ufffd\ufffd, text \\ud83d"]),
            ("gemini", "0.61.0", ["gemini \ufffd cut"])):
        doc, found = parse(tmp, harness=harness, version=version)
        problems += found
        if doc and texts(doc, "messages") != want:
            problems.append(f"{harness} messages {texts(doc, 'messages')}")
    return problems


@case("what tracelens prints nested deepest, tracelens-report accepts")
def deepest_nesting(tmp):
    report = os.path.join(os.path.dirname(BINARY), "tracelens-report")
    if not os.path.exists(report):
        print("skipped: deepest nesting (tracelens-report not built)")
        return []
    chat = os.path.join(tmp, "snapshots/s/home/.gemini/tmp/p/chats/session-1.jsonl")
    problems = []
    # The line may be nested 1,023 levels: the arguments, at its fourth, 1,020.
    for levels, kept in ((1020, True), (1021, False)):
        args = '{"v":' + "[" * (levels - 1) + "1" + "]" * (levels - 1) + "}"
        write(chat, '{"sessionId":"p1","projectHash":"h"}\n'
                    '{"id":"g1","type":"gemini","content":"","toolCalls":[{"id":"i1","name":"deep",'
                    '"status":"success","args":' + args + '}]}\n')
        out = subprocess.run([BINARY, "parse-run", "--input", tmp, "--harness", "gemini", "--version", "0.61.0"],
                             capture_output=True, timeout=60)
        if out.returncode != 0 or (b'"name":"deep"' in out.stdout) != kept:
            problems.append(f"{levels} levels: tracelens status {out.returncode}, kept {not kept}")
        page = subprocess.run([report], input=out.stdout, capture_output=True, timeout=60)
        if page.returncode != 0 or page.stderr:
            problems.append(f"{levels} levels: tracelens-report status {page.returncode} {page.stderr[:200]!r}")
    return problems


@case("names that differ only in invalid UTF-8 or in \\ against / stay distinct")
def distinct_names(tmp):
    base = os.path.join(os.fsencode(tmp), b"snapshots/s/home/.pi/agent/sessions")
    os.makedirs(os.path.join(base, b"p"))
    files = {b"p/a\xff.jsonl": "from ff", b"p/a\xfe.jsonl": "from fe", b"p/b.jsonl": "from slash",
             b"p\\b.jsonl": "from backslash", b"p/a\xef\xbf\xbd.jsonl": "from U+FFFD"}
    for name, content in files.items():
        with open(os.path.join(base, name), "w") as f:
            f.write(json.dumps({"role": "user", "content": content}) + "\n")
    doc, problems = parse(tmp)
    if doc:
        prefix = "snapshots/s/home/.pi/agent/sessions/"
        # A path that spells its file keeps it; the others are numbered in
        # walk order (byte order of the names, depth first).
        want = {"p/a\ufffd.jsonl": "from U+FFFD", "p/a\ufffd~2.jsonl": "from fe", "p/a\ufffd~3.jsonl": "from ff",
                "p/b.jsonl": "from slash", "p/b~2.jsonl": "from backslash"}
        got = {m["source"][len(prefix):].rsplit(":", 1)[0]: m["text"] for m in doc["state"]["messages"]}
        if got != want:
            problems.append(f"messages {got}")
        paths = sorted(c["path"][len(prefix):] for c in doc["state"]["contextArtifacts"])
        if paths != sorted(want):
            problems.append(f"context paths {paths}")
    return problems


@case("a reader that closes standard output early: status 1")
def early_closing_reader(tmp):
    path = os.path.join(tmp, "snapshots/s/home/.pi/agent/sessions/p/log.jsonl")
    write(path, "".join(json.dumps({"role": "user", "content": f"message {i} " + "x" * 200}) + "\n"
                        for i in range(5000)))
    proc = subprocess.Popen([BINARY, "parse-run", "--input", tmp, "--harness", "pi", "--version", "0.73.1"],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    proc.stdout.read(10)
    proc.stdout.close()
    err = proc.stderr.read()
    status = proc.wait(timeout=60)
    if status != 1 or len(err.splitlines()) != 1:
        return [f"status {status}, stderr {err[:200]!r}"]
    return []


@case("control characters in an echoed argument are escaped")
def echoed_controls(tmp):
    problems = []
    for args, want in ((["parse-run", "--input", tmp, "--\x1b[2J\x07x", "v"], b"unknown flag: --\\x1B[2J\\x07x\n"),
                       (["run\x1b]0;t\x07"], b"unknown command: run\\x1B]0;t\\x07\n"),
                       (["parse-run", "--\u009b31m"], b"missing value for --\\u009B31m\n")):
        out = subprocess.run([BINARY, *args], capture_output=True, timeout=60)
        if out.returncode != 2 or out.stderr != want or out.stdout:
            problems.append(f"{args!r}: status {out.returncode}, stderr {out.stderr!r}")
    return problems


def main():
    global BINARY
    BINARY = os.path.abspath(sys.argv[1])
    cases = [missing, input_loop, loops, unreadable, binary, big_terminal, budget, malformed, manifest_spaces,
             huge_line, empty_lines, racing_files, single_file, store_untouched_as_root, generated_column,
             many_empty_files, sparse_log, many_sub_agents, lone_surrogates, deepest_nesting, distinct_names,
             early_closing_reader, echoed_controls]
    for c in cases:
        c()
    for f in FAILURES:
        print("FAIL", f)
    print(f"{len(cases)} hostile cases, {len(FAILURES)} failures")
    sys.exit(1 if FAILURES else 0)


if __name__ == "__main__":
    main()
