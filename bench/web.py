#!/usr/bin/env python3
"""orva-bridge's web page: a button's command from a page's WebSocket to its bytes on
the line, beside PJLink's round trip in the same run; WebSocket clients watching one
projector whose state changes every second (the push latency, the bridge's CPU and
memory); the page's weight and the time from navigation to its first live state in
headless Chromium.

The projector is this process, on a pseudo-terminal: it answers at once, and every
power status query alternately with on and standby, so that each poll changes the
state. Never fails on speed; exit status 1 when something could not run.

Usage: web.py --bridge ORVA_BRIDGE [--rounds N] [--clients C] [--seconds S] [--loads L]"""
import argparse
import json
import os
import select
import threading
import time
import tty
import urllib.request

import websocket

import harness as h

REPLIES = {"CR0": None, "CR1": b"1\r", "CRA": b"00\r", "CR3": b"01234\r", "CR7": b"03\r", "CR6": b"032.5  41.0 038.5\r"}


class Projector:
    """The far end of a pseudo-terminal: each code it reads, when, and its answer."""

    def __init__(self):
        self.master, slave = os.openpty()
        tty.setraw(self.master)
        self.device = os.ttyname(slave)
        self.heard = []  # (monotonic ns, code)
        self.powers = []  # (monotonic ns, "on" or "standby") of each power status answered
        self.power_on = False
        self.lock = threading.Condition()
        threading.Thread(target=self.serve, daemon=True).start()

    def serve(self):
        pending = b""
        while True:
            try:
                pending += os.read(self.master, 4096)
            except OSError:
                return
            while b"\r" in pending:
                line, pending = pending.split(b"\r", 1)
                code = line.decode(errors="replace")
                t = time.monotonic_ns()
                if code == "CR0":
                    self.power_on = not self.power_on
                reply = (b"00\r" if self.power_on else b"80\r") if code == "CR0" else REPLIES.get(code, b"\x06")
                os.write(self.master, reply)
                with self.lock:
                    self.heard.append((t, code))
                    if code == "CR0":
                        self.powers.append((time.monotonic_ns(), "on" if self.power_on else "standby"))
                    self.lock.notify_all()

    def wait(self, code, since_ns, timeout=h.TIMEOUT_S):
        """When `code` was next read after since_ns."""
        with self.lock:
            found = lambda: next((t for t, c in self.heard if c == code and t >= since_ns), None)
            self.lock.wait_for(lambda: found() is not None, timeout)
            return found()


def page_socket(port, projector, source="127.0.0.1"):
    """A page's WebSocket, from `source` (the bridge takes 8 connections from one address)."""
    return websocket.create_connection(f"ws://127.0.0.1:{port}/p/{projector}/ws", origin=f"http://127.0.0.1:{port}",
                                       timeout=h.TIMEOUT_S, socket=h.connect(port, source))


def drain(ws):
    ws.settimeout(0.0)
    try:
        while ws.recv():
            pass
    except Exception:
        pass
    ws.settimeout(h.TIMEOUT_S)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--bridge", required=True)
    parser.add_argument("--rounds", type=int, default=200)
    parser.add_argument("--clients", type=int, default=200)
    parser.add_argument("--seconds", type=int, default=60)
    parser.add_argument("--loads", type=int, default=5)
    args = parser.parse_args()
    projector = Projector()
    pjlink_port = h.free_port()
    bridge = h.bridge(args.bridge, "--device", projector.device, "--id", "web", "--pjlink", str(pjlink_port), "--poll", "1",
                      "--max-connections", "256", listener="HTTP", flag="--http")
    try:
        button, pjlink = [], []
        ws = page_socket(bridge.port, "web")
        conn = h.connect(pjlink_port)
        h.read_line(conn)
        for r in range(args.rounds + 1):
            drain(ws)
            t0 = time.monotonic_ns()
            ws.send('{"click":"Command17"}')
            t1 = projector.wait("C00", t0)
            time.sleep(0.05)  # what the command may have changed is asked again
            t2 = time.monotonic_ns()
            conn.sendall(b"%1POWR ?\r")
            answer = h.read_line(conn)
            if t1 is None or not answer.startswith(b"%1POWR="):
                raise SystemExit(f"round {r}: no C00 on the line, or PJLink answered {answer!r}")
            if r:
                button.append((t1 - t0) / 1e6)
                pjlink.append(h.ms_since(t2))
        ws.close()
        conn.close()
        print(f"## orva-bridge's web page: {args.rounds} rounds, the projector answering at once\n")
        h.timing_table([("a page's POWER ON: WebSocket message sent → \"C00\" CR read on the line", button),
                        ("PJLink \"%1POWR ?\" → \"%1POWR=…\" read, same rounds (the line's answer included)", pjlink)])

        # Many pages watching one projector whose state changes at every poll.
        clients = [page_socket(bridge.port, "web", f"127.0.{1 + i // 2000}.{2 + i // 8 % 250}") for i in range(args.clients)]
        time.sleep(1)
        for c in clients:
            drain(c)
        cpu0, rss0 = bridge.cpu_s(), bridge.rss_kib()
        latency, end = [], time.monotonic() + args.seconds
        by_socket = {c.sock.fileno(): c for c in clients}
        while time.monotonic() < end:
            readable, _, _ = select.select(list(by_socket), [], [], 0.5)
            for fd in readable:
                message = json.loads(by_socket[fd].recv())
                now = time.monotonic_ns()
                if "state" not in message:
                    continue
                # From the line's last answer of the power the page was told.
                with projector.lock:
                    told = [t for t, power in projector.powers if power == message["state"].get("power") and t <= now]
                if told:
                    latency.append((now - told[-1]) / 1e6)
        cpu1, rss1 = bridge.cpu_s(), bridge.rss_kib()
        for c in clients:
            c.close()
        print(f"## {args.clients} pages watching one projector for {args.seconds} s, its power changing at each 1 s poll\n")
        h.timing_table([("the power status answered on the line → the state read by each page", latency)])
        h.table(["bridge", "at start", f"after {args.seconds} s"],
                [("RSS KiB", rss0, rss1), ("CPU s (since its start)", h.fmt(cpu0, 2), h.fmt(cpu1, 2))])

        # The page in a browser.
        base = f"http://127.0.0.1:{bridge.port}"
        weight = {}
        for path in ("/p/web/", "/app.css", "/panel.css", "/panel.js", "/wordmark.png"):
            with urllib.request.urlopen(base + path) as answer:
                weight[path] = len(answer.read())
        loads = first_state(base + "/p/web/", args.loads)
        h.table(["the page", "bytes"], [*weight.items(), ("all it loads", sum(weight.values()))])
        h.timing_table([("headless Chromium: navigation started → the first live state shown", loads)])
    finally:
        bridge.end()


def first_state(url, runs):
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    options = webdriver.ChromeOptions()
    for a in ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
              "--disable-background-networking", "--disable-component-update", "--disable-sync"]:
        options.add_argument(a)
    options.binary_location = "/usr/bin/chromium"
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    shown = "return document.querySelector('#state [data-field]') !== null"
    times = []
    try:
        for _ in range(runs + 1):
            driver.get("about:blank")
            t0 = time.monotonic_ns()
            driver.get(url)
            while not driver.execute_script(shown):
                time.sleep(0.002)
            times.append(h.ms_since(t0))
    finally:
        driver.quit()
    return times[1:]


if __name__ == "__main__":
    main()
