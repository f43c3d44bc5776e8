#!/usr/bin/env python3
"""Write a large Gemini CLI run directory for benchmarking tracelens.

    make_gemini_run.py --mb 60 --out DIR [--seed N]

The run holds metadata.json, a terminal.log, screen captures, context files and
one Gemini CLI chat of about --mb megabytes written the way Gemini CLI 0.61
writes its JSONL chats: the session header, a $set.messages line with the
session context, then per step a user or gemini record, each gemini record
written again with its toolCalls (args, function responses, display), the tool
responses as user records, and $set lines after every record; write_todos
lists, an invoke_agent call with its sub-agent's chat, failed calls, one
/rewind. Standard library only; the same arguments always give the same bytes.
"""
import argparse, json, os, random

WORDS = ("the a build test file error update function return value path module "
         "parser config cache request response agent tool output line token "
         "résumé naïve 東京 данные λ ✓ → emoji🙂").split()


def text(rng, n):
    return " ".join(rng.choice(WORDS) for _ in range(n))


def code_block(rng, lines):
    return "\n".join(f"    let x{i} = compute({rng.randint(0, 999)}); // {text(rng, 6)}" for i in range(lines))


def ts(i):
    return f"2026-12-07T{(i // 3600) % 24:02d}:{(i // 60) % 60:02d}:{i % 60:02d}.{i % 1000:03d}Z"


def dump(o):
    return json.dumps(o, separators=(",", ":"), ensure_ascii=False)


class Chat:
    def __init__(self, rng, session, kind):
        self.rng, self.lines, self.size, self.i = rng, [], 0, 0
        self.add({"sessionId": session, "projectHash": "ab" * 32, "startTime": ts(0), "lastUpdated": ts(0), "kind": kind})

    def add(self, o):
        line = dump(o)
        self.lines.append(line)
        self.size += len(line.encode()) + 1

    def touch(self):
        self.add({"$set": {"lastUpdated": ts(self.i)}})

    def uid(self):
        self.i += 1
        r = self.rng.getrandbits(64)
        return f"{r:016x}-{self.i:04x}-4{self.i % 4096:03x}-8000-{self.i:012x}"


def tool_call(rng, chat, n, agent_id=None):
    cid = f"call__{n}_{chat.i}"
    kind = rng.random()
    status = "error" if rng.random() < 0.05 else "success"
    if agent_id is not None:
        name, args = "invoke_agent", {"agent_name": "generalist", "prompt": text(rng, 30)}
        out, display = f"Subagent 'generalist' finished.\nResult:\n{text(rng, 40)}", text(rng, 10)
    elif kind < 0.08:
        todos = [{"description": text(rng, 6), "status": rng.choice(["pending", "in_progress", "completed", "cancelled"])}
                 for _ in range(rng.randint(2, 8))]
        name, args = "write_todos", {"todos": todos}
        out = "Successfully updated the todo list. The current list is now:\n" + "\n".join(
            f"{k + 1}. [{t['status']}] {t['description']}" for k, t in enumerate(todos))
        display = {"todos": todos}
    elif kind < 0.35:
        name, args = "read_file", {"file_path": f"/home/dev/work/src/mod{rng.randint(0, 99)}.rs"}
        out, display = code_block(rng, rng.randint(20, 300)), ""
    elif kind < 0.55:
        name = "replace"
        args = {"file_path": "/home/dev/work/src/lib.rs", "old_string": code_block(rng, rng.randint(2, 30)),
                "new_string": code_block(rng, rng.randint(2, 30)), "instruction": text(rng, 20)}
        out, display = "Successfully modified file: /home/dev/work/src/lib.rs (1 replacements).", {"fileDiff": code_block(rng, 20)}
    else:
        name, args = "run_shell_command", {"command": "cargo test " + text(rng, 3), "description": text(rng, 6)}
        out = f"<untrusted_context>\nOutput: {text(rng, rng.randint(20, 400))}\nExit Code: {0 if status == 'success' else 101}\n</untrusted_context>"
        display = text(rng, 30)
    response = {"output": out} if status == "success" else {"error": "Command failed: " + text(rng, 12)}
    item = {"id": cid, "name": name, "args": args,
            "result": [{"functionResponse": {"id": cid, "name": name, "response": response}}],
            "status": status, "timestamp": ts(chat.i), "resultDisplay": display, "description": text(rng, 8),
            "displayName": name, "renderOutputAsMarkdown": True}
    if agent_id is not None:
        item["agentId"] = agent_id
    return item


