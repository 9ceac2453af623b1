#!/usr/bin/env python3
"""A real browser against "pellory-cli serve --http": headless Chromium, driven through its own
remote-debugging protocol (python3-websocket), opens the page, a job printed afterwards over TCP
appears on it without a reload, its time in the browser's time zone (TZ is set to one far from UTC)
with the UTC time as its title, two status checks printed after it fold into one line, ticking the
"Paper Error" box (with --http-control) makes "pellory-cli status" against the same server read
"Paper Error", no part of the page breaks its Content-Security-Policy, and a click on the receipt
opens its picture at full size.

Usage: browser_check.py PELLORY_CLI. Exit 0 passed, 1 failed, 77 skipped (no chromium or no
python3-websocket). Every wait is bounded; only the processes started here are ended.
"""
import datetime
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request

SKIP = 77
WAIT = 20.0  # the longest any one step waits, in seconds
# The browser's time zone: five and a half hours ahead of UTC all year (no daylight saving time).
ZONE = "Asia/Kolkata"
ZONE_OFFSET = datetime.timedelta(hours=5, minutes=30)


def skip(why):
    print("SKIPPED: " + why)
    sys.exit(SKIP)


try:
    import websocket  # python3-websocket
except ImportError:
    skip("python3-websocket is not installed (Debian package python3-websocket)")

CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")
if not CHROMIUM:
    skip("chromium is not installed (Debian package chromium)")


def fail(why):
    print("FAILED: " + why)
    sys.exit(1)


def wait_for(what, check, timeout=WAIT):
    until = time.monotonic() + timeout
    while time.monotonic() < until:
        value = check()
        if value:
            return value
        time.sleep(0.05)
    fail("gave up waiting for " + what)


class Serve:
    """pellory-cli serve with a web page, its messages read from a file."""

    def __init__(self, cli, folder):
        self.err_path = os.path.join(folder, "serve.err")
        self.err = open(self.err_path, "w")
        self.proc = subprocess.Popen(
            [cli, "serve", "--listen", "127.0.0.1:0", "--jobs", os.path.join(folder, "jobs"),
             "--http", "127.0.0.1:0", "--http-control"],
            stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=self.err, cwd=folder)
        text = wait_for("serve to start", lambda: self._said("model "))
        self.printer = int(text.split("listening on 127.0.0.1:")[1].split()[0])
        self.web = "http://" + text.split("web page on http://")[1].split("/")[0]

    def _said(self, what):
        with open(self.err_path) as f:
            text = f.read()
        if self.proc.poll() is not None:
            fail("serve ended early: " + text)
        return text if what in text else None

    def stop(self):
        try:
            self.proc.stdin.write(b"quit\n")
            self.proc.stdin.close()
            self.proc.wait(timeout=WAIT)
        except Exception:
            self.proc.kill()
            self.proc.wait()
        self.err.close()


class Browser:
    """Headless Chromium with a profile of its own, one page driven over the debugging protocol."""

    def __init__(self, folder):
        self.profile = os.path.join(folder, "profile")
        self.proc = subprocess.Popen(
            [CHROMIUM, "--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
             "--disable-extensions", "--disable-background-networking", "--user-data-dir=" + self.profile,
             "--remote-debugging-port=0", "--window-size=480,900", "about:blank"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=dict(os.environ, TZ=ZONE))
        port_file = os.path.join(self.profile, "DevToolsActivePort")
        wait_for("chromium's debugging port", lambda: os.path.exists(port_file) and open(port_file).read().strip())
        port = open(port_file).read().split()[0]
        targets = json.load(urllib.request.urlopen("http://127.0.0.1:%s/json/list" % port, timeout=WAIT))
        page = [t for t in targets if t.get("type") == "page"][0]
        self.ws = websocket.create_connection(page["webSocketDebuggerUrl"], timeout=WAIT)
        self.next_id = 0

    def call(self, method, **params):
        self.next_id += 1
        self.ws.send(json.dumps({"id": self.next_id, "method": method, "params": params}))
        until = time.monotonic() + WAIT
        while time.monotonic() < until:
            message = json.loads(self.ws.recv())
            if message.get("id") == self.next_id:
                if "error" in message:
                    fail(method + ": " + json.dumps(message["error"]))
                return message.get("result", {})
        fail("no answer to " + method)

    def eval(self, expression):
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True)
        return result.get("result", {}).get("value")

    def click(self, selector):
        box = self.eval("(() => { const r = document.querySelector(%s).getBoundingClientRect();"
                        " return [r.x + r.width / 2, r.y + r.height / 2]; })()" % json.dumps(selector))
        for kind in ("mousePressed", "mouseReleased"):
            self.call("Input.dispatchMouseEvent", type=kind, x=box[0], y=box[1], button="left", clickCount=1)

    def stop(self):
        try:
            self.ws.close()
        except Exception:
            pass
        self.proc.terminate()
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


def print_job(port, data):
    with socket.create_connection(("127.0.0.1", port), timeout=WAIT) as s:
        s.sendall(data)


