#!/usr/bin/env python3
"""Writes a run whose files exercise context-artifact discovery: every kind,
titles, sources, sizes, skipped directories, links, binary and oversize files
and a file name that is not UTF-8."""
import json, os, sys

run = sys.argv[1]


def w(rel, data):
    path = os.path.join(os.fsencode(run), rel if isinstance(rel, bytes) else rel.encode())
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode())


w("metadata.json", json.dumps({"runId": {"id": "ctx-1", "attempt": 3},
                               "scenario": {"z": [3, {"b": 1, "a": 2}], "a": "first"},
                               "snapshots": {"b": "snapshots/b", "a": "snapshots/a"},
                               "subAgentsObserved": True, "status": "succeeded"}))
w("AGENTS.md", "   \n\n## Top-level rules  \nbody\n")
w("snapshots/MCP-notes.txt", "servers we tried\n")
w("snapshots/a/work/CLAUDE.md", "###\n# real title\n")
w("snapshots/a/work/.cursor/rules/style.mdc", "---\ndescription: style\n---\n")
w("snapshots/a/home/.claude/skills/review/SKILL.md", "# Review skill\n")
w("snapshots/a/home/.codex/mcp_servers.json", '{"fs": {"command": "fs"}}\n')
w("snapshots/a/home/.codexrc/config.toml", 'model = "o4"\n')
w("snapshots/a/home/.claude/notes.txt", "not context\n")
w("snapshots/a/home/.claude/projects/p/s1.jsonl", '{"type":"summary","summary":"Setup"}\n')
w("snapshots/a/home/.Claude/Settings.json", "\n\n  {}  \n")
w("snapshots/b/home/.gemini/settings.json", "// generated settings\n" + "x" * (300000 - 23) + "\n")
w("snapshots/b/home/.gemini/GEMINI.md", "# not a rule file name\n")
w("snapshots/b/work/node_modules/pkg/AGENTS.md", "# skipped\n")
w("snapshots/b/work/docs/Instructions.md", "\t# #Read me first\n")
w("snapshots/b/home/.claude/projects/p/bin.jsonl", b"\x00\x01binary")
w(b"snapshots/b/work/rules/caf\xe9.md", b"caf\xe9 rules\n")
os.symlink(os.path.join(run, "AGENTS.md"), os.path.join(run, "snapshots/a/work/agents.md"))
