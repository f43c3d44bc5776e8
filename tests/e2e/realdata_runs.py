"""Lays out one of the public sample runs (../shared/realdata, or
$TRACELENS_REALDATA) for an end-to-end case: the samples' make_runs.py
writes every run into a temporary folder and the one named is moved into
place. Without the samples a setup exits with status 77 and the case is
skipped.
"""
import os, shutil, subprocess, sys, tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
REALDATA = os.environ.get("TRACELENS_REALDATA", os.path.join(os.path.dirname(ROOT), "shared", "realdata"))


def lay_out(name, dest):
    make_runs = os.path.join(REALDATA, "make_runs.py")
    if not os.path.isfile(make_runs):
        print(f"no sample runs at {REALDATA}", file=sys.stderr)
        sys.exit(77)
    with tempfile.TemporaryDirectory() as tmp:
        subprocess.run([sys.executable, make_runs, tmp], check=True, stdout=subprocess.DEVNULL)
        src = os.path.join(tmp, name)
        for entry in os.listdir(src):
            shutil.move(os.path.join(src, entry), os.path.join(dest, entry))
