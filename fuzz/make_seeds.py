#!/usr/bin/env python3
"""Seeds for the fuzz targets from the end-to-end runs.

    make_seeds.py TARGET OUT_DIR

classify_fuzz takes single files; run_fuzz takes a run's files joined by the
byte 0x1E in the order run_fuzz.cpp lays them out (runs that a case's
setup.py writes included); opencode_db_fuzz takes a small OpenCode database
and write-ahead log made from the shared OpenCode sample's rows (see
opencode_db_fuzz.cpp for the layout).
"""
import os, shutil, sqlite3, struct, subprocess, sys, tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CASES = os.path.join(ROOT, "tests", "e2e", "cases")
# (path fragment, suffix) for each piece of a run_fuzz input, in order.
PIECES = [("", "metadata.json"), ("", "terminal.log"), ("screens/", ".txt"), ("/.claude/projects/", ".jsonl"),
          ("/.claude/todos/", ".json"), ("/.codex/sessions/", ".jsonl"), ("/.codex/sessions/", ".jsonl"),
          ("/.cursor/projects/", ".jsonl"), ("/.pi/agent/sessions/", ".jsonl"), ("/.omp/agent/sessions/", ".jsonl"),
          ("/.local/share/opencode/storage/", ".json"), ("/.local/share/opencode/log/", ".log"), ("/work/", ".md"),
          ("/storage/session/", ".json"), ("/storage/message/", ".json"), ("/storage/part/", ".json"),
          ("/storage/part/", ".json"), ("/storage/todo/", ".json"), ("/.local/share/opencode/", "opencode.db"),
          ("/.gemini/tmp/", ".jsonl"), ("/.gemini/tmp/", ".json"), ("/.gemini/tmp/", ".jsonl"),
          ("/.omp/agent/sessions/", ".jsonl"), ("/.pi/agent/extensions/", ".ts")]
LIMIT = 60000


def files_of(run):
    out = []
    for root, _, names in os.walk(run):
        for n in sorted(names):
            p = os.path.join(root, n)
            if os.path.isfile(p) and not os.path.islink(p):
                out.append(os.path.relpath(p, run).replace(os.sep, "/"))
    return sorted(out)


def opencode_db_seeds(out):
    """The sample database's rows in a small database (512-byte pages): the
    sessions created first in the database file, the rest only in the log."""
    sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
    import opencode_stores
    if not os.path.isdir(opencode_stores.SQLITE_STORE):
        print("no OpenCode sample; no seeds for opencode_db_fuzz")
        return 0
    tables = {"session": ["id", "parent_id", "title", "time_created"],
              "message": ["id", "session_id", "time_created", "data"],
              "part": ["id", "message_id", "data"],
              "todo": ["session_id", "content", "status", "position"]}
    n = 0
    with tempfile.TemporaryDirectory() as tmp:
        for name in ("opencode.db", "opencode.db-wal", "opencode.db-shm"):
            opencode_stores.copy_file(os.path.join(opencode_stores.SQLITE_STORE, name), os.path.join(tmp, "s", name))
        sample = sqlite3.connect(os.path.join(tmp, "s", "opencode.db"))
        rows = {t: sample.execute(f"SELECT {', '.join(c)} FROM {t}").fetchall() for t, c in tables.items()}
        sample.close()
        db_path = os.path.join(tmp, "x.db")
        db = sqlite3.connect(db_path, isolation_level=None)
        db.execute("PRAGMA page_size=512")
        db.execute("PRAGMA journal_mode=WAL")
        db.execute("PRAGMA wal_autocheckpoint=0")
        for t, c in tables.items():
            db.execute(f"CREATE TABLE {t} ({', '.join(c)})")
        first = sorted(rows["session"], key=lambda r: r[3])[0][0]
        for committed in (True, False):
            for t, c in tables.items():
                key = c.index("session_id") if "session_id" in c else None
                for r in rows[t]:
                    in_first = (r[0] == first) if t == "session" else (r[key] == first if key is not None else None)
                    if t == "part":
                        in_first = any(m[0] == r[1] and m[1] == first for m in rows["message"])
                    if in_first == committed:
                        db.execute(f"INSERT INTO {t} VALUES ({', '.join('?' * len(c))})", r)
            if committed:
                db.execute("PRAGMA wal_checkpoint(TRUNCATE)")
        files = {name: open(db_path + suffix, "rb").read() for name, suffix in
                 (("db", ""), ("wal", "-wal"), ("shm", "-shm"))}
        db.close()
    # The index is cut to its first 4 KiB so that a seed fits the fuzzer's input size.
    for flags, wal, shm in ((1, files["wal"], files["shm"][:4096]), (0, files["wal"], b""), (0, b"", b"")):
        seed = struct.pack("<BII", flags, len(files["db"]), len(wal)) + files["db"] + wal + shm
        n += 1
        open(os.path.join(out, f"seed-{n:04d}"), "wb").write(seed)
    print(f"{n} seeds for opencode_db_fuzz ({len(files['db'])} + {len(files['wal'])} + {len(files['shm'])} bytes)")
    return n


