#!/usr/bin/env python3
"""The pages of tracelens-report in headless Chromium.

    browser_e2e.py [--realdata] TRACELENS_REPORT TRACELENS SHOT_DIR

Without --realdata: the bundled example run's document, the hand-made
documents in docs/ (hostile texts everywhere, also as Markdown, diffs and
patches; odd shapes and unknown values; a sub-agent as Claude, Codex, Gemini
and OpenCode record it) and an empty object. With --realdata: the document of every shared sample run
(../shared/realdata beside the checkout, or $TRACELENS_REALDATA); exit status
77 (skipped) when those are absent.

For every page: the counts equal the document's; every message and tool call
shows once everything is drawn, a sub-agent's records under the call that
launched it; a filter word and the "failed only" switch narrow the timeline
and the tool errors to the records that hold the word or failed (and the calls
whose sub-agents hold them), mark each place the word shows and keep the
filter in the address, which reproduces the view; every turn has an anchor
that scrolls it below the toolbar; every text colour has a contrast of at
least 4.5:1 with its background in light and dark mode; no request but the
page's own and no console error. The hostile texts show literally and the
flag their code would set stays unset. The example's page is saved as
SHOT_DIR/example.png.
"""
import json, os, re, subprocess, sys, tempfile, time

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


def source_file(source):
    m = re.match(r"^(.*):(\d+)$", source) if isinstance(source, str) else None
    return m.group(1) if m else None


def sub_agent_layout(doc):
    """Which sub-agent each record belongs to and which call launched each
    sub-agent, by the page's rules: a record belongs to a sub-agent when its
    source file's name holds the sub-agent's id (of at least 6 characters), or
    the file is the sub-agent's source file and not a file of the main
    conversation (where a turn starts, unless a sub-agent's id names it); a sub-agent's launching call is the first free call
    (not its own, not launching another) whose toolUseId is the id, else
    whose source is the sub-agent's source, else (for a call whose name says
    agent, task, spawn or delegate) whose result holds the id as a word, else
    whose input's prompt or task is the sub-agent's prompt."""
    state = doc.get("state") if isinstance(doc.get("state"), dict) else {}
    agents, turns = objects(state, "subAgents"), objects(state, "userTurns")
    recs = records(doc)
    ids = [a.get("id") for a in agents if isinstance(a.get("id"), str) and len(a.get("id")) >= 6]
    starts = {t.get("startMessagePosition") for t in turns}
    main = {f for f in (source_file(r.get("source")) for k, r in recs if k == "message" and r.get("position") in starts)
            if f and not any(i in f.rsplit("/", 1)[-1] for i in ids)}
    files = [source_file(a.get("source")) or a.get("source") for a in agents]

    def owner(r):
        f = source_file(r.get("source"))
        if not f:
            return None
        for i, a in enumerate(agents):
            aid = a.get("id") if isinstance(a.get("id"), str) else ""
            if len(aid) >= 6 and aid in f.rsplit("/", 1)[-1]:
                return i
            if files[i] and f == files[i] and f not in main:
                return i
        return None

    owners = {(k, r["position"]): owner(r) for k, r in recs}
    launch, used = {}, set()
    calls = [r for k, r in recs if k == "call"]
    for i, a in enumerate(agents):
        aid, prompt = a.get("id", ""), a.get("prompt", "")
        tests = [lambda c: aid and c.get("toolUseId") == aid,
                 lambda c: a.get("source") and c.get("source") == a.get("source"),
                 lambda c: len(aid) >= 6 and re.search("agent|task|spawn|delegate", str(c.get("name")), re.I) and
                 aid in re.findall(r"[A-Za-z0-9_-]{6,}", str(c.get("resultText", ""))),
                 lambda c: prompt and isinstance(c.get("input"), dict) and prompt in (c["input"].get("prompt"), c["input"].get("task"))]
        for test in tests:
            hit = [c for c in calls if owners[("call", c["position"])] != i and c["position"] not in used and test(c)]
            if hit:
                launch[i] = hit[0]["position"]
                used.add(hit[0]["position"])
                break
    return owners, launch


def records(doc):
    state = doc.get("state") if isinstance(doc.get("state"), dict) else {}
    return [("message", m) for m in objects(state, "messages")] + [("call", c) for c in objects(state, "toolCalls")]


def conversation_turns(doc):
    """The user turns less those made only of sub-agents' records (and no todo)."""
    state = doc.get("state") if isinstance(doc.get("state"), dict) else {}
    owners, _ = sub_agent_layout(doc)
    n = 0
    for t in objects(state, "userTurns"):
        keys = [("message", p) for p in t.get("messagePositions", []) if ("message", p) in owners] + \
            [("call", p) for p in t.get("toolCallPositions", []) if ("call", p) in owners]
        if keys and all(owners[k] is not None for k in keys) and not t.get("todoPositions"):
            continue
        n += 1
    return n


