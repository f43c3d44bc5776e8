#!/usr/bin/env python3
"""The pages of tracelens-report in headless Chromium.

    browser_e2e.py [--realdata] TRACELENS_REPORT TRACELENS SHOT_DIR

Without --realdata: the bundled example run's document, the hand-made
documents in docs/ (hostile texts everywhere; odd shapes and unknown values)
and an empty object. With --realdata: the document of every shared sample run
(../shared/realdata beside the checkout, or $TRACELENS_REALDATA); exit status
77 (skipped) when those are absent.

For every page: the counts equal the document's; every message and tool call
shows in the timeline once everything is drawn; a filter word and the "failed
only" switch narrow the timeline and the tool errors to the records that hold
the word or failed; no request but the page's own and no console error. The
hostile texts show literally and the flag their code would set stays unset.
The example's page is saved as SHOT_DIR/example.png.
"""
import json, os, subprocess, sys, tempfile, time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
CHROMIUM, CHROMEDRIVER = "/usr/bin/chromium", "/usr/bin/chromedriver"
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL " + what)
    return ok


# ---------------------------------------------------------------- documents


def objects(owner, key):
    v = owner.get(key) if isinstance(owner, dict) else None
    return [x for x in v if isinstance(x, dict)] if isinstance(v, list) else []


def pretty(value):
    return value if isinstance(value, str) else json.dumps(value, indent=2, ensure_ascii=False)


def input_fields(value):
    """A call's input as the page shows it: an object as (key, text) fields, a
    string value as itself and other values as JSON with two-space indents;
    any other input as one text."""
    if isinstance(value, dict) and value:
        return [(k, pretty(v)) for k, v in value.items()]
    return [(None, pretty(value))]


def haystack(kind, record):
    """What the filter searches: a message's text; a call's name, input as shown and result."""
    if kind == "message":
        return record.get("text", "") if isinstance(record.get("text"), str) else ""
    parts = [record.get("name") if isinstance(record.get("name"), str) else ""]
    if "input" in record:
        parts += [(k + "\n" if k is not None else "") + text for k, text in input_fields(record["input"])]
    parts.append(record.get("resultText") if isinstance(record.get("resultText"), str) else "")
    return "\n".join(parts)


def records(doc):
    state = doc.get("state") if isinstance(doc.get("state"), dict) else {}
    return [("message", m) for m in objects(state, "messages")] + [("call", c) for c in objects(state, "toolCalls")]


def expected_counts(doc):
    state = doc.get("state") if isinstance(doc.get("state"), dict) else {}
    calls = objects(state, "toolCalls")
    return {"turns": len(objects(state, "userTurns")), "messages": len(objects(state, "messages")),
            "toolCalls": len(calls), "failedCalls": sum(1 for c in calls if c.get("isError") is True),
            "todos": len(objects(state, "todos")), "subAgents": len(objects(state, "subAgents")),
            "approvals": len(objects(state, "approvals")), "toolErrors": len(objects(state, "toolErrors")),
            "contextArtifacts": len(objects(state, "contextArtifacts"))}


def filter_word(doc):
    """A word of letters that some but, where possible, not all records hold."""
    recs = records(doc)
    hays = [haystack(k, r).lower() for k, r in recs]
    best = None
    for k, r in recs:
        for word in haystack(k, r).lower().split():
            word = "".join(ch for ch in word if "a" <= ch <= "z")
            if len(word) < 4:
                continue
            n = sum(1 for h in hays if word in h)
            if 0 < n < len(hays):
                return word
            best = best or word
    return best


# ------------------------------------------------------------------ browser


def start_browser(profile):
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for arg in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                "--disable-background-networking", "--disable-component-update", "--disable-sync",
                "--disable-dev-shm-usage", "--hide-scrollbars", "--window-size=1280,1000",
                "--user-data-dir=" + profile):
        options.add_argument(arg)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL", "performance": "ALL"})
    driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
    driver.get("about:blank")  # the browser's own start pages load before this
    time.sleep(0.3)
    return driver


DRAW_ALL = """
for (const b of document.querySelectorAll('#expand-all')) b.click();
let n = 0, more;
while ((more = document.querySelector('#app button.more')) && n < 100000) { more.click(); n++; }
return n;
"""
SHOWN = """
return Array.from(document.querySelectorAll(arguments[0])).filter(e => e.offsetParent !== null)
  .map(e => [e.dataset.kind, Number(e.dataset.position)]);
"""


def shown(driver, selector):
    driver.execute_script(DRAW_ALL)
    return sorted(tuple(x) for x in driver.execute_script(SHOWN, selector))


def requests_and_errors(driver):
    urls = []
    for entry in driver.get_log("performance"):
        message = json.loads(entry["message"])["message"]
        if message.get("method") == "Network.requestWillBeSent":
            urls.append(message["params"]["request"]["url"])
    errors = [e["message"] for e in driver.get_log("browser") if e["level"] in ("SEVERE", "WARNING")]
    return urls, errors


