#!/usr/bin/env python3
"""End-to-end tests of tracelens.

    run_e2e.py TRACELENS [CASE ...]

Every directory under cases/ is one case:
  case.json      {"harness": ..., "version": ..., "input": "run"}  (input is
                 relative to the case directory, default "run"; "expected"
                 names another case's expected document; "untouched": true
                 checks that the run directory is left exactly as it was;
                 "args" are further arguments, where "{case}" stands for the
                 case directory; "compare": "usage" compares only the
                 document's "usage" member with the expected file)
  run/           the run directory (or setup.py, which writes the run into
                 the directory given as its only argument; its exit status
                 77 skips the case)
  expected.json  the expected document, without "parsedAt"

Each case runs the binary, checks exit status 0, exactly one line on standard
output and nothing on standard error, validates the document against the
schema, and compares it (less "parsedAt") with the expected document.
cli.json lists command lines whose errors are checked instead.
"""
import difflib, json, os, subprocess, sys, tempfile

import jsonschema

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
SCHEMA = json.load(open(os.path.join(ROOT, "schema", "parser-output.schema.json")))
VALIDATOR = jsonschema.Draft202012Validator(SCHEMA)


def run_tracelens(binary, args, timeout=120):
    return subprocess.run([binary] + args, capture_output=True, timeout=timeout, stdin=subprocess.DEVNULL)


def check_document(proc):
    """Returns (document, problems) for a run that should succeed."""
    problems = []
    if proc.returncode != 0:
        problems.append(f"exit status {proc.returncode}, stderr {proc.stderr[:500]!r}")
    if proc.stderr:
        problems.append(f"unexpected stderr {proc.stderr[:500]!r}")
    out = proc.stdout
    if not out.endswith(b"\n") or out.count(b"\n") != 1:
        problems.append("standard output is not exactly one line")
    try:
        doc = json.loads(out)
    except ValueError as e:
        return None, problems + [f"not JSON: {e}"]
    for err in VALIDATOR.iter_errors(doc):
        problems.append(f"schema: {err.message} at {list(err.absolute_path)}")
        break
    return doc, problems


def without_parsed_at(doc):
    doc = dict(doc)
    doc.pop("parsedAt", None)
    return doc


def pretty(doc):
    return json.dumps(doc, indent=1, ensure_ascii=False, sort_keys=False).splitlines()


class Skipped(Exception):
    pass


def directory_state(root):
    """Every entry below root: its kind, and for a file its bytes and modification time."""
    state = {}
    for dirpath, dirnames, filenames in os.walk(root):
        for name in dirnames + filenames:
            path = os.path.join(dirpath, name)
            st = os.lstat(path)
            rel = os.path.relpath(path, root)
            if os.path.isfile(path) and not os.path.islink(path):
                with open(path, "rb") as f:
                    state[rel] = ("file", f.read(), st.st_mtime_ns)
            else:
                state[rel] = ("other", st.st_mode, None)
    return state


def run_case(binary, case_dir):
    case = json.load(open(os.path.join(case_dir, "case.json")))
    changed = []
    with tempfile.TemporaryDirectory() as tmp:
        if os.path.exists(os.path.join(case_dir, "setup.py")):
            run_dir = os.path.join(tmp, case.get("input", "run"))
            os.makedirs(run_dir, exist_ok=True)
            setup = subprocess.run([sys.executable, os.path.join(case_dir, "setup.py"), run_dir])
            if setup.returncode == 77:
                raise Skipped()
            if setup.returncode != 0:
                return [f"setup.py failed with status {setup.returncode}"]
            if case.get("cwd") == "tmp":
                input_arg = case.get("input", "run")
            else:
                input_arg = run_dir
        else:
            run_dir = os.path.join(case_dir, case.get("input", "run"))
            input_arg = run_dir
        before = directory_state(run_dir) if case.get("untouched") else None
        args = ["parse-run", "--input", input_arg, "--harness", case["harness"], "--version", case["version"]]
        args += [a.replace("{case}", case_dir) for a in case.get("args", [])]
        proc = subprocess.run([binary] + args, capture_output=True, timeout=case.get("timeout", 120),
                              stdin=subprocess.DEVNULL, cwd=tmp if case.get("cwd") == "tmp" else None)
        if before is not None:
            after = directory_state(run_dir)
            changed = sorted(k for k in set(before) | set(after) if before.get(k) != after.get(k))
    doc, problems = check_document(proc)
    if changed:
        problems.append(f"the run directory changed: {changed}")
    if doc is None:
        return problems
    expected_path = os.path.join(case_dir, case.get("expected", "expected.json"))
    expected = json.load(open(expected_path))
    got = without_parsed_at(doc)
    if not isinstance(doc.get("parsedAt"), int) or doc["parsedAt"] <= 0:
        problems.append("parsedAt is not a positive integer")
    if case.get("compare") == "usage":
        if list(doc.keys())[-1:] != ["usage"]:
            problems.append(f"usage is not the last member: {list(doc.keys())}")
        got = doc.get("usage")
    if got != expected:
        diff = difflib.unified_diff(pretty(expected), pretty(got), "expected", "got", lineterm="", n=2)
        problems.append("document differs:\n" + "\n".join(list(diff)[:200]))
    elif isinstance(got, dict) and list(got.keys()) != list(expected.keys()):
        problems.append(f"key order differs: {list(got.keys())}")
    return problems


def run_cli_cases(binary):
    failures = []
    for case in json.load(open(os.path.join(HERE, "cli.json"))):
        proc = run_tracelens(binary, case["args"])
        want_err = (case["stderr"] + "\n").encode() if case["stderr"] is not None else b""
        if proc.returncode != case["status"] or proc.stderr != want_err or proc.stdout:
            failures.append(f"cli {case['args']}: status {proc.returncode}, stderr {proc.stderr!r}, "
                            f"stdout {proc.stdout[:200]!r}")
    return failures


def main():
    binary = os.path.abspath(sys.argv[1])
    only = set(sys.argv[2:])
    cases_root = os.path.join(HERE, "cases")
    failures = []
    count = 0
    skipped = 0
    for name in sorted(os.listdir(cases_root)):
        case_dir = os.path.join(cases_root, name)
        if not os.path.isfile(os.path.join(case_dir, "case.json")) or (only and name not in only):
            continue
        count += 1
        try:
            problems = run_case(binary, case_dir)
        except Skipped:
            print(f"SKIP case {name}: its setup found nothing to build the run from")
            skipped += 1
            continue
        except Exception as e:  # a broken case is a failure, not a crash of the driver
            problems = [f"driver error: {e!r}"]
        if problems:
            failures.append(f"case {name}:\n  " + "\n  ".join(problems))
    if not only:
        failures += run_cli_cases(binary)
    for f in failures:
        print("FAIL", f)
    print(f"{count} cases, {skipped} skipped, {len(failures)} failures")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
