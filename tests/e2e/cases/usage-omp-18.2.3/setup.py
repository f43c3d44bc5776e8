"""The public sample run omp-18.2.3, as its harness wrote it."""
import os, sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
import realdata_runs

realdata_runs.lay_out("omp-18.2.3", sys.argv[1])
