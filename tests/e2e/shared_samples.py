"""Builds a run for an end-to-end case out of the shared sample stores that
the published harness binaries wrote (../shared/realdata, or
$TRACELENS_REALDATA), laid out by the samples' own make_runs.py exactly as a
user trying them would have them. The samples are only read; the run gets
plain copies. Without the samples a setup exits with status 77 and the case
is skipped.
"""
import os, shutil, subprocess, sys, tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
REALDATA = os.environ.get("TRACELENS_REALDATA", os.path.join(os.path.dirname(ROOT), "shared", "realdata"))


def build(name, run):
    """Lays out the sample run `name` of make_runs.py in the directory `run`."""
    make_runs = os.path.join(REALDATA, "make_runs.py")
    if not os.path.isfile(make_runs):
        print(f"no shared samples at {REALDATA}", file=sys.stderr)
        sys.exit(77)
    with tempfile.TemporaryDirectory() as tmp:
        subprocess.run([sys.executable, make_runs, tmp], check=True, stdout=subprocess.DEVNULL)
        src = os.path.join(tmp, name)
        if not os.path.isdir(src):
            print(f"no sample run {name} in {make_runs}", file=sys.stderr)
            sys.exit(77)
        shutil.copytree(src, run, dirs_exist_ok=True)
