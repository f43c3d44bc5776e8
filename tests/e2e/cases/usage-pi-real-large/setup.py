"""The public sample run pi-real-large, as its harness wrote it."""
import os, sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
import shared_samples

shared_samples.build("pi-real-large", sys.argv[1])
