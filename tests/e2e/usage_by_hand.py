#!/usr/bin/env python3
"""Works out the expected "usage" member of an end-to-end case from the raw
harness logs, by the counting rules alone, without tracelens:

    usage_by_hand.py CASE_DIR RUN_DIR

CASE_DIR/usage_facts.json says what the rules need beyond the logs and was
written by reading the logs: "harness"; "turns", the turn-opening user
messages in turn order (as "path:line" below the run, or for opencode the
message id); "subAgents", the state's sub-agent ids in order, and
"agentFiles", which log file (path below the run) or session is whose;
optional "prices" (a price file in the case directory; default the bundled
data/prices.json). The result is printed as JSON.
"""
import json, os, sqlite3, sys, glob

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
MAX = 2 ** 53


def count(v):
    """A token count, or None when it is not a whole number in 0..2^53."""
    if isinstance(v, bool) or not isinstance(v, int) or v < 0 or v > MAX:
        return None
    return v


def pico(v):
    if isinstance(v, bool) or not isinstance(v, (int, float)) or v < 0 or v >= 1e6:
        return None
    return round(v * 1e12)


def response(model, tokens, source, provider=None, includes_cache=False, reasoning_in_output=True, cost=None,
             message=None, agent=None):
    return dict(model=model, provider=provider, tokens=tokens, source=source, includes_cache=includes_cache,
                reasoning_in_output=reasoning_in_output, cost=cost, message=message, agent=agent)


def logs(run, pattern):
    return sorted(glob.glob(os.path.join(run, pattern), recursive=True))


def rel(run, path):
    return os.path.relpath(path, run)


def lines(path):
    with open(path, encoding="utf-8") as f:
        for n, raw in enumerate(f.read().split("\n"), 1):
            try:
                yield n, json.loads(raw)
            except ValueError:
                continue


# ---- one reading per harness -------------------------------------------------------------

def claude(run, facts):
    out, index, costs = [], {}, {}
    for path in logs(run, "snapshots/**/.claude/projects/**/*.jsonl"):
        agent = facts.get("agentFiles", {}).get(rel(run, path))
        for n, v in lines(path):
            if v.get("type") == "cost-state":
                costs[v["sessionId"]] = {m: pico(u.get("costUSD")) for m, u in v.get("modelUsage", {}).items()}
                continue
            m = v.get("message") if isinstance(v.get("message"), dict) else {}
            u = m.get("usage")
            if v.get("type") != "assistant" or not isinstance(u, dict):
                continue
            t = dict(input=count(u.get("input_tokens")), output=count(u.get("output_tokens")),
                     cache_read=count(u.get("cache_read_input_tokens")),
                     cache_write=count(u.get("cache_creation_input_tokens")),
                     cache_write_1h=count((u.get("cache_creation") or {}).get("ephemeral_1h_input_tokens")),
                     reasoning=count((u.get("output_tokens_details") or {}).get("thinking_tokens")))
            r = response(m.get("model", ""), t, f"{rel(run, path)}:{n}", agent=agent)
            key = (m.get("id"), v.get("requestId"))
            if m.get("id") is None:
                out.append(r)
            elif key in index:
                # the last line gives the figures, the first the place
                first = out[index[key]]
                out[index[key]] = dict(r, source=first["source"], agent=first["agent"])
            else:
                index[key] = len(out)
                out.append(r)
    model_costs = []
    for session in costs.values():
        model_costs += [(m, c) for m, c in session.items() if c is not None]
    return out, model_costs, []


UNLISTED = ("A sub-agent's session has usage but no sub-agent of its own in the state: it counts in the totals, "
            "models and turns only.")


