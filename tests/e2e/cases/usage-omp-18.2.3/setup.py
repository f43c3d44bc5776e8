"""The public sample run omp-18.2.3, as its harness wrote it."""
import os, sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
import shared_samples

shared_samples.build("omp-18.2.3", sys.argv[1])
