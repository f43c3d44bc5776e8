#!/usr/bin/env python3
"""Every public sample run parses with exit status 0 and a schema-valid
document.

    realdata_e2e.py TRACELENS [REALDATA_DIR]

REALDATA_DIR defaults to ../shared/realdata beside the checkout (or
$TRACELENS_REALDATA); when it is absent the test reports that it was skipped.
"""
import os, subprocess, sys, tempfile

from run_e2e import check_document, ROOT


def main():
    binary = os.path.abspath(sys.argv[1])
    data = sys.argv[2] if len(sys.argv) > 2 else os.environ.get(
        "TRACELENS_REALDATA", os.path.join(os.path.dirname(ROOT), "shared", "realdata"))
    make_runs = os.path.join(data, "make_runs.py")
    if not os.path.isfile(make_runs):
        print(f"SKIPPED: no public sample logs at {data}")
        sys.exit(77)
    failures = []
    with tempfile.TemporaryDirectory() as out:
        listing = subprocess.run([sys.executable, make_runs, out], capture_output=True, text=True, check=True).stdout
        runs = [line.split() for line in listing.splitlines() if line.strip()]
        for name, harness, version in runs:
            proc = subprocess.run([binary, "parse-run", "--input", os.path.join(out, name), "--harness", harness,
                                   "--version", version], capture_output=True, stdin=subprocess.DEVNULL, timeout=120)
            doc, problems = check_document(proc)
            if doc is not None:
                if doc["runId"] != name or doc["parser"]["status"] != "succeeded":
                    problems.append("runId or parser status wrong")
                # JSONL logs in a harness home are listed as session logs.
                if harness in ("claude", "codex", "cursor", "pi") and not doc["state"]["contextArtifacts"]:
                    problems.append("the session log is not listed as a context artifact")
            if problems:
                failures.append(f"{name}: " + "; ".join(problems))
            else:
                s = doc["state"]
                print(f"ok {name}: {len(s['messages'])} messages, {len(s['toolCalls'])} tool calls, "
                      f"{len(s['todos'])} todos, {len(s['subAgents'])} sub-agents, {len(s['userTurns'])} turns, "
                      f"activity {s['activity']['state']}")
    for f in failures:
        print("FAIL", f)
    print(f"{len(runs)} sample runs, {len(failures)} failures")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
