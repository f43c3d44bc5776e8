"""The public sample run pi-0.73.1, as its harness wrote it."""
import os, sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
import realdata_runs

realdata_runs.lay_out("pi-0.73.1", sys.argv[1])