def codex(run, facts):
    out, sessions, notes, spawned = [], {}, [], set()
    for path in logs(run, "snapshots/**/.codex/sessions/**/*.jsonl"):
        key, model, provider = "file:" + path, "", None
        for n, v in lines(path):
            p = v.get("payload") or {}
            if v.get("type") == "session_meta":
                if isinstance(p.get("id"), str):
                    key = p["id"]
                    if isinstance(p.get("source"), dict) and "subagent" in p["source"]:
                        spawned.add(key)
                provider = p.get("model_provider")
            elif v.get("type") == "turn_context" and isinstance(p.get("model"), str):
                model = p["model"]
            elif v.get("type") == "event_msg" and p.get("type") == "token_count":
                total = (p.get("info") or {}).get("total_token_usage")
                if not isinstance(total, dict):
                    continue
                now = dict(input=count(total.get("input_tokens")), cache_read=count(total.get("cached_input_tokens")),
                           cache_write=count(total.get("cache_write_input_tokens")),
                           output=count(total.get("output_tokens")),
                           reasoning=count(total.get("reasoning_output_tokens")))
                last = sessions.get(key)
                if last is not None and not any(now[k] is not None and (last[k] is None or now[k] > last[k])
                                                for k in now):
                    continue
                delta = {k: (None if now[k] is None else now[k] - (last[k] or 0) if last and last[k] is not None
                             and now[k] >= last[k] else now[k] if not last or last[k] is None else 0) for k in now}
                sessions[key] = now
                agent = facts.get("agentFiles", {}).get(key)
                if key in spawned and agent is None and UNLISTED not in notes:
                    notes.append(UNLISTED)
                out.append(response(model, delta, f"{rel(run, path)}:{n}", provider=provider, includes_cache=True,
                                    agent=agent))
    return out, [], notes


def gemini(run, facts):
    out = []
    for path in logs(run, "snapshots/**/.gemini/tmp/**/chats/**/*.json*"):
        records, carried, session = [], {}, None

        def upsert(item, n):
            rid = item["id"]
            tokens, model = item.get("tokens"), item.get("model")
            old = carried.get(rid, (None, None))
            tokens = tokens if isinstance(tokens, dict) else old[0]
            model = model if isinstance(model, str) else old[1]
            carried[rid] = (tokens, model)
            for r in records:
                if r[0] == rid:
                    r[1:] = [tokens, model, n]
                    return
            records.append([rid, tokens, model, n])

        for n, v in lines(path):
            if not isinstance(v, dict):
                continue
            if isinstance(v.get("$rewindTo"), str):
                ids = [r[0] for r in records]
                del records[ids.index(v["$rewindTo"]) if v["$rewindTo"] in ids else 0:]
            elif isinstance(v.get("id"), str):
                upsert(v, n)
            elif isinstance(v.get("$set"), dict):
                session = v["$set"].get("sessionId", session)
                if isinstance(v["$set"].get("messages"), list):
                    records.clear()
                    for item in v["$set"]["messages"]:
                        if isinstance(item.get("id"), str):
                            upsert(item, n)
            elif isinstance(v.get("sessionId"), str):
                session = v["sessionId"]
        agent = facts.get("agentFiles", {}).get(rel(run, path))
        for rid, tokens, model, n in records:
            if tokens is None:
                continue
            t = dict(input=count(tokens.get("input")), output=count(tokens.get("output")),
                     cache_read=count(tokens.get("cached")), reasoning=count(tokens.get("thoughts")))
            out.append(response(model or "", t, f"{rel(run, path)}:{n}", includes_cache=True,
                                reasoning_in_output=False, message=rid, agent=agent))
    return out, [], []


def opencode(run, facts):
    found = {}  # message id -> (session, created, data); the database is read first
    for db in logs(run, "snapshots/**/.local/share/opencode/opencode*.db"):
        con = sqlite3.connect(db)
        for mid, sid, created, data in con.execute("select id, session_id, time_created, data from message"):
            found.setdefault(mid, (sid, created, json.loads(data), rel(run, db) + "/" + mid))
        con.close()
    for path in logs(run, "snapshots/**/.local/share/opencode/storage/message/*/*.json"):
        v = json.load(open(path))
        found.setdefault(v["id"], (v["sessionID"], (v.get("time") or {}).get("created", 0), v, rel(run, path) + ":1"))
    out = []
    for mid in sorted(found):
        sid, created, v, source = found[mid]
        t = v.get("tokens")
        if v.get("role") != "assistant" or not isinstance(t, dict):
            continue
        cache = t.get("cache") or {}
        tokens = dict(input=count(t.get("input")), output=count(t.get("output")),
                      reasoning=count(t.get("reasoning")), cache_read=count(cache.get("read")),
                      cache_write=count(cache.get("write")))
        out.append(response(v.get("modelID", ""), tokens, source, provider=v.get("providerID"),
                            reasoning_in_output=False, cost=pico(v.get("cost")), message=(sid, created, mid),
                            agent=facts.get("agentFiles", {}).get(sid)))
    return out, [], []


