"""OpenCode 1.1.65's JSON store, as the harness left it, in a home snapshot."""
import os, sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
import opencode_stores as s

s.require_samples()
run = sys.argv[1]
s.write_run(run, "opencode-json-store", "OpenCode 1.1.65 JSON store")
s.copy_json_store(run)
