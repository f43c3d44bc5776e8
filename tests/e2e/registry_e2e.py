#!/usr/bin/env python3
"""Version resolution and the registry's failure path, end to end.

    registry_e2e.py TRACELENS

Runs tracelens on an empty run directory for every family and a range of
versions and compares the whole document (less "parsedAt") with the document
built here from the expected parser block.
"""
import json, os, subprocess, sys, tempfile

from run_e2e import check_document, without_parsed_at

# One run per family, so that each family's parser is built with its name,
# lineage and provenance; the variations of version resolution are the unit
# tests' table.
# harness, version, expected name suffix (label), resolution, lineage
CASES = [
    ("claude", "v2.1.217+build.7", "2::1::217", "exact",
     ["Parser", "ClaudeParser", "ClaudeParser2", "ClaudeParser2::1", "ClaudeParser2::1::217"]),
    ("codex", "0.140.0", "0::x::x", "minor_compatible", ["Parser", "CodexParser", "CodexParser0"]),
    ("opencode", "1.17.9", "1::17::x", "patch_compatible", ["Parser", "OpenCodeParser", "OpenCodeParser1", "OpenCodeParser1::17"]),
    ("omp", "15.10.12", "15::10::12", "exact", ["Parser", "OMPParser", "OMPParser15", "OMPParser15::10", "OMPParser15::10::12"]),
    ("pi", "vv0.73.1", "0::73::1", "exact", ["Parser", "PiParser", "PiParser0", "PiParser0::73", "PiParser0::73::1"]),
    ("cursor", "1.7.0", "family", "family_fallback", ["Parser", "CursorParser"]),
    ("gemini", "nightly", "family", "family_fallback", ["Parser", "GeminiParser"]),
]

MISSING = [
    ("Claude", "2.1.217", ["Parser", "ClaudeParser"]),
    ("claude", "3.0.0", ["Parser", "ClaudeParser"]),
    ("codex", "v1.2.3 (beta)", ["Parser", "CodexParser"]),
    ("unknown-x", "1.0.0", ["Parser", "Unknown-xParser"]),
]

DEFAULT_PROVENANCE = [
    {"field": "state.activity", "path": "metadata.json + terminal.log + screens/*.txt"},
    {"field": "state.userTurns", "path": "terminal.log + snapshots/**/home/**"},
    {"field": "state.contextArtifacts", "path": "snapshots/**/home/** + snapshots/**/work/**"},
    {"field": "state.snapshots", "path": "metadata.json"},
]
CURSOR_PROVENANCE = DEFAULT_PROVENANCE + [
    {"field": "state.messages", "path": "snapshots/**/home/.cursor/projects/**/*.jsonl"},
    {"field": "state.toolCalls", "path": "snapshots/**/home/.cursor/projects/**/*.jsonl"},
    {"field": "state.todos", "path": "Cursor TodoWrite tool_use blocks"},
    {"field": "state.subAgents", "path": "Cursor agent/task/subagent tool_use blocks"},
]


def empty_state(reason, snapshots):
    return {"activity": {"state": "unknown", "lastEventKind": "unknown", "reason": reason},
            "userTurns": [], "messages": [], "toolCalls": [], "todos": [], "subAgents": [], "approvals": [],
            "toolErrors": [], "contextArtifacts": [], "snapshots": snapshots}


def main():
    binary = os.path.abspath(sys.argv[1])
    failures = []
    with tempfile.TemporaryDirectory() as run:
        for harness, version, label, resolution, lineage in CASES:
            expected = {
                "schemaVersion": 2,
                "parser": {"name": f"{harness}Parser::{label}", "family": harness, "version": "0.2.0",
                           "status": "succeeded", "lineage": lineage, "resolution": resolution,
                           "requestedVersion": version, "matchedVersion": label},
                "runId": None, "harness": harness, "harnessVersion": version, "scenario": None,
                "state": empty_state("no strong lifecycle signal", []),
                "provenance": CURSOR_PROVENANCE if harness == "cursor" else DEFAULT_PROVENANCE,
            }
            proc = subprocess.run([binary, "parse-run", "--input", run, "--harness", harness, "--version", version],
                                  capture_output=True, stdin=subprocess.DEVNULL, timeout=60)
            doc, problems = check_document(proc)
            if doc is not None and without_parsed_at(doc) != expected:
                problems.append(f"got {json.dumps(without_parsed_at(doc))}")
            if problems:
                failures.append(f"{harness} {version!r}: " + "; ".join(problems))
        for harness, version, lineage in MISSING:
            message = f"no parser family registered for harness '{harness}' version '{version}'"
            expected = {
                "schemaVersion": 2,
                "parser": {"name": f"{harness}Parser::missing", "family": harness, "version": "0.2.0",
                           "status": "missing", "lineage": lineage, "resolution": None,
                           "requestedVersion": version, "matchedVersion": None},
                "runId": None, "harness": harness, "harnessVersion": version, "scenario": None,
                "state": empty_state(message, []),
                "provenance": [], "error": message,
            }
            # The failure path does not read the run: a manifest would not show.
            with open(os.path.join(run, "metadata.json"), "w") as f:
                json.dump({"runId": "ignored"}, f)
            proc = subprocess.run([binary, "parse-run", "--input", run, "--harness", harness, "--version", version],
                                  capture_output=True, stdin=subprocess.DEVNULL, timeout=60)
            os.remove(os.path.join(run, "metadata.json"))
            doc, problems = check_document(proc)
            if doc is not None:
                got = without_parsed_at(doc)
                if got != expected:
                    problems.append(f"got {json.dumps(got)}")
                elif list(got) != list(expected):
                    problems.append("key order differs")
            if problems:
                failures.append(f"missing {harness} {version!r}: " + "; ".join(problems))
    for f in failures:
        print("FAIL", f)
    print(f"{len(CASES) + len(MISSING)} registry cases, {len(failures)} failures")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