def set_filter(driver, words, failed_only):
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    box = driver.find_element(By.ID, "filter")
    box.clear()
    box.send_keys(words + Keys.ENTER)
    switch = driver.find_element(By.ID, "failed-only")
    if switch.is_selected() != failed_only:
        switch.click()
    time.sleep(0.05)


def check_page(driver, name, doc, page_path, shot=None):
    driver.get_log("performance")
    driver.get_log("browser")
    url = "file://" + page_path
    driver.get(url)
    for _ in range(200):
        if driver.execute_script("return document.documentElement.dataset.ready === 'true'"):
            break
        time.sleep(0.05)
    else:
        check(False, f"{name}: the page did not finish drawing")
        return

    counts = driver.execute_script(
        "const o = {}; for (const e of document.querySelectorAll('#summary [data-count]'))"
        " o[e.dataset.count] = Number(e.querySelector('b').textContent.replace(/,/g, '')); return o;")
    check(counts == expected_counts(doc), f"{name}: counts {counts} equal the document's {expected_counts(doc)}")

    everything = sorted({(k, r["position"]) for k, r in records(doc)})
    check(shown(driver, "#timeline [data-kind=message], #timeline [data-kind=call]") == everything,
          f"{name}: every message and tool call is in the timeline")
    if shot:
        os.makedirs(os.path.dirname(shot), exist_ok=True)
        height = driver.execute_script("return document.documentElement.scrollHeight")
        driver.set_window_size(1280, min(height + 40, 20000))
        driver.save_screenshot(shot)
        driver.set_window_size(1280, 1000)
        print(f"screenshot of the {name} page: {shot}")

    errors_all = objects(doc.get("state", {}), "toolErrors")
    word = filter_word(doc)
    if word:
        want = sorted({(k, r["position"]) for k, r in records(doc) if word in haystack(k, r).lower()})
        set_filter(driver, word, False)
        check(shown(driver, "#timeline [data-kind=message], #timeline [data-kind=call]") == want,
              f"{name}: the filter '{word}' shows the {len(want)} records that hold it")
        status = driver.execute_script("return Object.assign({}, document.getElementById('filter-status').dataset)")
        check(int(status["messages"]) == sum(1 for k, _ in want if k == "message") and
              int(status["calls"]) == sum(1 for k, _ in want if k == "call"), f"{name}: the filter status counts")
        want_errors = sorted(e["position"] for e in errors_all if word in str(e.get("text", "")).lower())
        check([p for _, p in shown(driver, "#tool-errors [data-kind=toolError]")] == want_errors,
              f"{name}: the filter narrows the tool errors")

    set_filter(driver, "", True)
    failed = sorted(("call", c["position"]) for k, c in records(doc) if k == "call" and c.get("isError") is True)
    check(shown(driver, "#timeline [data-kind=message], #timeline [data-kind=call]") == failed,
          f"{name}: 'failed only' shows the {len(failed)} failed calls")
    check([p for _, p in shown(driver, "#tool-errors [data-kind=toolError]")] ==
          sorted(e["position"] for e in errors_all), f"{name}: 'failed only' shows every tool error")
    hidden = driver.execute_script("return ['sub-agents', 'approvals', 'context', 'provenance']"
                                   ".every(id => document.getElementById(id).offsetParent === null)")
    check(hidden, f"{name}: 'failed only' hides the other sections")
    set_filter(driver, "", False)
    check(shown(driver, "#timeline [data-kind=message], #timeline [data-kind=call]") == everything,
          f"{name}: clearing the filter shows everything again")

    urls, errors = requests_and_errors(driver)
    check(urls == [url], f"{name}: the only request is the page itself (saw {urls[:5]})")
    check(not errors, f"{name}: no console error or warning (saw {errors[:3]})")


def check_hostile(driver, doc):
    """The hostile texts show as they are; the code they carry never runs."""
    state = doc["state"]
    texts = driver.execute_script("""
      const t = s => Array.from(document.querySelectorAll(s)).map(e => e.textContent);
      return {title: document.title, h1: t('h1.title'), msg: t('#timeline .msg .rec-text'),
              names: t('#timeline .tool-name'), code: t('#timeline .call pre.code'), paths: t('.ctx-path'),
              srcs: t('.src-path'), reason: t('.reason'), injected: typeof window.__injected,
              imgs: document.querySelectorAll('img, svg, iframe, object, embed').length,
              links: Array.from(document.querySelectorAll('a')).map(a => a.getAttribute('href')),
              scripts: document.querySelectorAll('script').length};""")
    check(texts["title"] == "tracelens report \u00b7 " + state["title"], "hostile: the tab title is the title as text")
    check(texts["h1"] == [state["title"]], "hostile: the heading is the title as text")
    check(sorted(texts["msg"]) == sorted(m["text"] for m in state["messages"]), "hostile: message texts literal")
    check(sorted(texts["names"]) == sorted(c["name"] for c in state["toolCalls"]), "hostile: tool names literal")
    inputs_and_results = [t for c in state["toolCalls"] if "input" in c for _, t in input_fields(c["input"])] + \
        [c["resultText"] for c in state["toolCalls"] if "resultText" in c]
    check(sorted(texts["code"]) == sorted(inputs_and_results), "hostile: inputs and results literal")
    check(texts["paths"] == [a["path"] for a in state["contextArtifacts"]], "hostile: paths literal")
    check(all(s["source"] in texts["srcs"] for s in state["toolErrors"] + state["messages"]), "hostile: sources literal")
    check(texts["reason"] == [state["activity"]["reason"]], "hostile: the activity reason literal")
    check(texts["injected"] == "undefined", "hostile: the injected code's flag stays unset")
    check(texts["imgs"] == 0 and texts["scripts"] == 3, "hostile: no element made from a text")
    check(all(h.startswith("#") for h in texts["links"]), "hostile: every link is a link within the page")


