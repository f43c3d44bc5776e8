"""A home holding 1.1.65's JSON store and a database that imported it at
1.2's first start and then recorded 1.19.5's sessions: every session is in
the database, which alone is read."""
import os, sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
import opencode_stores as s

s.require_samples()
s.write_both_stores(sys.argv[1], "opencode-both-stores")
