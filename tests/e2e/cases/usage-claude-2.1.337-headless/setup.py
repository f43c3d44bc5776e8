"""The public sample run claude-2.1.337-headless, as its harness wrote it."""
import os, sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
import shared_samples

shared_samples.build("claude-2.1.337-headless", sys.argv[1])
