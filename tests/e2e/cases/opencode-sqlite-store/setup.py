"""OpenCode 1.19.5's database with its write-ahead log and index, as the
harness left them (most rows are only in the log)."""
import os, sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
import opencode_stores as s

s.require_samples()
run = sys.argv[1]
s.write_run(run, "opencode-sqlite-store", "OpenCode 1.19.5 database")
s.copy_sqlite_store(run)
