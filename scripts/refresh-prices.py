#!/usr/bin/env python3
"""Writes data/prices.json, the price table that tracelens embeds for
`parse-run --usage`, from the npm package @pydantic/genai-prices (MIT) at a
pinned version.

    scripts/refresh-prices.py [VERSION]

Needs npm and node. The package is fetched with `npm pack` into a temporary
folder; its provider list is read through the package's own `findProvider`.
Only the models that the seven harnesses use by default (and the models the
sample logs name) are kept, so the table stays small. Prices are US dollars
per million tokens; a tiered price keeps its base (first) tier, and a model
with prices that changed over time keeps its latest.
"""
import datetime, json, os, re, subprocess, sys, tempfile

PACKAGE = "@pydantic/genai-prices"
VERSION = sys.argv[1] if len(sys.argv) > 1 else "0.1.8"
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUT = os.path.join(ROOT, "data", "prices.json")

# Provider id in the package -> model ids to keep.
WANTED = {
    # Claude Code, and Claude models in OpenCode, pi and omp.
    "anthropic": re.compile(r"^claude-(opus|sonnet|haiku|fable)-[45](-\d+)?$|^claude-3-5-haiku|^claude-3-7-sonnet"),
    # Codex, and OpenAI models in OpenCode, pi and omp.
    "openai": re.compile(r"^gpt-5(\.\d+)?(-codex(-max|-mini)?|-mini|-nano|-pro)?$|^gpt-5\.6-(luna|sol|terra)$"
                         r"|^gpt-4\.1(-mini)?$|^gpt-4o(-mini)?$|^codex-mini$|^o3$|^o4-mini$"),
    # Gemini CLI.
    "google": re.compile(r"^gemini-2\.5-(pro|flash|flash-lite)$|^gemini-3(\.\d+)?-(pro|flash)(-preview)?$"),
}

PRICE_KEYS = {
    "input_mtok": "inputPerMTok",
    "output_mtok": "outputPerMTok",
    "cache_read_mtok": "cacheReadPerMTok",
    "cache_write_mtok": "cacheWritePerMTok",
    "cache_write_1h_mtok": "cacheWrite1hPerMTok",
}


def names(match, out):
    """The exact names and prefixes a package match rule accepts (regex and
    substring rules are left out: the table matches by name and prefix)."""
    if "or" in match:
        for m in match["or"]:
            names(m, out)
    elif "equals" in match:
        out["equals"].append(match["equals"])
    elif "starts_with" in match:
        out["startsWith"].append(match["starts_with"])
    return out


def base_price(value):
    if isinstance(value, dict):
        return value.get("base")
    return value


def main():
    with tempfile.TemporaryDirectory() as tmp:
        subprocess.run(["npm", "pack", f"{PACKAGE}@{VERSION}", "--silent"], cwd=tmp, check=True,
                       stdout=subprocess.DEVNULL)
        tgz = [f for f in os.listdir(tmp) if f.endswith(".tgz")][0]
        subprocess.run(["tar", "xzf", tgz], cwd=tmp, check=True)
        index = os.path.join(tmp, "package", "dist", "index.js")
        script = ("import {findProvider} from %s;\n"
                  "const out = {};\n"
                  "for (const id of %s) out[id] = findProvider({providerId: id});\n"
                  "console.log(JSON.stringify(out));\n") % (json.dumps(index), json.dumps(sorted(WANTED)))
        providers = json.loads(subprocess.run(["node", "--input-type=module", "-e", script], check=True,
                                              capture_output=True, text=True).stdout)
    published = json.loads(subprocess.run(["npm", "view", f"{PACKAGE}@{VERSION}", "time", "--json"], check=True,
                                          capture_output=True, text=True).stdout)[VERSION]
    models = []
    for provider_id in sorted(WANTED):
        for m in providers[provider_id]["models"]:
            if not WANTED[provider_id].search(m["id"]):
                continue
            prices = m["prices"]
            if isinstance(prices, list):
                prices = prices[-1]["prices"]
            entry = {"provider": provider_id, "model": m["id"]}
            entry.update(names(m.get("match", {}), {"equals": [], "startsWith": []}))
            for key, name in PRICE_KEYS.items():
                value = base_price(prices.get(key))
                if isinstance(value, (int, float)):
                    entry[name] = value
            if "inputPerMTok" in entry and "outputPerMTok" in entry:
                models.append(entry)
    table = {
        "name": "genai-prices",
        "source": f"npm {PACKAGE}@{VERSION} (MIT), https://github.com/pydantic/genai-prices",
        "version": VERSION,
        "date": published[:10],
        "models": models,
    }
    os.makedirs(os.path.dirname(OUT), exist_ok=True)
    with open(OUT, "w") as f:
        json.dump(table, f, indent=1)
        f.write("\n")
    print(f"{OUT}: {len(models)} models from {PACKAGE}@{VERSION} ({table['date']})")


if __name__ == "__main__":
    main()
