"""Headless chromium driven through the DevTools protocol on a pipe (--remote-debugging-pipe):
no port, no extra package. Messages are JSON texts ended by a NUL byte."""

import base64
import json
import os
import shutil
import subprocess
import tempfile
import time

CHROMIUM = os.environ.get("MERIVAL_CHROMIUM", "/usr/bin/chromium")


class Browser:
    def __init__(self):
        self.profile = tempfile.mkdtemp(prefix="merival-chromium-")
        to_chrome_r, self._to_chrome = os.pipe()
        self._from_chrome, from_chrome_w = os.pipe()

        def wire():
            # Moved out of the way first: the pipes may themselves be fds 3 and 4.
            high_r, high_w = os.dup(to_chrome_r) + 100, os.dup(from_chrome_w) + 100
            os.dup2(to_chrome_r, high_r)
            os.dup2(from_chrome_w, high_w)
            os.dup2(high_r, 3)
            os.dup2(high_w, 4)

        self.proc = subprocess.Popen(
            [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
             "--no-first-run", "--disable-background-networking", "--disable-component-update",
             "--disable-sync", "--lang=fr-FR", "--remote-debugging-pipe", "--user-data-dir=" + self.profile,
             "about:blank"],
            preexec_fn=wire, close_fds=False,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(to_chrome_r)
        os.close(from_chrome_w)
        self._next = 0
        self._buffer = b""
        self.events = []

    def close(self):
        try:
            self.call("Browser.close")
        except Exception:
            pass
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        os.close(self._to_chrome)
        os.close(self._from_chrome)
        shutil.rmtree(self.profile, ignore_errors=True)

    def _read(self):
        while b"\0" not in self._buffer:
            chunk = os.read(self._from_chrome, 1 << 16)
            if not chunk:
                raise RuntimeError("chromium closed the pipe")
            self._buffer += chunk
        message, self._buffer = self._buffer.split(b"\0", 1)
        return json.loads(message)

    def call(self, method, params=None, session=None):
        self._next += 1
        message = {"id": self._next, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session
        os.write(self._to_chrome, json.dumps(message).encode() + b"\0")
        while True:
            reply = self._read()
            if reply.get("id") == self._next:
                if "error" in reply:
                    raise RuntimeError(f"{method}: {reply['error']}")
                return reply.get("result", {})
            self.events.append(reply)

    def page(self, url="about:blank", width=1280, height=900):
        target = self.call("Target.createTarget", {"url": "about:blank"})["targetId"]
        session = self.call("Target.attachToTarget",
                            {"targetId": target, "flatten": True})["sessionId"]
        page = Page(self, session)
        self.call("Page.enable", session=session)
        self.call("Runtime.enable", session=session)
        page.size(width, height)
        if url != "about:blank":
            page.go(url)
        return page


class Page:
    def __init__(self, browser, session):
        self.browser = browser
        self.session = session

    def call(self, method, params=None):
        return self.browser.call(method, params, self.session)

    def size(self, width, height):
        self.call("Emulation.setDeviceMetricsOverride",
                  {"width": width, "height": height, "deviceScaleFactor": 1, "mobile": False})

    def go(self, url):
        self.call("Page.navigate", {"url": url})
        self.wait("document.readyState === 'complete' && location.href !== 'about:blank'")

    def eval(self, expression):
        result = self.call("Runtime.evaluate", {"expression": expression, "awaitPromise": True,
                                                "returnByValue": True})
        if "exceptionDetails" in result:
            raise RuntimeError(f"{expression}: {result['exceptionDetails']}")
        return result["result"].get("value")

    def wait(self, expression, timeout=15.0):
        end = time.monotonic() + timeout
        while True:
            try:
                value = self.eval(expression)
            except RuntimeError:
                value = None
            if value:
                return value
            if time.monotonic() > end:
                raise TimeoutError(f"not true after {timeout} s: {expression}")
            time.sleep(0.05)

    def screenshot(self, path):
        data = self.call("Page.captureScreenshot", {"format": "png"})["data"]
        with open(path, "wb") as out:
            out.write(base64.b64decode(data))
