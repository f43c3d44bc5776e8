"""The public sample run claude-2.1.337-headless, as its harness wrote it."""
import os, sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
import realdata_runs

realdata_runs.lay_out("claude-2.1.337-headless", sys.argv[1])
