"""OpenCode 1.19.5's database whose write-ahead log is only its 32-byte
header: the log holds nothing, so only the rows in the database file count
(the cancelled session is only in the log and is absent)."""
import os, sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
import opencode_stores as s

s.require_samples()
run = sys.argv[1]
s.write_run(run, "opencode-sqlite-without-wal-content", "OpenCode 1.19.5 database, empty log")
s.copy_sqlite_store(run)
wal = os.path.join(s.data_dir(run), "opencode.db-wal")
with open(wal, "r+b") as f:
    f.truncate(32)