def pi_like(run, facts, home):
    out, notes, seen = [], [], set()
    unlisted = False
    for path in logs(run, f"snapshots/**/{home}/agent/sessions/**/*.jsonl"):
        agent = facts.get("agentFiles", {}).get(rel(run, path))
        spawned = False
        for n, v in lines(path):
            if v.get("type") == "session" and "parentSession" in v:
                spawned = True
            m = v.get("message") if isinstance(v.get("message"), dict) else {}
            if v.get("type") != "message":
                continue
            if m.get("role") == "toolResult" and '"usage"' in json.dumps(m.get("details")):
                note = ("Usage reported inside a tool result's details (a sub-agent run without a session file of "
                        "its own) is not counted.")
                if note not in notes:
                    notes.append(note)
            u = m.get("usage")
            if m.get("role") != "assistant" or not isinstance(u, dict):
                continue
            if isinstance(v.get("id"), str):
                if (path, v["id"]) in seen:
                    continue
                seen.add((path, v["id"]))
            t = dict(input=count(u.get("input")), output=count(u.get("output")),
                     cache_read=count(u.get("cacheRead")), cache_write=count(u.get("cacheWrite")))
            unlisted = unlisted or (spawned and agent is None)
            out.append(response(m.get("model", ""), t, f"{rel(run, path)}:{n}", provider=m.get("provider"),
                                cost=pico((u.get("cost") or {}).get("total")), agent=agent))
    if unlisted:
        notes.insert(0, UNLISTED)
    return out, [], notes


# ---- pricing and adding up -----------------------------------------------------------------

def find_price(table, model):
    for name in [model] + ([model.rsplit("/", 1)[1]] if "/" in model else []):
        for p in table["models"]:
            if name == p["model"] or name in p.get("equals", []):
                return p
        best = max(((len(s), p) for p in table["models"] for s in p.get("startsWith", []) if name.startswith(s)),
                   key=lambda x: x[0], default=None)
        if best:
            return best[1]
    return None


def table_cost(table, r):
    reported = [v for v in r["tokens"].values() if v is not None]
    if reported and all(v == 0 for v in reported):
        return 0  # no token used: no cost, whatever the model
    p = find_price(table, r["model"])
    if p is None:
        return None
    per = lambda k, d: round(p[k] * 1e6) if k in p else d
    pin, pout = per("inputPerMTok", None), per("outputPerMTok", None)
    t = {k: (v or 0) for k, v in r["tokens"].items()}
    cr = t.get("cache_read", 0)
    inp = max(t.get("input", 0) - cr, 0) if r["includes_cache"] else t.get("input", 0)
    cw = t.get("cache_write", 0)
    cw1h = min(t.get("cache_write_1h", 0), cw)
    out = t.get("output", 0) + (0 if r["reasoning_in_output"] else t.get("reasoning", 0))
    pcw = per("cacheWritePerMTok", pin)
    return (inp * pin + cr * per("cacheReadPerMTok", pin) + (cw - cw1h) * pcw + cw1h * per("cacheWrite1hPerMTok", pcw)
            + out * pout)


def add(figs, r, cost):
    figs["responses"] += 1
    for key, name in [("input", "inputTokens"), ("output", "outputTokens"), ("cache_read", "cacheReadTokens"),
                      ("cache_write", "cacheWriteTokens"), ("reasoning", "reasoningTokens")]:
        if r["tokens"].get(key) is not None:
            figs[name] = figs.get(name, 0) + r["tokens"][key]
    if cost is not None:
        figs["costUsd"] = figs.get("costUsd", 0) + cost


