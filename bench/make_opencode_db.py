#!/usr/bin/env python3
"""Write a run directory whose home holds a large OpenCode database.

    make_opencode_db.py --mb 60 --out DIR [--seed N] [--wal-percent P]

The database (opencode.db with its -wal and -shm) has OpenCode 1.2's session,
message, part and todo tables and about --mb megabytes of rows shaped like
the ones OpenCode writes: sessions of a few dozen messages, sub-agent
sessions, text, reasoning and step parts, tool parts with long outputs,
failed calls and todo lists. The last P percent of the sessions (default 10)
are left only in the write-ahead log, as a running OpenCode leaves them.
Standard library only; the same arguments always give the same bytes of row
data.
"""
import argparse, json, os, random, shutil, sqlite3, tempfile

WORDS = ("the a build test file error update function return value path module parser config cache request "
         "response agent tool output line token résumé naïve 東京 данные λ ✓ → emoji🙂").split()

SCHEMA = """
CREATE TABLE project (id text PRIMARY KEY, worktree text NOT NULL, vcs text, name text,
  time_created integer NOT NULL, time_updated integer NOT NULL, sandboxes text NOT NULL);
CREATE TABLE session (id text PRIMARY KEY, project_id text NOT NULL, parent_id text, slug text NOT NULL,
  directory text NOT NULL, title text NOT NULL, version text NOT NULL, time_created integer NOT NULL,
  time_updated integer NOT NULL);
CREATE TABLE message (id text PRIMARY KEY, session_id text NOT NULL, time_created integer NOT NULL,
  time_updated integer NOT NULL, data text NOT NULL);
CREATE TABLE part (id text PRIMARY KEY, message_id text NOT NULL, session_id text NOT NULL,
  time_created integer NOT NULL, time_updated integer NOT NULL, data text NOT NULL);
CREATE TABLE todo (session_id text NOT NULL, content text NOT NULL, status text NOT NULL, priority text NOT NULL,
  position integer NOT NULL, time_created integer NOT NULL, time_updated integer NOT NULL,
  PRIMARY KEY (session_id, position));
CREATE INDEX message_session_time_created_id_idx ON message (session_id, time_created, id);
CREATE INDEX part_message_id_id_idx ON part (message_id, id);
CREATE INDEX session_parent_idx ON session (parent_id);
"""


def text(rng, n):
    return " ".join(rng.choice(WORDS) for _ in range(n))


def compact(value):
    return json.dumps(value, separators=(",", ":"), ensure_ascii=False)


class Ids:
    """OpenCode-like ids that sort in creation order."""

    def __init__(self):
        self.n = 0

    def __call__(self, prefix):
        self.n += 1
        return f"{prefix}_{self.n:012x}abcdefABCDEF"


def session_rows(rng, ids, now, parent=None):
    """One session's rows: (session, messages, parts, todos)."""
    sid = ids("ses")
    start = now
    session = (sid, "prj_bench", parent, "bench-" + sid[-6:], "/home/dev/app",
               ("Sub-task " if parent else "") + text(rng, 5), "1.19.5", start, start + 60000)
    messages, parts, todos = [], [], []
    children = []
    t = start
    for turn in range(rng.randint(2, 4)):
        t += 1000
        mid = ids("msg")
        messages.append((mid, sid, t, t, compact({"role": "user", "time": {"created": t}, "agent": "build",
                                                  "model": {"providerID": "p", "modelID": "m"}})))
        parts.append((ids("prt"), mid, sid, t, t, compact({"type": "text", "text": text(rng, 30)})))
        for step in range(rng.randint(4, 12)):
            t += 500
            aid = ids("msg")
            err = {"name": "APIError", "data": {"message": "rate limited"}} if rng.random() < 0.02 else None
            data = {"role": "assistant", "parentID": mid, "time": {"created": t, "completed": t + 400},
                    "modelID": "m", "providerID": "p", "mode": "build", "agent": "build",
                    "cost": 0, "tokens": {"input": 1200, "output": 300, "reasoning": 0, "cache": {"read": 0, "write": 0}},
                    "finish": "tool-calls"}
            if err:
                data["error"] = err
            messages.append((aid, sid, t, t, compact(data)))
            parts.append((ids("prt"), aid, sid, t, t, compact({"type": "step-start", "snapshot": "0" * 40})))
            parts.append((ids("prt"), aid, sid, t, t, compact({"type": "reasoning", "text": text(rng, 40),
                                                               "time": {"start": t, "end": t + 10}})))
            parts.append((ids("prt"), aid, sid, t, t, compact({"type": "text", "text": text(rng, 25),
                                                               "time": {"start": t + 10, "end": t + 20}})))
            kind = rng.random()
            if kind < 0.5:
                tool, inp = "bash", {"command": "cargo test " + text(rng, 3), "description": text(rng, 4)}
                out = "\n".join(text(rng, 12) for _ in range(rng.randint(20, 120)))
                exit_code = 0 if rng.random() < 0.9 else 101
                state = {"status": "completed", "input": inp, "output": out, "title": inp["description"],
                         "metadata": {"output": out, "exit": exit_code, "truncated": False},
                         "time": {"start": t + 20, "end": t + 300}}
            elif kind < 0.8:
                tool, inp = "read", {"filePath": "/home/dev/app/src/" + text(rng, 1) + ".rs"}
                if rng.random() < 0.1:
                    state = {"status": "error", "input": inp, "error": "Error: ENOENT: no such file",
                             "time": {"start": t + 20, "end": t + 30}}
                else:
                    out = "\n".join(f"{i:05d}| let x = compute({rng.randint(0, 999)}); // {text(rng, 6)}"
                                    for i in range(rng.randint(30, 200)))
                    state = {"status": "completed", "input": inp, "output": out, "title": inp["filePath"],
                             "metadata": {"preview": out[:200], "truncated": False},
                             "time": {"start": t + 20, "end": t + 40}}
            elif kind < 0.93 or parent:
                tool = "todowrite"
                items = [{"id": str(i), "content": text(rng, 5), "status": rng.choice(["pending", "in_progress",
                                                                                      "completed"]),
                          "priority": "medium"} for i in range(rng.randint(2, 6))]
                inp = {"todos": items}
                state = {"status": "completed", "input": inp, "output": json.dumps(items, indent=2),
                         "title": f"{len(items)} todos", "metadata": {"todos": items, "truncated": False},
                         "time": {"start": t + 20, "end": t + 25}}
                todos = [(sid, it["content"], it["status"], it["priority"], i, t, t) for i, it in enumerate(items)]
            else:
                tool = "task"
                inp = {"description": text(rng, 3), "prompt": text(rng, 20), "subagent_type": "general"}
                child = session_rows(rng, ids, t + 30, parent=sid)
                children.append(child)
                state = {"status": "completed", "input": inp,
                         "output": f"task_id: {child[0][0]}\n\n<task_result>\n{text(rng, 20)}\n</task_result>",
                         "title": inp["description"], "metadata": {"sessionId": child[0][0], "truncated": False},
                         "time": {"start": t + 20, "end": t + 400}}
            parts.append((ids("prt"), aid, sid, t, t, compact({"type": "tool", "callID": ids("call"), "tool": tool,
                                                               "state": state})))
            parts.append((ids("prt"), aid, sid, t, t, compact({"type": "step-finish", "reason": "tool-calls",
                                                               "snapshot": "0" * 40, "cost": 0})))
    return [(session, messages, parts, todos)] + [s for c in children for s in c]


