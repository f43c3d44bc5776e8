"""The public sample run opencode-1.19.5-sqlite, as its harness wrote it."""
import os, sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
import shared_samples

shared_samples.build("opencode-1.19.5-sqlite", sys.argv[1])
