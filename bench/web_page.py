#!/usr/bin/python3
"""Time to a full live page in headless chromium on loopback: merival-poll --web against
merival-sim, loaded again and again in one tab; first byte (the browser's responseStart) and the moment
the rows hold the values of a pass, from the start of navigation.

    /usr/bin/python3 bench/web_page.py BUILD_DIR [LOADS]"""

import os
import statistics
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "web"))
import cdp  # noqa: E402
from line import Line  # noqa: E402

WATCH = """
new MutationObserver((changes, observer) => {
  const v = document.getElementById('voies');
  if (v && Number(v.dataset.passe) > 0 && v.children.length > 0) {
    window.plein = performance.now();
    observer.disconnect();
  }
}).observe(document, { subtree: true, childList: true, attributes: true });
"""


def main():
    build = os.path.abspath(sys.argv[1])
    loads = int(sys.argv[2]) if len(sys.argv) > 2 else 30
    line = Line(build)
    browser = cdp.Browser()
    first, full = [], []
    try:
        line.start_poll()
        page = browser.page()
        page.call("Page.addScriptToEvaluateOnNewDocument", {"source": WATCH})
        for i in range(loads + 1):
            page.call("Page.navigate", {"url": "about:blank"})
            page.wait("location.href === 'about:blank'")
            page.call("Page.navigate", {"url": line.url + "/"})
            shown = page.wait("location.href !== 'about:blank' && window.plein")
            ttfb = page.eval("performance.getEntriesByType('navigation')[0].responseStart")
            if i > 0:  # the first load warms the browser's own caches
                first.append(ttfb)
                full.append(shown)
    finally:
        browser.close()
        line.close()

    def figures(values):
        values = sorted(values)
        return (f"median {statistics.median(values):.1f} ms, "
                f"p90 {values[int(0.9 * (len(values) - 1))]:.1f} ms, max {values[-1]:.1f} ms")

    print(f"live page in headless chromium, loopback, {loads} loads")
    print(f"  first byte of the page: {figures(first)}")
    print(f"  rows showing a pass:    {figures(full)}")


if __name__ == "__main__":
    main()