def gemini_turn(rng, chat, n, agent_id=None):
    """A gemini record written first bare, then with its toolCalls, and the
    tool responses as a user record."""
    mid = chat.uid()
    base = {"id": mid, "timestamp": ts(chat.i), "type": "gemini", "content": text(rng, rng.randint(0, 60)),
            "thoughts": [{"subject": text(rng, 3), "description": text(rng, 30), "timestamp": ts(chat.i)}],
            "tokens": {"input": rng.randint(1, 99999), "output": rng.randint(1, 999), "cached": 0, "thoughts": 5, "tool": 0,
                       "total": rng.randint(1, 99999)}, "model": "gemini-2.5-pro"}
    chat.add(base)
    chat.touch()
    calls = [tool_call(rng, chat, n * 10 + k, agent_id if k == 0 else None) for k in range(rng.randint(1, 3))]
    chat.add(dict(base, toolCalls=calls))
    chat.add({"id": chat.uid(), "timestamp": ts(chat.i), "type": "user",
              "content": [c["result"][0] for c in calls]})
    chat.touch()
    return mid


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--mb", type=float, default=60)
    ap.add_argument("--out", required=True)
    ap.add_argument("--seed", type=int, default=7)
    a = ap.parse_args()
    rng = random.Random(a.seed)
    budget = int(a.mb * 1_000_000)
    home = os.path.join(a.out, "snapshots", "after", "home")
    work = os.path.join(a.out, "snapshots", "after", "work")
    session = f"{a.seed:08x}-0000-4000-8000-000000000001"
    chats = os.path.join(home, ".gemini", "tmp", "work", "chats")
    chat = Chat(rng, session, "main")
    chat.add({"$set": {"messages": [{"id": chat.uid(), "timestamp": ts(0), "type": "user",
                                     "content": [{"text": "<session_context>\n" + text(rng, 80) + "\n</session_context>"}]}],
                       "lastUpdated": ts(0)}})
    agent = f"{a.seed:08x}-0000-4000-8000-0000000000aa"
    sub = Chat(rng, agent, "subagent")
    sub.add({"id": sub.uid(), "timestamp": ts(1), "type": "user", "content": [{"text": text(rng, 30)}]})
    for n in range(20):
        gemini_turn(rng, sub, n)
    n, rewound = 0, False
    while chat.size < budget:
        n += 1
        prompt = chat.uid()
        chat.add({"id": prompt, "timestamp": ts(chat.i), "type": "user", "content": [{"text": text(rng, rng.randint(5, 60))}]})
        chat.touch()
        for _ in range(rng.randint(1, 6)):
            gemini_turn(rng, chat, n, agent if n == 3 else None)
        chat.add({"id": chat.uid(), "timestamp": ts(chat.i), "type": "gemini", "content": text(rng, rng.randint(10, 120)),
                  "thoughts": [], "model": "gemini-2.5-pro"})
        chat.touch()
        if not rewound and chat.size > budget // 2:
            chat.add({"$rewindTo": prompt})
            rewound = True
        if rng.random() < 0.02:
            chat.add({"id": chat.uid(), "timestamp": ts(chat.i), "type": "info", "content": "Request cancelled."})
    os.makedirs(os.path.join(chats, session), exist_ok=True)
    for path, lines in ((os.path.join(chats, f"session-2026-12-07T13-09-{session[:8]}.jsonl"), chat.lines),
                        (os.path.join(chats, session, f"{agent}.jsonl"), sub.lines)):
        with open(path, "w", encoding="utf-8") as f:
            f.write("\n".join(lines) + "\n")

    def write(path, lines):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="utf-8") as f:
            f.write("\n".join(lines) + "\n")

    write(f"{home}/.gemini/settings.json", [dump({"general": {"preferredEditor": "vim"}})])
    write(f"{home}/.gemini/projects.json", [dump({"projects": {"/home/dev/work": "work"}})])
    write(f"{work}/GEMINI.md", ["# Project guide", "", text(rng, 200)])
    write(f"{work}/AGENTS.md", ["# Agents", text(rng, 100)])
    term = []
    for i in range(20000):
        r = rng.random()
        term.append("> " + text(rng, 8) if r < 0.02 else "✦ " + text(rng, 10) if r < 0.1
                    else "Error: " + text(rng, 5) if r < 0.11 else text(rng, 12))
    write(os.path.join(a.out, "terminal.log"), term)
    for s in range(5):
        write(os.path.join(a.out, "screens", f"{s:03d}.txt"), [text(rng, 15) for _ in range(60)])
    with open(os.path.join(a.out, "metadata.json"), "w") as f:
        json.dump({"runId": f"bench-gemini-{a.seed}", "scenario": {"name": "bench", "steps": 3},
                   "status": "running", "snapshots": [{"name": "after", "path": "snapshots/after"}]}, f)


if __name__ == "__main__":
    main()