def expected_counts(doc):
    state = doc.get("state") if isinstance(doc.get("state"), dict) else {}
    calls = objects(state, "toolCalls")
    return {"turns": conversation_turns(doc), "messages": len(objects(state, "messages")),
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
SHOWN_ALL = "#timeline [data-kind=message], #timeline [data-kind=call], #sub-agents [data-kind=message], " \
    "#sub-agents [data-kind=call]"
TIMELINE = "#timeline [data-kind=message], #timeline [data-kind=call]"
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


# Every element with text of its own, visible: its colour against the
# background it stands on (the first opaque one among it and its ancestors,
# with translucent ones blended over it), as the WCAG contrast ratio.
CONTRAST = """
const rgba = c => { const p = c.match(/[\\d.]+/g).map(Number); return [p[0], p[1], p[2], p.length > 3 ? p[3] : 1]; };
const blend = (top, under) => [0, 1, 2].map(i => top[i] * top[3] + under[i] * (1 - top[3])).concat([1]);
const lum = c => { const f = v => { v /= 255; return v <= 0.03928 ? v / 12.92 : Math.pow((v + 0.055) / 1.055, 2.4); };
  return 0.2126 * f(c[0]) + 0.7152 * f(c[1]) + 0.0722 * f(c[2]); };
function background(el) {
  const layers = [];
  for (let e = el; e; e = e.parentElement) {
    const c = rgba(getComputedStyle(e).backgroundColor);
    if (c[3] > 0) { layers.push(c); if (c[3] >= 1) break; }
  }
  let base = layers.length && layers[layers.length - 1][3] >= 1 ? layers.pop() : [255, 255, 255, 1];
  while (layers.length) base = blend(layers.pop(), base);
  return base;
}
const low = [], seen = new Set();
for (const el of document.querySelectorAll('body *')) {
  if (!Array.from(el.childNodes).some(n => n.nodeType === 3 && n.nodeValue.trim())) continue;
  if (!el.getClientRects().length || getComputedStyle(el).visibility === 'hidden') continue;
  const bg = background(el), fg = blend(rgba(getComputedStyle(el).color), bg);
  const a = lum(fg), b = lum(bg), ratio = (Math.max(a, b) + 0.05) / (Math.min(a, b) + 0.05);
  const key = el.className + '|' + getComputedStyle(el).color + '|' + bg.join(',');
  if (ratio < 4.5 && !seen.has(key)) { seen.add(key); low.push([el.tagName + '.' + el.className, getComputedStyle(el).color, bg.map(Math.round).join(','), Math.round(ratio * 100) / 100]); }
}
return low;
"""


def wait_ready(driver):
    for _ in range(200):
        if driver.execute_script("return document.documentElement.dataset.ready === 'true'"):
            return True
        time.sleep(0.05)
    return False


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
    if not wait_ready(driver):
        check(False, f"{name}: the page did not finish drawing")
        return

    counts = driver.execute_script(
        "const o = {}; for (const e of document.querySelectorAll('#summary [data-count]'))"
        " o[e.dataset.count] = Number(e.querySelector('b').textContent.replace(/,/g, '')); return o;")
    check(counts == expected_counts(doc), f"{name}: counts {counts} equal the document's {expected_counts(doc)}")

    everything = sorted({(k, r["position"]) for k, r in records(doc)})
    check(shown(driver, SHOWN_ALL) == everything, f"{name}: every message and tool call is shown")
    owners, launch = sub_agent_layout(doc)
    loose = {i for i in range(len(objects(doc.get("state", {}), "subAgents"))) if i not in launch}

    def in_timeline(pred):
        """The records of the timeline that pred holds for, and the calls that launched a sub-agent holding one."""
        hit = {(k, r["position"]) for k, r in records(doc) if owners[(k, r["position"])] not in loose and pred(k, r)}
        for (k, p), o in owners.items():
            if (k, p) in hit and o is not None and o in launch:
                call, seen = launch[o], set()
                while call is not None and call not in seen:  # a launching call may itself be a sub-agent's
                    seen.add(call)
                    hit.add(("call", call))
                    up = owners.get(("call", call))
                    call = launch.get(up) if up is not None else None
        return sorted(hit)

    placed = driver.execute_script("""
      return Array.from(document.querySelectorAll('#timeline [data-kind=subAgent]')).map(b => [b.id,
        b.parentElement.closest('[data-kind=call]') ? Number(b.parentElement.closest('[data-kind=call]').dataset.position) : null,
        Array.from(b.querySelectorAll('[data-kind=message], [data-kind=call]')).filter(e => e.closest('[data-kind=subAgent]') === b)
          .map(e => [e.dataset.kind, Number(e.dataset.position)]).sort()]);""")
    want_placed = sorted([f"agent-{i}", p, sorted([list(kp) for kp, o in owners.items() if o == i])] for i, p in launch.items())
    placed = [[b, p, sorted(tuple(r) for r in recs)] for b, p, recs in placed]
    want_placed = [[b, p, [tuple(r) for r in recs]] for b, p, recs in want_placed]
    check(sorted(placed) == want_placed, f"{name}: each sub-agent sits under its call with its own records "
          f"({sorted(placed)} vs {want_placed})")
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
        holds = {(k, r["position"]) for k, r in records(doc) if word in haystack(k, r).lower()
                 and owners[(k, r["position"])] not in loose}
        want = in_timeline(lambda k, r: word in haystack(k, r).lower())
        set_filter(driver, word, False)
        check(shown(driver, TIMELINE) == want, f"{name}: the filter '{word}' shows the {len(want)} records that hold it")
        status = driver.execute_script("return Object.assign({}, document.getElementById('filter-status').dataset)")
        check(int(status["messages"]) == sum(1 for k, _ in holds if k == "message") and
              int(status["calls"]) == sum(1 for k, _ in holds if k == "call"), f"{name}: the filter status counts")
        marks = driver.execute_script("return Array.from(document.querySelectorAll('#timeline mark.hit'))"
                                      ".map(m => m.textContent.toLowerCase())")
        check(bool(marks) == bool(holds) and set(marks) <= {word}, f"{name}: the matches of '{word}' are marked ({len(marks)})")
        check(driver.execute_script("return location.hash") == "#q=" + word, f"{name}: the filter is in the address")
        driver.get("about:blank")
        driver.get(url + "#q=" + word)
        wait_ready(driver)
        check(driver.execute_script("return document.getElementById('filter').value") == word and
              shown(driver, TIMELINE) == want, f"{name}: the address with the filter reproduces the view")
        want_errors = sorted(e["position"] for e in errors_all if word in str(e.get("text", "")).lower())
        check([p for _, p in shown(driver, "#tool-errors [data-kind=toolError]")] == want_errors,
              f"{name}: the filter narrows the tool errors")

    set_filter(driver, "", True)
    failed = in_timeline(lambda k, r: k == "call" and r.get("isError") is True)
    check(shown(driver, TIMELINE) == failed,
          f"{name}: 'failed only' shows the {len(failed)} failed calls")
    check([p for _, p in shown(driver, "#tool-errors [data-kind=toolError]")] ==
          sorted(e["position"] for e in errors_all), f"{name}: 'failed only' shows every tool error")
    hidden = driver.execute_script("return ['sub-agents', 'approvals', 'context', 'provenance']"
                                   ".every(id => document.getElementById(id).offsetParent === null)")
    check(hidden, f"{name}: 'failed only' hides the other sections")
    set_filter(driver, "", False)
    check(shown(driver, SHOWN_ALL) == everything, f"{name}: clearing the filter shows everything again")
    check(driver.execute_script("return location.hash") == "", f"{name}: a cleared filter leaves the address")

    # Every turn has an anchor; following it puts the turn below the sticky toolbar.
    turns = driver.execute_script("""return Array.from(document.querySelectorAll('#timeline .turn')).map(t =>
      [t.id, (t.querySelector(':scope > a.turn-anchor') || {}).hash || null]);""")
    check(all(tid == f"turn-{i + 1}" and href == "#" + tid for i, (tid, href) in enumerate(t for t in turns if t[0] != "turn-none")),
          f"{name}: every turn has its anchor ({turns[:3]})")
    real = [t for t, _ in turns if t != "turn-none"]
    if real:
        driver.get("about:blank")
        driver.get(url + "#" + real[-1])
        wait_ready(driver)
        top, bar = driver.execute_script("return [document.getElementById(arguments[0]).getBoundingClientRect().top,"
                                         " document.querySelector('.toolbar').getBoundingClientRect().bottom]", real[-1])
        check(top >= bar - 1, f"{name}: the anchor #{real[-1]} shows the turn below the toolbar ({top} >= {bar})")
    # #call-N and #message-N open what holds the record (a folded turn, a sub-agent's box) and show it.
    shown_records = [(k, p) for k, p in everything if owners[(k, p)] not in loose]
    if shown_records:
        kind, pos = shown_records[-1]
        target = ("call-" if kind == "call" else "message-") + str(pos)
        driver.get("about:blank")
        driver.get(url + "#" + target)
        wait_ready(driver)
        where = driver.execute_script("const e = document.getElementById(arguments[0]); return e && e.offsetParent !== null ?"
                                      " [e.getBoundingClientRect().top, document.querySelector('.toolbar')"
                                      ".getBoundingClientRect().bottom, innerHeight] : null", target)
        check(where is not None and where[1] - 1 <= where[0] < where[2], f"{name}: #{target} shows the record ({where})")

    # The key f goes to the first failed call (drawing and opening what holds it).
    if failed:
        from selenium.webdriver.common.by import By
        driver.find_element(By.TAG_NAME, "body").send_keys("f")
        flashed = driver.execute_script("const e = document.querySelector('.flash');"
                                        " return e ? [e.dataset.kind, Number(e.dataset.position)] : null")
        first = min(c["position"] for k, c in records(doc) if k == "call" and c.get("isError") is True)
        check(flashed == ["call", first], f"{name}: the key f shows the first failed call ({flashed})")
    for scheme in ("light", "dark"):
        driver.execute_cdp_cmd("Emulation.setEmulatedMedia", {"features": [{"name": "prefers-color-scheme", "value": scheme}]})
        driver.execute_script(DRAW_ALL)
        low = driver.execute_script(CONTRAST)
        check(not low, f"{name}: every text has a contrast of 4.5:1 in {scheme} mode (not: {low[:4]})")
    driver.execute_cdp_cmd("Emulation.setEmulatedMedia", {"features": []})

    # Printing shows everything: no folded text, closed view or list left to draw.
    driver.execute_cdp_cmd("Page.printToPDF", {})
    left = driver.execute_script("return [document.querySelectorAll('.fold.is-folded').length,"
                                 " document.querySelectorAll('#app details:not([open])').length,"
                                 " document.querySelectorAll('#app button.more').length,"
                                 " document.querySelectorAll('#app .turn-body[hidden]').length]")
    check(left == [0, 0, 0, 0], f"{name}: printing unfolds everything (left: {left})")

    urls, errors = requests_and_errors(driver)
    check(urls and set(urls) == {url}, f"{name}: the only request is the page itself (saw {urls[:5]})")
    check(not errors, f"{name}: no console error or warning (saw {errors[:3]})")


def check_hostile(driver, doc):
    """The hostile texts show as they are; the code they carry never runs."""
    state = doc["state"]
    texts = driver.execute_script("""
      document.getElementById('expand-all').click();
      const t = s => Array.from(document.querySelectorAll(s)).map(e => e.textContent);
      return {title: document.title, h1: t('h1.title'), msg: t('#timeline .msg .rec-text'),
              handlers: Array.from(document.querySelectorAll('#app *')).filter(e => Array.from(e.attributes)
                .some(a => /^on|^style$|^src$|^href$/.test(a.name) && !(a.name === 'href' && a.value.startsWith('#')))).length,
              diffs: t('#timeline .call pre.diff'), mdlinks: t('#timeline .md-link'),
              names: t('#timeline .tool-name'), code: t('#timeline .call pre.code'), paths: t('.ctx-path'),
              srcs: t('.src-path'), reason: t('.reason'), injected: typeof window.__injected,
              imgs: document.querySelectorAll('img, svg, iframe, object, embed').length,
              links: Array.from(document.querySelectorAll('a')).map(a => a.getAttribute('href')),
              scripts: document.querySelectorAll('script').length};""")
    check(texts["title"] == "tracelens report \u00b7 " + state["title"], "hostile: the tab title is the title as text")
    check(texts["h1"] == [state["title"]], "hostile: the heading is the title as text")
    # Messages are Markdown with raw HTML off: every tag written in a message shows as text.
    shown_text = " ".join(texts["msg"])
    tags = [t for m in state["messages"] for t in re.findall(r"<[^<>]*>", m["text"])]
    check(len(texts["msg"]) == len(state["messages"]) and all(t in shown_text for t in tags),
          f"hostile: every tag in a message shows as text ({[t for t in tags if t not in shown_text]})")
    check("<script>window.__injected=1</script>" in shown_text and "**" not in shown_text and "Markdown" in shown_text,
          "hostile: Markdown is rendered and its code block is shown as text")
    # markdown-it refuses the javascript: link (it stays text); the https one is an inert span.
    check(texts["mdlinks"] == ["site"] and "[a link](javascript:" in shown_text and texts["handlers"] == 0,
          f"hostile: Markdown links are inert and no element carries a handler, style, source or outside link ({texts['mdlinks']})")
    check(sorted(texts["names"]) == sorted(c["name"] for c in state["toolCalls"]), "hostile: tool names literal")
    # The Edit call shows one unified diff of its old and new text instead of the two texts.
    edit_diff = " keep\n-<p>old</p>\n+<script>window.__injected=1</script>"
    patch = next(c["input"]["input"] for c in state["toolCalls"] if c["name"] == "apply_patch")
    check(sorted(texts["diffs"]) == sorted([edit_diff, patch]), f"hostile: the edit as a diff, the patch as it is ({texts['diffs']})")
    inputs_and_results = [t for c in state["toolCalls"] if "input" in c and c["name"] != "Edit" for _, t in input_fields(c["input"])] + \
        [t for c in state["toolCalls"] if c["name"] == "Edit" for k, t in input_fields(c["input"]) if k == "file_path"] + \
        [edit_diff] + [c["resultText"] for c in state["toolCalls"] if "resultText" in c]
    check(sorted(texts["code"]) == sorted(inputs_and_results), "hostile: inputs and results literal")
    check(texts["paths"] == [a["path"] for a in state["contextArtifacts"]], "hostile: paths literal")
    check(all(s["source"] in texts["srcs"] for s in state["toolErrors"] + state["messages"]), "hostile: sources literal")
    check(texts["reason"] == [state["activity"]["reason"]], "hostile: the activity reason literal")
    check(texts["injected"] == "undefined", "hostile: the injected code's flag stays unset")
    # The meta block and the page's script stay; the document's elements are dropped once read.
    check(texts["imgs"] == 0 and texts["scripts"] == 2, f"hostile: no element made from a text ({texts['imgs']}, {texts['scripts']})")
    check(all(h.startswith("#") for h in texts["links"]), "hostile: every link is a link within the page")


def check_odd(driver):
    notes = driver.execute_script("return document.getElementById('notes').textContent")
    for part in ("schemaVersion 2, the document says 3", '"exploded"', '"sleeping"', '"toolErrors" is not a list',
                 'no "contextArtifacts" list', "1 item", "2 positions", "futureField", "state.extraList"):
        check(part in notes, f"odd: the notes mention {part}")
    extra = driver.execute_script("return Array.from(document.querySelectorAll('#timeline .extra')).map(e => e.textContent)")
    check(extra == ["tokens:12"], f"odd: an unknown record field is shown ({extra})")
    states = driver.execute_script("return Array.from(document.querySelectorAll('#approvals .chip')).map(e => e.textContent)")
    check(states == ["waiting, or asked recently", "constructor"], f"odd: approval states in words, others as they are ({states})")


def check_usage(driver, name, doc):
    """Token usage shows where the document has it: totals in the header, per
    turn in the turn's header, per sub-agent in its box; else nowhere."""
    got = driver.execute_script("""
      const u = document.getElementById('usage');
      return {header: u ? Array.from(u.querySelectorAll('[data-usage]')).map(e => [e.dataset.usage, e.textContent]) : null,
              turns: Array.from(document.querySelectorAll('#timeline .turn-meta')).map(e => e.textContent),
              agents: Array.from(document.querySelectorAll('.agent-meta')).map(e => e.textContent)};""")
    if "usage" not in doc:
        check(got["header"] is None and not any("tokens" in t for t in got["turns"] + got["agents"]),
              f"{name}: no usage shown without usage in the document")
        return
    check(got["header"] == [["inputTokens", "1,700 input"], ["outputTokens", "340 output"],
                            ["cacheReadTokens", "9,000 cache read"], ["costUsd", "$0.0123"]],
          f"{name}: the usage totals in the header ({got['header']})")
    check(got["turns"][0].endswith("tokens 1,200 in, 300 out, 9,000 cache read"), f"{name}: the turn's usage ({got['turns']})")
    check(got["agents"] == ["3 records \u00b7 tokens 500 in, 40 out"], f"{name}: the sub-agent's usage ({got['agents']})")


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
    for name in ("hostile", "odd", "subagent-claude", "subagent-codex", "subagent-gemini", "subagent-opencode"):
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
    check_usage(driver, name, doc)
    c = expected_counts(doc)
    print(("ok   " if len(failures) == before else "FAIL ") +
          f"{name}: {c['messages']} messages, {c['toolCalls']} calls ({c['failedCalls']} failed), "
          f"{c['toolErrors']} tool errors")


if __name__ == "__main__":
    main()
