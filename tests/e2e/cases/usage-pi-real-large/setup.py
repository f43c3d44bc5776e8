"""The public sample run pi-real-large, as its harness wrote it."""
import os, sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
import realdata_runs

realdata_runs.lay_out("pi-real-large", sys.argv[1])
