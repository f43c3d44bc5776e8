"""Builds OpenCode runs for the end-to-end cases out of the stores that the
published OpenCode binaries wrote (../shared/realdata/opencode, or
$TRACELENS_REALDATA/opencode): 1.1.65's JSON store and 1.19.5's SQLite
database with its write-ahead log and index. The samples are only read; the
run gets plain copies. Without the samples a setup exits with status 77 and
the case is skipped.
"""
import json, os, sqlite3, sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
REALDATA = os.environ.get("TRACELENS_REALDATA", os.path.join(os.path.dirname(ROOT), "shared", "realdata"))
JSON_STORE = os.path.join(REALDATA, "opencode", "v1.1.65-json-storage")
SQLITE_STORE = os.path.join(REALDATA, "opencode", "v1.19.5-sqlite")

# Terminal lines the OpenCode interface reading would turn into a prompt and
# an answer; a run whose store holds the conversation never reads them.
TERMINAL = "Run the store sample.\n# This terminal answer is not read.\n"


def require_samples():
    if not (os.path.isdir(JSON_STORE) and os.path.isdir(SQLITE_STORE)):
        print(f"no OpenCode samples at {REALDATA}", file=sys.stderr)
        sys.exit(77)


def data_dir(run):
    """The OpenCode data directory of the run's home snapshot."""
    return os.path.join(run, "snapshots", "after", "home", ".local", "share", "opencode")


def copy_file(src, dst):
    os.makedirs(os.path.dirname(dst), exist_ok=True)
    with open(src, "rb") as f, open(dst, "wb") as g:
        g.write(f.read())


def copy_tree(src, dst, skip=()):
    for dirpath, _, filenames in os.walk(src):
        for name in filenames:
            if name in skip:
                continue
            path = os.path.join(dirpath, name)
            copy_file(path, os.path.join(dst, os.path.relpath(path, src)))


def write_run(run, run_id, scenario):
    with open(os.path.join(run, "metadata.json"), "w") as f:
        json.dump({"runId": run_id, "scenario": scenario,
                   "snapshots": [{"name": "after", "path": "snapshots/after"}]}, f)
    with open(os.path.join(run, "terminal.log"), "w") as f:
        f.write(TERMINAL)


def copy_json_store(run):
    copy_tree(JSON_STORE, data_dir(run))


def copy_sqlite_store(run, wal=True, shm=True):
    """The database, its runtime log, and the log and index where asked."""
    skip = ({"opencode.db-wal"} if not wal else set()) | ({"opencode.db-shm"} if not shm else set())
    copy_tree(SQLITE_STORE, data_dir(run), skip)


def import_json_store(db_path, storage):
    """What OpenCode 1.2's first start does: the JSON store's rows written into
    the database (ids from the file names, the objects without their ids),
    leaving the JSON files in place."""
    db = sqlite3.connect(db_path)
    now = 1796648600000

    def files(kind):
        base = os.path.join(storage, kind)
        for dirpath, _, names in sorted(os.walk(base)):
            for name in sorted(names):
                if name.endswith(".json"):
                    path = os.path.join(dirpath, name)
                    yield os.path.basename(dirpath), name[:-5], json.load(open(path))

    for _, pid, p in files("project"):
        db.execute("INSERT INTO project (id, worktree, vcs, time_created, time_updated, sandboxes) "
                   "VALUES (?, ?, ?, ?, ?, ?)",
                   (pid, p["worktree"], p.get("vcs"), p["time"]["created"], p["time"]["updated"], "[]"))
    for project, sid, s in files("session"):
        db.execute("INSERT INTO session (id, project_id, parent_id, slug, directory, title, version, "
                   "time_created, time_updated) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)",
                   (sid, project, s.get("parentID"), s.get("slug", ""), s.get("directory", ""), s.get("title", ""),
                    s.get("version", ""), s["time"]["created"], s["time"]["updated"]))
    message_sessions = {}
    for session, mid, m in files("message"):
        message_sessions[mid] = session
        for key in ("id", "sessionID"):
            m.pop(key, None)
        db.execute("INSERT INTO message (id, session_id, time_created, time_updated, data) VALUES (?, ?, ?, ?, ?)",
                   (mid, session, m["time"]["created"], m["time"].get("updated", now),
                    json.dumps(m, separators=(",", ":"))))
    for message, pid, p in files("part"):
        for key in ("id", "messageID", "sessionID"):
            p.pop(key, None)
        db.execute("INSERT INTO part (id, message_id, session_id, time_created, time_updated, data) "
                   "VALUES (?, ?, ?, ?, ?, ?)",
                   (pid, message, message_sessions[message], now, now, json.dumps(p, separators=(",", ":"))))
    for _, sid, todos in files("todo"):
        for position, t in enumerate(todos):
            db.execute("INSERT INTO todo (session_id, content, status, priority, position, time_created, "
                       "time_updated) VALUES (?, ?, ?, ?, ?, ?, ?)",
                       (sid, t["content"], t["status"], t["priority"], position, now, now))
    db.commit()
    db.close()


def write_both_stores(run, run_id):
    """A home holding 1.1.65's JSON store and a database that imported it at
    1.2's first start and then recorded 1.19.5's sessions."""
    write_run(run, run_id, "OpenCode JSON store and the database that imported it")
    copy_json_store(run)
    copy_sqlite_store(run)
    import_json_store(os.path.join(data_dir(run), "opencode.db"), os.path.join(data_dir(run), "storage"))