def check_odd(driver):
    notes = driver.execute_script("return document.getElementById('notes').textContent")
    for part in ("schemaVersion 2, the document says 3", '"exploded"', '"sleeping"', '"toolErrors" is not a list',
                 'no "contextArtifacts" list', "1 item", "2 positions", "futureField", "state.extraList"):
        check(part in notes, f"odd: the notes mention {part}")
    extra = driver.execute_script("return Array.from(document.querySelectorAll('#timeline .extra')).map(e => e.textContent)")
    check(extra == ["tokens:12"], f"odd: an unknown record field is shown ({extra})")


# ---------------------------------------------------------------- documents


def tracelens_doc(tracelens, run, harness, version):
    proc = subprocess.run([tracelens, "parse-run", "--input", run, "--harness", harness, "--version", version],
                          capture_output=True, stdin=subprocess.DEVNULL, timeout=120, check=True)
    return proc.stdout


def main():
    args = sys.argv[1:]
    realdata = args and args[0] == "--realdata"
    if realdata:
        args = args[1:]
    report, tracelens, shot_dir = (os.path.abspath(a) for a in args[:3])
    for tool in (CHROMIUM, CHROMEDRIVER):
        if not os.path.exists(tool):
            print(f"{tool} is missing: scripts/setup.sh installs chromium and chromium-driver")
            sys.exit(1)
    with tempfile.TemporaryDirectory(prefix="report-e2e-") as tmp:
        docs = realdata_docs(tracelens, tmp) if realdata else own_docs(tracelens)
        driver = start_browser(os.path.join(tmp, "profile"))
        try:
            for name, data in docs:
                check_document(driver, report, name, data, os.path.join(tmp, name + ".html"), shot_dir)
        finally:
            driver.quit()
    print(f"{len(docs)} pages, {len(failures)} failed checks")
    sys.exit(1 if failures else 0)


def own_docs(tracelens):
    """The bundled example's document, the hand-made ones and an empty object."""
    docs = [("example", tracelens_doc(tracelens, os.path.join(ROOT, "examples", "claude-run"), "claude", "2.1.217"))]
    for name in ("hostile", "odd"):
        with open(os.path.join(HERE, "docs", name + ".json"), "rb") as f:
            docs.append((name, f.read()))
    return docs + [("empty", b"{}")]


def realdata_docs(tracelens, tmp):
    data = os.environ.get("TRACELENS_REALDATA", os.path.join(os.path.dirname(ROOT), "shared", "realdata"))
    make_runs = os.path.join(data, "make_runs.py")
    if not os.path.isfile(make_runs):
        print(f"SKIPPED: no public sample logs at {data}")
        sys.exit(77)
    runs = os.path.join(tmp, "runs")
    listing = subprocess.run([sys.executable, make_runs, runs], capture_output=True, text=True, check=True).stdout
    docs = []
    for line in listing.splitlines():
        if line.strip():
            name, harness, version = line.split()
            docs.append((name, tracelens_doc(tracelens, os.path.join(runs, name), harness, version)))
    return docs


def check_document(driver, report, name, data, page, shot_dir):
    proc = subprocess.run([report], input=data, capture_output=True, timeout=120)
    if not check(proc.returncode == 0, f"{name}: tracelens-report exits 0 ({proc.stderr!r})"):
        return
    with open(page, "wb") as f:
        f.write(proc.stdout)
    before = len(failures)
    doc = json.loads(data)
    check_page(driver, name, doc, page, os.path.join(shot_dir, "example.png") if name == "example" else None)
    if name == "hostile":
        check_hostile(driver, doc)
    if name == "odd":
        check_odd(driver)
    c = expected_counts(doc)
    print(("ok   " if len(failures) == before else "FAIL ") +
          f"{name}: {c['messages']} messages, {c['toolCalls']} calls ({c['failedCalls']} failed), "
          f"{c['toolErrors']} tool errors")


if __name__ == "__main__":
    main()
