"""Opens a page in headless Chromium and talks to it over the DevTools protocol through
a pipe (no network port, no extra package): every request the page makes, the answer of
a script run once the page says it is ready, and a screenshot."""
import base64
import json
import os
import select
import shutil
import subprocess
import tempfile
import time

FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--disable-dev-shm-usage", "--hide-scrollbars", "--remote-debugging-pipe"]


def chromium():
    for name in ("chromium", "chromium-browser", "google-chrome"):
        path = shutil.which(name)
        if path:
            return path
    return None


def network_off_prefix():
    """`unshare -n` where this user may make a network namespace, else nothing."""
    if shutil.which("unshare") and subprocess.run(["unshare", "-n", "true"],
                                                  capture_output=True).returncode == 0:
        return ["unshare", "-n"]
    return []


class Browser:
    def __init__(self, width=1280, height=900, timeout=40):
        self.timeout = timeout
        self.profile = tempfile.mkdtemp(prefix="xrq5-chromium-")
        to_chrome_r, self._to_chrome = os.pipe()
        self._from_chrome, from_chrome_w = os.pipe()
        # Chromium reads commands from descriptor 3 and writes answers to descriptor 4.
        self.network_off = network_off_prefix()
        cmd = [*self.network_off, chromium(), *FLAGS, f"--user-data-dir={self.profile}",
               f"--window-size={width},{height}", "about:blank"]
        # The browser gets none of the sanitizer runtime preloaded into the tests.
        env = {k: v for k, v in os.environ.items() if k not in ("LD_PRELOAD", "ASAN_OPTIONS")}
        self.proc = subprocess.Popen(
            cmd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            env=env, pass_fds=(3, 4), preexec_fn=lambda: (os.dup2(to_chrome_r, 3), os.dup2(from_chrome_w, 4)))
        os.close(to_chrome_r)
        os.close(from_chrome_w)
        self._buf = b""
        self._next = 0
        self.events = []
        self.width, self.height = width, height

    # -- the protocol --------------------------------------------------------------------

    def _read_message(self, deadline):
        while b"\0" not in self._buf:
            left = deadline - time.monotonic()
            if left <= 0:
                raise TimeoutError("no answer from Chromium")
            ready, _, _ = select.select([self._from_chrome], [], [], left)
            if ready:
                chunk = os.read(self._from_chrome, 1 << 20)
                if not chunk:
                    raise RuntimeError("Chromium closed the pipe")
                self._buf += chunk
        msg, self._buf = self._buf.split(b"\0", 1)
        return json.loads(msg)

    def send(self, method, session=None, **params):
        self._next += 1
        msg = {"id": self._next, "method": method, "params": params}
        if session:
            msg["sessionId"] = session
        os.write(self._to_chrome, json.dumps(msg).encode() + b"\0")
        deadline = time.monotonic() + self.timeout
        while True:
            answer = self._read_message(deadline)
            if answer.get("id") == self._next:
                if "error" in answer:
                    raise RuntimeError(f"{method}: {answer['error']}")
                return answer.get("result", {})
            self.events.append(answer)

    # -- a page ----------------------------------------------------------------------------

    def open(self, url):
        target = self.send("Target.createTarget", url="about:blank")["targetId"]
        self.session = self.send("Target.attachToTarget", targetId=target,
                                 flatten=True)["sessionId"]
        self.send("Network.enable", self.session)
        self.send("Page.enable", self.session)
        self.send("Emulation.setDeviceMetricsOverride", self.session, width=self.width,
                  height=self.height, deviceScaleFactor=1, mobile=False)
        self.send("Page.navigate", self.session, url=url)

    def evaluate(self, expression):
        r = self.send("Runtime.evaluate", self.session, expression=expression,
                      returnByValue=True)
        if "exceptionDetails" in r:
            raise RuntimeError(f"script failed: {r['exceptionDetails']}")
        return r["result"].get("value")

    def wait_for(self, expression, timeout=30):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            value = self.evaluate(expression)
            if value:
                return value
            time.sleep(0.1)
        raise TimeoutError(f"the page never gave {expression}")

    def requests(self):
        return [e["params"]["request"]["url"] for e in self.events
                if e.get("method") == "Network.requestWillBeSent"]

    def screenshot(self, path, height=None):
        params = {"format": "png"}
        if height:
            params["clip"] = {"x": 0, "y": 0, "width": self.width, "height": height, "scale": 1}
            params["captureBeyondViewport"] = True
        data = self.send("Page.captureScreenshot", self.session, **params)["data"]
        with open(path, "wb") as f:
            f.write(base64.b64decode(data))

    def close(self):
        try:
            self.send("Browser.close")
        except (RuntimeError, TimeoutError, OSError):
            pass
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        os.close(self._to_chrome)
        os.close(self._from_chrome)
        shutil.rmtree(self.profile, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