def insert(db, sessions):
    for session, messages, parts, todos in sessions:
        db.execute("INSERT INTO session VALUES (?,?,?,?,?,?,?,?,?)", session)
        db.executemany("INSERT INTO message VALUES (?,?,?,?,?)", messages)
        db.executemany("INSERT INTO part VALUES (?,?,?,?,?,?)", parts)
        db.executemany("INSERT INTO todo VALUES (?,?,?,?,?,?,?)", todos)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--mb", type=float, required=True)
    ap.add_argument("--out", required=True)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--wal-percent", type=float, default=10)
    args = ap.parse_args()
    rng = random.Random(args.seed)
    ids = Ids()
    # Pages and indexes add about two fifths to the rows' bytes.
    budget = int(args.mb * 1024 * 1024 / 1.4)
    sessions, size, now = [], 0, 1796648400000
    while size < budget:
        for s in session_rows(rng, ids, now):
            sessions.append(s)
            size += sum(len(m[4]) for m in s[1]) + sum(len(p[5]) for p in s[2]) + 200
        now += 600000
    split = max(1, int(len(sessions) * (1 - args.wal_percent / 100)))

    data = os.path.join(args.out, "snapshots", "after", "home", ".local", "share", "opencode")
    os.makedirs(data, exist_ok=True)
    with open(os.path.join(args.out, "metadata.json"), "w") as f:
        json.dump({"runId": "opencode-db-bench", "scenario": "benchmark",
                   "snapshots": [{"name": "after", "path": "snapshots/after"}]}, f)
    open(os.path.join(args.out, "terminal.log"), "w").close()
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "opencode.db")
        db = sqlite3.connect(path, isolation_level=None)
        db.execute("PRAGMA journal_mode=WAL")
        db.execute("PRAGMA synchronous=OFF")
        db.executescript(SCHEMA)
        db.execute("INSERT INTO project VALUES ('prj_bench', '/home/dev/app', 'git', NULL, 0, 0, '[]')")
        db.execute("BEGIN")
        insert(db, sessions[:split])
        db.execute("COMMIT")
        db.execute("PRAGMA wal_checkpoint(TRUNCATE)")
        # The rest stays in the log: the files are copied while the writer has them open.
        db.execute("PRAGMA wal_autocheckpoint=0")
        db.execute("BEGIN")
        insert(db, sessions[split:])
        db.execute("COMMIT")
        for suffix in ("", "-wal", "-shm"):
            shutil.copyfile(path + suffix, os.path.join(data, "opencode.db" + suffix))
        db.close()
    total = sum(os.path.getsize(os.path.join(data, n)) for n in os.listdir(data))
    print(f"{len(sessions)} sessions, {sum(len(s[1]) for s in sessions)} messages, "
          f"{sum(len(s[2]) for s in sessions)} parts, {total} bytes of database files")


if __name__ == "__main__":
    main()
