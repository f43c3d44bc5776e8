#!/usr/bin/env python3
"""Times one report page in headless Chromium, by the browser's own clocks.

    report_render.py PAGE.html [WORD]

Prints, in milliseconds from the start of the navigation: the first
contentful paint, the end of the page's first render (its
"report-rendered" mark; "report-render" is the script's own share) and the
load event, and the memory of the tab: the private memory (resident pages
no other process shares) of the renderer process that shows the page, and
its JavaScript heap. Then the interactions: the filter WORD (default "error") applied
at once (the page's "report-filter" measure, and the time to the next frame),
again once the filter's haystacks are ready (lowered while the browser is idle),
"Expand all", and twenty scroll steps of 4000 pixels through the unfolded
timeline (time from each scroll to the frame after it), reported as median
and maximum.
"""
import json, os, statistics, sys, tempfile, time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service

NEXT_FRAME = """
const done = arguments[arguments.length - 1];
const t0 = performance.now();
(%s)();
requestAnimationFrame(() => requestAnimationFrame(() => done(performance.now() - t0)));
"""


def descendants(pid):
    out = []
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open(f"/proc/{entry}/stat") as f:
                    ppid = int(f.read().rsplit(")", 1)[1].split()[1])
            except OSError:
                continue
            if ppid == pid:
                out += [int(entry)] + descendants(int(entry))
    return out


def private_kb(pid):
    total = 0
    try:
        with open(f"/proc/{pid}/smaps_rollup") as f:
            for line in f:
                if line.startswith(("Private_Clean:", "Private_Dirty:")):
                    total += int(line.split()[1])
    except OSError:
        return 0
    return total


def tab_memory_mb(driver):
    """The private memory of the largest renderer process the driver's browser started."""
    best = 0
    for pid in descendants(driver.service.process.pid):
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                cmd = f.read()
        except OSError:
            continue
        if b"--type=renderer" in cmd:
            best = max(best, private_kb(pid))
    return best / 1024


def main():
    page, word = sys.argv[1], (sys.argv[2] if len(sys.argv) > 2 else "error")
    with tempfile.TemporaryDirectory(prefix="report-bench-") as profile:
        measure(page, word, profile)


def measure(page, word, profile):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for arg in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                "--disable-background-networking", "--disable-component-update", "--disable-sync",
                "--disable-dev-shm-usage", "--window-size=1280,1000",
                "--user-data-dir=" + profile):
        options.add_argument(arg)
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    driver.set_page_load_timeout(300)
    driver.set_script_timeout(300)
    try:
        driver.get("file://" + page)
        while not driver.execute_script("return document.documentElement.dataset.ready === 'true'"):
            time.sleep(0.05)
        time.sleep(0.5)
        t = driver.execute_script("""
          const nav = performance.getEntriesByType('navigation')[0];
          const fcp = performance.getEntriesByName('first-contentful-paint')[0];
          return {fcp: fcp ? fcp.startTime : null, domInteractive: nav.domInteractive,
                  rendered: performance.getEntriesByName('report-rendered')[0].startTime,
                  script: performance.getEntriesByName('report-render')[0].duration,
                  parse: performance.getEntriesByName('report-parsed')[0].startTime -
                         performance.getEntriesByName('report-start')[0].startTime,
                  load: nav.loadEventEnd, nodes: document.getElementsByTagName('*').length};""")
        driver.execute_cdp_cmd("HeapProfiler.collectGarbage", {})
        time.sleep(0.5)
        heap = driver.execute_cdp_cmd("Runtime.getHeapUsage", {})
        print(f"tab memory {tab_memory_mb(driver):.0f} MB private (renderer), JavaScript heap "
              f"{heap['usedSize'] / 1048576:.0f} MB; page {os.path.getsize(page) / 1048576:.1f} MB")
        print(f"first contentful paint {t['fcp']:.0f} ms, dom interactive {t['domInteractive']:.0f} ms, "
              f"first render done {t['rendered']:.0f} ms (script {t['script']:.0f} ms, of which JSON.parse "
              f"{t['parse']:.0f} ms), "
              f"load event {t['load']:.0f} ms, {t['nodes']} elements")

        frame = driver.execute_async_script(NEXT_FRAME % (
            "() => { const f = document.getElementById('filter'); f.value = %s;"
            " f.dispatchEvent(new KeyboardEvent('keydown', {key: 'Enter'})); }" % json.dumps(word)))
        applied = driver.execute_script(
            "const m = performance.getEntriesByName('report-filter'); return m[m.length - 1].duration;")
        status = driver.execute_script("return document.getElementById('filter-status').textContent")
        print(f"filter '{word}': applied in {applied:.0f} ms, next frame after {frame:.0f} ms ({status})")
        # The filter's haystacks are lowered while the browser is idle after the first render.
        for _ in range(600):
            ready = driver.execute_script("const m = performance.getEntriesByName('report-haystacks');"
                                          " return m.length ? m[0].startTime : null;")
            if ready is not None:
                break
            time.sleep(0.05)
        print(f"filter haystacks of all records ready at {ready:.0f} ms")
        frame = driver.execute_async_script(NEXT_FRAME % (
            "() => { const f = document.getElementById('filter'); f.value = %s;"
            " f.dispatchEvent(new KeyboardEvent('keydown', {key: 'Enter'})); }" % json.dumps(word + " test")))
        applied = driver.execute_script(
            "const m = performance.getEntriesByName('report-filter'); return m[m.length - 1].duration;")
        status = driver.execute_script("return document.getElementById('filter-status').textContent")
        print(f"filter '{word} test' then: applied in {applied:.0f} ms, next frame after {frame:.0f} ms ({status})")
        frame = driver.execute_async_script(NEXT_FRAME % (
            "() => { const f = document.getElementById('filter'); f.value = '';"
            " f.dispatchEvent(new KeyboardEvent('keydown', {key: 'Enter'})); }"))
        print(f"filter cleared: next frame after {frame:.0f} ms")

        frame = driver.execute_async_script(NEXT_FRAME % "() => document.getElementById('expand-all').click()")
        print(f"expand all: next frame after {frame:.0f} ms")
        steps = []
        for _ in range(20):
            steps.append(driver.execute_async_script(NEXT_FRAME % "() => window.scrollBy(0, 4000)"))
            time.sleep(0.05)
        y = driver.execute_script("return [window.scrollY, document.documentElement.scrollHeight]")
        print(f"scroll 20 x 4000 px: median {statistics.median(steps):.0f} ms, max {max(steps):.0f} ms to the next "
              f"frame (at {y[0]} of {y[1]} px)")
        errors = [e for e in driver.get_log("browser") if e["level"] == "SEVERE"]
        if errors:
            print("console errors:", errors[:3])
    finally:
        driver.quit()


if __name__ == "__main__":
    main()
