"""The shared sample run claude-2.1.337-interactive: what the published claude 2.1.337 wrote (see
realdata/SOURCES.md), laid out as make_runs.py lays it out."""
import os, sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
import shared_samples

shared_samples.build("claude-2.1.337-interactive", sys.argv[1])
