#!/usr/bin/env python3
"""Seeds for the fuzz targets from the end-to-end runs.

    make_seeds.py TARGET OUT_DIR

classify_fuzz takes single files; run_fuzz takes a run's files joined by the
byte 0x1E in the order run_fuzz.cpp lays them out.
"""
import os, sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CASES = os.path.join(ROOT, "tests", "e2e", "cases")
# (path fragment, suffix) for each piece of a run_fuzz input, in order.
PIECES = [("", "metadata.json"), ("", "terminal.log"), ("screens/", ".txt"), ("/.claude/projects/", ".jsonl"),
          ("/.claude/todos/", ".json"), ("/.codex/sessions/", ".jsonl"), ("/.codex/sessions/", ".jsonl"),
          ("/.cursor/projects/", ".jsonl"), ("/.pi/agent/sessions/", ".jsonl"), ("/.omp/agent/sessions/", ".jsonl"),
          ("/.local/share/opencode/storage/", ".json"), ("/.local/share/opencode/log/", ".log"), ("/work/", ".md")]
LIMIT = 60000


def files_of(run):
    out = []
    for root, _, names in os.walk(run):
        for n in sorted(names):
            p = os.path.join(root, n)
            if os.path.isfile(p) and not os.path.islink(p):
                out.append(os.path.relpath(p, run).replace(os.sep, "/"))
    return sorted(out)


def main():
    target, out = sys.argv[1], sys.argv[2]
    os.makedirs(out, exist_ok=True)
    n = 0
    for case in sorted(os.listdir(CASES)):
        run = os.path.join(CASES, case, "run")
        if not os.path.isdir(run):
            continue
        rels = files_of(run)
        if target == "classify_fuzz":
            for rel in rels:
                data = open(os.path.join(run, rel), "rb").read()[:LIMIT]
                n += 1
                open(os.path.join(out, f"seed-{n:04d}"), "wb").write(data)
            continue
        used, pieces = set(), []
        for frag, suffix in PIECES:
            pick = next((r for r in rels if r not in used and (frag in "/" + r if frag else r == suffix)
                         and r.endswith(suffix)), None)
            if pick:
                used.add(pick)
            pieces.append(open(os.path.join(run, pick), "rb").read()[:LIMIT // len(PIECES)] if pick else b"")
        n += 1
        open(os.path.join(out, f"seed-{n:04d}"), "wb").write(b"\x1e".join(pieces))
    print(f"{n} seeds for {target}")


if __name__ == "__main__":
    main()