def ordered(figs):
    keys = ["responses", "inputTokens", "outputTokens", "cacheReadTokens", "cacheWriteTokens", "reasoningTokens",
            "costUsd"]
    out = {k: figs[k] for k in keys if k in figs}
    if "costUsd" in out:
        out["costUsd"] = out["costUsd"] / 1e12
    return out


def turn_of(r, facts, harness):
    starts = facts["turns"]
    if harness == "opencode":
        sid, created, mid = r["message"]
        best = None
        for k, s in enumerate(starts):
            if s["session"] == sid and (s["created"], s["id"]) <= (created, mid):
                best = k
        return best
    path, line = r["source"].rsplit(":", 1)
    best = None
    for k, s in enumerate(starts):
        sp, sl = s.rsplit(":", 1)
        if sp == path and int(sl) <= int(line):
            best = k if best is None or int(starts[best].rsplit(":", 1)[1]) <= int(sl) else best
    return best


def main():
    case_dir, run = sys.argv[1], sys.argv[2]
    facts = json.load(open(os.path.join(case_dir, "usage_facts.json")))
    harness = facts["harness"]
    price_file = os.path.join(case_dir, facts["prices"]) if "prices" in facts else os.path.join(ROOT, "data",
                                                                                              "prices.json")
    table = json.load(open(price_file))
    reader = {"claude": claude, "codex": codex, "gemini": gemini, "opencode": opencode,
              "pi": lambda r, s: pi_like(r, s, ".pi"), "omp": lambda r, s: pi_like(r, s, ".omp")}[harness]
    responses, model_costs, notes = reader(run, facts)
    notes = facts.get("notesBefore", []) + notes
    models, slots = [], []
    turns = [None] * len(facts["turns"])
    agents = {a: None for a in facts.get("subAgents", [])}
    for r in responses:
        key = (r["model"], r["provider"])
        if key not in [(m["model"], m.get("provider")) for m in models]:
            m = {"responses": 0, "model": r["model"]}
            if r["provider"] is not None:
                m["provider"] = r["provider"]
            models.append(m)
            slots.append(set())
        i = [(m["model"], m.get("provider")) for m in models].index(key)
        cost = r["cost"]
        if cost is not None:
            slots[i].add("harness")
        else:
            cost = table_cost(table, r)
            slots[i].add("table" if cost is not None else "none")
        add(models[i], r, cost)
        k = turn_of(r, facts, harness)
        if k is not None:
            turns[k] = turns[k] or {"responses": 0}
            add(turns[k], r, cost)
        if r["agent"] in agents:
            agents[r["agent"]] = agents[r["agent"]] or {"responses": 0}
            add(agents[r["agent"]], r, cost)
    harness_costs = {}
    for model, c in model_costs:
        harness_costs[model] = harness_costs.get(model, 0) + c
        if model not in [m["model"] for m in models]:
            models.append({"responses": 0, "model": model})
            slots.append(set())
    total, unpriced, out_models = {"responses": 0}, [], []
    for m, slot in zip(models, slots):
        if m["model"] in harness_costs:
            m["costUsd"] = harness_costs[m["model"]]
            source = "harness"
        else:
            source = "harness" if "harness" in slot else "table" if "table" in slot else "none"
            if "none" in slot:
                unpriced.append(m["model"])
        for k, v in m.items():
            if k not in ("model", "provider"):
                total[k] = total.get(k, 0) + v if k != "responses" else total[k] + v
        entry = ordered(m)
        entry["model"] = m["model"]
        if "provider" in m:
            entry["provider"] = m["provider"]
        entry["costSource"] = source
        out_models.append(entry)
    usage = {
        "total": ordered(total),
        "models": out_models,
        "turns": [dict(ordered(t), turnPosition=k) for k, t in enumerate(turns) if t],
        "subAgents": [dict(ordered(f), subAgentId=a) for a, f in agents.items() if f],
        "prices": {"name": table["name"], "date": table["date"], "source": table["source"]},
        "unpricedModels": unpriced,
        "notes": notes,
    }
    print(json.dumps(usage, indent=1))


if __name__ == "__main__":
    main()
