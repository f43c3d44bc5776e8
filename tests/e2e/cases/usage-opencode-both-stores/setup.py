"""A home holding 1.1.65's JSON store and a database that imported it at
1.2's first start and then recorded 1.19.5's sessions: every session is in
the database, which alone is read."""
import os, sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
import opencode_stores as s

s.require_samples()
run = sys.argv[1]
s.write_run(run, "usage-opencode-both-stores", "OpenCode JSON store and the database that imported it")
s.copy_json_store(run)
s.copy_sqlite_store(run)
s.import_json_store(os.path.join(s.data_dir(run), "opencode.db"), os.path.join(s.data_dir(run), "storage"))
