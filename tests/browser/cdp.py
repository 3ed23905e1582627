"""Headless Chromium driven through the DevTools protocol over
--remote-debugging-pipe: Python's standard library alone.

Chromium reads commands on its fd 3 and writes answers and events on its
fd 4, each message JSON ended by a NUL byte.
"""
import json
import os
import shutil
import subprocess
import tempfile
import time


class BrowserError(Exception):
    pass


def find_chromium():
    for name in ("chromium", "chromium-browser", "google-chrome"):
        path = shutil.which(name)
        if path:
            return path
    raise BrowserError("no Chromium on this machine (./dev setup installs Debian's chromium)")


class Browser:
    def __init__(self, timeout=30):
        self.timeout = timeout
        self.profile = tempfile.mkdtemp(prefix="plumeta-chromium-")
        to_child_r, self._to_child = os.pipe()
        self._from_child, from_child_w = os.pipe()

        def plumb():  # in the child: its ends of the pipes as fds 3 and 4
            read, write = os.dup(to_child_r), os.dup(from_child_w)
            os.dup2(read, 3)
            os.dup2(write, 4)

        args = [find_chromium(), "--headless=new", "--remote-debugging-pipe", "--no-sandbox",
                "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
                "--disable-component-update", "--disable-sync", "--disable-extensions",
                "--hide-scrollbars", "--user-data-dir=" + self.profile, "about:blank"]
        try:
            self.log = tempfile.TemporaryFile()
            self.process = subprocess.Popen(args, preexec_fn=plumb, close_fds=False,
                                            stdout=subprocess.DEVNULL, stderr=self.log)
        except OSError as error:
            raise BrowserError("Chromium cannot start: %s" % error)
        os.close(to_child_r)
        os.close(from_child_w)
        self._buffer = b""
        self._next = 0
        self.events = []
        try:
            self.call("Browser.getVersion")
        except BrowserError as error:
            self.close()
            raise BrowserError("Chromium does not answer: %s" % error)

    def _send(self, message):
        try:
            os.write(self._to_child, json.dumps(message).encode() + b"\0")
        except BrokenPipeError:
            self.log.seek(0)
            raise BrowserError("Chromium ended: %s" % self.log.read().decode(errors="replace")[-600:])

    def _receive(self, deadline):
        while b"\0" not in self._buffer:
            if time.monotonic() > deadline:
                raise BrowserError("no answer within %d s" % self.timeout)
            if self.process.poll() is not None:
                self.log.seek(0)
                raise BrowserError("Chromium ended: %s" % self.log.read().decode(errors="replace")[-600:])
            chunk = os.read(self._from_child, 1 << 20)
            if not chunk:
                raise BrowserError("Chromium closed its pipe")
            self._buffer += chunk
        message, self._buffer = self._buffer.split(b"\0", 1)
        return json.loads(message)

    def call(self, method, session=None, **params):
        self._next += 1
        message = {"id": self._next, "method": method, "params": params}
        if session:
            message["sessionId"] = session
        self._send(message)
        deadline = time.monotonic() + self.timeout
        while True:
            answer = self._receive(deadline)
            if answer.get("id") == self._next:
                if "error" in answer:
                    raise BrowserError("%s: %s" % (method, answer["error"].get("message")))
                return answer.get("result", {})
            self.events.append(answer)

    def wait_event(self, method, session, seconds=None):
        deadline = time.monotonic() + (seconds or self.timeout)
        while True:
            for i, event in enumerate(self.events):
                if event.get("method") == method and event.get("sessionId") == session:
                    return self.events.pop(i)
            self.events.append(self._receive(deadline))

    def close(self):
        try:
            if self.process.poll() is None:
                try:
                    self._send({"id": 0, "method": "Browser.close", "params": {}})
                    self.process.wait(timeout=5)
                except Exception:
                    self.process.kill()
                    self.process.wait()
        finally:
            for fd in (self._to_child, self._from_child):
                try:
                    os.close(fd)
                except OSError:
                    pass
            shutil.rmtree(self.profile, ignore_errors=True)


class Page:
    """One tab, its session attached."""

    def __init__(self, browser, width, height, scripts=True):
        self.browser = browser
        target = browser.call("Target.createTarget", url="about:blank")["targetId"]
        self.session = browser.call("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]
        self.call("Page.enable")
        self.call("Runtime.enable")
        self.call("Log.enable")
        self.call("Emulation.setDeviceMetricsOverride", width=width, height=height, deviceScaleFactor=1,
                  mobile=width < 800)
        if not scripts:
            self.call("Emulation.setScriptExecutionDisabled", value=True)

    def call(self, method, **params):
        return self.browser.call(method, self.session, **params)

    def open(self, url):
        self.call("Page.navigate", url=url)
        self.browser.wait_event("Page.loadEventFired", self.session, 60)

    def js(self, expression):
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True, awaitPromise=True)
        if "exceptionDetails" in result:
            raise BrowserError("the page's script failed: %s" % result["exceptionDetails"].get("text"))
        return result["result"].get("value")

    def type(self, text):
        for char in text:
            self.call("Input.dispatchKeyEvent", type="keyDown", key=char, text=char, unmodifiedText=char)
            self.call("Input.dispatchKeyEvent", type="keyUp", key=char)

    def backspace(self, times):
        for _ in range(times):
            self.call("Input.dispatchKeyEvent", type="rawKeyDown", key="Backspace", code="Backspace",
                      windowsVirtualKeyCode=8)
            self.call("Input.dispatchKeyEvent", type="keyUp", key="Backspace", code="Backspace",
                      windowsVirtualKeyCode=8)

    def click(self, x, y):
        for kind in ("mousePressed", "mouseReleased"):
            self.call("Input.dispatchMouseEvent", type=kind, x=x, y=y, button="left", clickCount=1)

    def errors(self):
        """Console errors and exceptions so far."""
        found = []
        for event in self.browser.events:
            if event.get("sessionId") != self.session:
                continue
            method, params = event.get("method"), event.get("params", {})
            if method == "Runtime.exceptionThrown":
                found.append(params["exceptionDetails"].get("text", "an exception"))
            elif method == "Runtime.consoleAPICalled" and params.get("type") in ("error", "assert"):
                found.append("console.%s" % params["type"])
            elif method == "Log.entryAdded" and params["entry"].get("level") == "error":
                found.append(params["entry"].get("text", "an error"))
        return found

    def screenshot(self, path, full=True):
        import base64
        params = {"format": "png"}
        if full:  # every card drawn, though off-screen (its heat map too, as for printing)
            self.js("(function () { var s = document.createElement('style');"
                    " s.textContent = '.contact{content-visibility:visible!important}';"
                    " document.head.appendChild(s); window.dispatchEvent(new Event('beforeprint'));"
                    " return true; })()")
            size = self.js("[document.documentElement.scrollWidth, document.documentElement.scrollHeight]")
            params["clip"] = {"x": 0, "y": 0, "width": size[0], "height": min(size[1], 4000), "scale": 1}
            params["captureBeyondViewport"] = True
        data = self.call("Page.captureScreenshot", **params)["data"]
        with open(path, "wb") as out:
            out.write(base64.b64decode(data))
