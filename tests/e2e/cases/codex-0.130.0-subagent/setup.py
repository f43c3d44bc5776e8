"""The shared sample run codex-0.130.0-subagent: what the published codex 0.130.0 wrote (see
realdata/SOURCES.md), laid out as make_runs.py lays it out."""
import os, sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
import shared_samples

shared_samples.build("codex-0.130.0-subagent", sys.argv[1])
