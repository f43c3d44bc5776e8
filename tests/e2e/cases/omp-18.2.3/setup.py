"""The shared sample run omp-18.2.3: what the published omp 18.2.3 wrote (see
realdata/SOURCES.md), laid out as make_runs.py lays it out."""
import os, sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
import shared_samples

shared_samples.build("omp-18.2.3", sys.argv[1])