# Lines that hold lone surrogate escapes (a string cut inside a character),
# as a Claude transcript and a Gemini chat write them.
LONE_SURROGATE_CLAUDE = (b'{"type":"user","message":{"role":"user","content":"cut \\ud83d"},"uuid":"u1"}\n'
                         b'{"type":"assistant","message":{"role":"assistant","content":[{"type":"text",'
                         b'"text":"low \\ude00 pair \\ud83d\\ude00 two \\ud83d\\ud83d"}]},"uuid":"u2"}\n')
LONE_SURROGATE_GEMINI = (b'{"sessionId":"p1","projectHash":"h"}\n'
                         b'{"id":"m1","type":"user","content":"gemini \\ud83d cut"}\n')


def generated_column_db_seed(out, n):
    """An OpenCode database whose part table declares its data column as
    generated (written after the rows, as a hostile file is), alone."""
    with tempfile.TemporaryDirectory() as tmp:
        db_path = os.path.join(tmp, "x.db")
        db = sqlite3.connect(db_path, isolation_level=None)
        db.execute("PRAGMA page_size=512")
        db.executescript(
            "CREATE TABLE session(id, parent_id, title, time_created);"
            "CREATE TABLE message(id, session_id, time_created, data);"
            "CREATE TABLE part(id, message_id, raw);"
            "CREATE TABLE todo(session_id, content, status, position);"
            "INSERT INTO session VALUES('ses_1', NULL, 't', 1);"
            "INSERT INTO message VALUES('msg_1', 'ses_1', 2, '{\"role\":\"user\"}');"
            "INSERT INTO part VALUES('prt_1', 'msg_1', '{\"type\":\"text\",\"text\":\"hi\"}');"
            "INSERT INTO todo VALUES('ses_1', 'a todo', 'pending', 0);"
            "PRAGMA writable_schema=ON;"
            "UPDATE sqlite_master SET sql = 'CREATE TABLE part(id, message_id, raw, "
            "data AS (raw || hex(zeroblob(100000000))) VIRTUAL)' WHERE name = 'part';")
        db.close()
        data = open(db_path, "rb").read()
    open(os.path.join(out, f"seed-{n:04d}"), "wb").write(struct.pack("<BII", 0, len(data), 0) + data)
    print(f"1 seed for opencode_db_fuzz with a generated column ({len(data)} bytes)")


def runs_of_cases(tmp):
    """Each case's run directory, or the run its setup.py writes."""
    for case in sorted(os.listdir(CASES)):
        run = os.path.join(CASES, case, "run")
        setup = os.path.join(CASES, case, "setup.py")
        if os.path.isdir(run):
            yield run
        elif os.path.isfile(setup):
            run = os.path.join(tmp, case)
            os.makedirs(run)
            if subprocess.run([sys.executable, setup, run], capture_output=True).returncode == 0:
                yield run


def main():
    target, out = sys.argv[1], sys.argv[2]
    os.makedirs(out, exist_ok=True)
    if target == "opencode_db_fuzz":
        generated_column_db_seed(out, opencode_db_seeds(out) + 1)
        return
    tmp = tempfile.mkdtemp()
    try:
        seeds(target, out, tmp)
    finally:
        shutil.rmtree(tmp)


def seeds(target, out, tmp):
    n = 0
    for run in runs_of_cases(tmp):
        rels = files_of(run)
        if target == "classify_fuzz":
            for rel in rels:
                data = open(os.path.join(run, rel), "rb").read()[:LIMIT]
                n += 1
                open(os.path.join(out, f"seed-{n:04d}"), "wb").write(data)
            continue
        used, pieces = set(), []
        for frag, suffix in PIECES:
            pick = next((r for r in rels if r not in used and (frag in "/" + r if frag else r == suffix)
                         and r.endswith(suffix)), None)
            if pick:
                used.add(pick)
            pieces.append(open(os.path.join(run, pick), "rb").read()[:LIMIT // len(PIECES)] if pick else b"")
        n += 1
        open(os.path.join(out, f"seed-{n:04d}"), "wb").write(b"\x1e".join(pieces))
    if target == "classify_fuzz":
        for data in (LONE_SURROGATE_CLAUDE, LONE_SURROGATE_GEMINI):
            n += 1
            open(os.path.join(out, f"seed-{n:04d}"), "wb").write(data)
    else:
        pieces = [b""] * len(PIECES)
        pieces[3] = LONE_SURROGATE_CLAUDE
        pieces[19] = LONE_SURROGATE_GEMINI
        n += 1
        open(os.path.join(out, f"seed-{n:04d}"), "wb").write(b"\x1e".join(pieces))
    print(f"{n} seeds for {target}")


if __name__ == "__main__":
    main()
