"""OpenCode 1.19.5's database and write-ahead log without the log's index (a
snapshot that copied two of the three files): the rows only in the log are
still read, and no index file is made."""
import os, sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
import opencode_stores as s

s.require_samples()
run = sys.argv[1]
s.write_run(run, "opencode-sqlite-store", "OpenCode 1.19.5 database")
s.copy_sqlite_store(run, shm=False)
