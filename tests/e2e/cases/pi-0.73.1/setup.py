"""The shared sample run pi-0.73.1: what the published pi 0.73.1 wrote (see
realdata/SOURCES.md), laid out as make_runs.py lays it out."""
import os, sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
import shared_samples

shared_samples.build("pi-0.73.1", sys.argv[1])