def local_text(iso, dateless=False):
    """An ISO 8601 UTC time as the page shows it in ZONE: "2026-03-07 14:31:02" (the time alone)."""
    utc = datetime.datetime.strptime(iso[:19], "%Y-%m-%dT%H:%M:%S")
    text = (utc + ZONE_OFFSET).strftime("%Y-%m-%d %H:%M:%S")
    return text[11:] if dateless else text


def status(cli, port):
    run = subprocess.run([cli, "--port", "tcp://127.0.0.1:%d" % port, "status"], capture_output=True,
                         text=True, timeout=WAIT)
    return run.stdout + run.stderr


def main():
    if len(sys.argv) != 2:
        fail("usage: browser_check.py PELLORY_CLI")
    cli = os.path.abspath(sys.argv[1])
    with tempfile.TemporaryDirectory(prefix="pellory_browser_") as folder:
        serve = Serve(cli, folder)
        browser = None
        try:
            browser = Browser(folder)
            browser.call("Page.enable")
            browser.call("Page.navigate", url=serve.web + "/")
            wait_for("the page to load", lambda: browser.eval(
                "document.readyState === 'complete' && !!document.getElementById('jobs')"))
            if browser.eval("document.querySelectorAll('#jobs article.job').length") != 0:
                fail("the page shows jobs before any was printed")
            browser.eval("window.pelloryLoadedOnce = true")  # gone if the page reloads

            print_job(serve.printer, b"\x1b@Browser check <b>42</b>\n\x1dV\x00")
            started = time.monotonic()
            wait_for("the job on the page", lambda: browser.eval("!!document.getElementById('job-1')"))
            print("the job appeared after %.2f s" % (time.monotonic() - started))
            if browser.eval("window.pelloryLoadedOnce") is not True:
                fail("the page was reloaded")
            if browser.eval("document.querySelector('#job-1 h2').textContent") != "Job 000001":
                fail("the job's title is not Job 000001")
            wait_for("the receipt's picture", lambda: browser.eval(
                "(() => { const i = document.querySelector('#job-1 img'); return !!i && i.complete && i.naturalWidth === 576; })()"))

            browser.eval("window.pelloryViolations = 0; document.addEventListener("
                         "'securitypolicyviolation', () => window.pelloryViolations++)")

            # The time in the browser's time, the UTC time its title.
            end = browser.eval("document.querySelector('#job-1 time').getAttribute('datetime')")
            shown = browser.eval("document.querySelector('#job-1 time').textContent")
            title = browser.eval("document.querySelector('#job-1 time').title")
            if not end:
                fail("the job's time says no instant (datetime)")
            if shown != local_text(end):
                fail("the job's time reads %r, not %r (%s in %s)" % (shown, local_text(end), end, ZONE))
            if title != end[:-1].replace("T", " ") + " UTC":
                fail("the job's time has the title %r" % title)
            print("job 1 ended %s, shown as %s" % (end, shown))

            # Two status checks fold into one line at the top.
            for _ in range(2):
                print_job(serve.printer, b"\x10\x04\x01")
            wait_for("the status checks on the page", lambda: browser.eval(
                "(() => { const d = document.querySelector('#jobs').firstElementChild;"
                " return d.tagName === 'DETAILS' && d.getAttribute('data-count') === '2'; })()"))
            times = browser.eval("Array.from(document.querySelectorAll('#jobs details.checks summary time'))"
                                 ".map(t => t.getAttribute('datetime'))")
            line = browser.eval("document.querySelector('#jobs details.checks summary').textContent")
            first, last = local_text(times[0]), local_text(times[1])
            expected = "2 status checks, %s-%s" % (first, last[11:] if first[:10] == last[:10] else last)
            if line != expected:
                fail("the status checks read %r, not %r" % (line, expected))
            if browser.eval("document.querySelectorAll('#jobs article.job').length") != 1:
                fail("a status check is shown as a job of its own")
            print("folded: " + line)

            if "Paper Error" in status(cli, serve.printer):
                fail("the printer reads Paper Error before the box was ticked")
            if browser.eval("document.getElementById('state-paper-end').disabled"):
                fail("the box is disabled although --http-control was given")
            browser.click("#state-paper-end")
            wait_for("pellory-cli status to read Paper Error", lambda: "Lamps: Paper Error" in status(cli, serve.printer))
            print("status: " + status(cli, serve.printer).replace("\n", "; "))
            if browser.eval("window.pelloryViolations") != 0:
                fail("the page broke its Content-Security-Policy")

            # A click on the receipt opens its picture at full size.
            browser.eval("document.querySelector('#job-1 img').scrollIntoView()")
            browser.click("#job-1 img")
            wait_for("the receipt's picture alone", lambda: browser.eval(
                "location.pathname === '/api/jobs/1/receipts/1.png' && document.contentType === 'image/png'"))
            width = browser.eval("document.images.length === 1 ? document.images[0].naturalWidth : 0")
            if width != 576:
                fail("the picture opened is %r dots wide, not 576" % width)
            print("the receipt opened at full size: " + browser.eval("location.href"))
        finally:
            if browser:
                browser.stop()
            serve.stop()
    print("PASSED")


if __name__ == "__main__":
    main()
