"""The public sample run codex-0.171.0-subagent, as its harness wrote it."""
import os, sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
import shared_samples

shared_samples.build("codex-0.171.0-subagent", sys.argv[1])
