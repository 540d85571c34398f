#!/usr/bin/env python3
"""orva-bridge's Prometheus endpoint: one scrape of GET /metrics with 1, 10 and 50
projectors (orva-sim --state on each, on its own pseudo-terminal) on one bridge (a
configuration file: [bridge] http, poll = 1; pjlink = 0 and ids room-01 … for each
projector), every projector answering before the first scrape, so the text carries
its whole state.

Timed: SCRAPES scrapes over one keep-alive HTTP/1.1 connection (http.client), each
from the request sent to its whole body read. Counted: the body's bytes, its series
(the lines not starting with '#'), the bridge's CPU time (the scheduler's, in ns)
over the scrapes, the polls running meanwhile, and over IDLE s without scrapes
(the polls alone) beside it. Never fails on speed; exit status 1 when something
could not run.

Usage: metrics.py --bridge ORVA_BRIDGE --sim ORVA_SIM [--scrapes M] [--idle S] [--projectors N ...]"""
import argparse
import http.client
import os
import shutil
import sys
import tempfile
import time

import harness as h


def scrape(conn):
    conn.request("GET", "/metrics")
    answer = conn.getresponse()
    body = answer.read()
    if answer.status != 200:
        sys.exit(f"GET /metrics: {answer.status} {answer.reason}")
    return body


def measure(args, n, tmp):
    ids = [f"room-{i:02d}" for i in range(1, n + 1)]
    procs = []
    try:
        sims = [h.Simulator(args.sim, "--state", "on") for _ in ids]
        procs += sims
        conf = os.path.join(tmp, f"bridge-{n}.conf")

        def start(port):
            with open(conf, "w") as f:
                f.write(f"[bridge]\nhttp = {port}\npoll = 1\n")
                f.writelines(f"\n[{pid}]\ndevice = {sim.device}\npjlink = 0\n" for pid, sim in zip(ids, sims))
            return h.Process([args.bridge, "--config", conf]), f"HTTP on 127.0.0.1 port {port}"

        bridge = h.listening(start, args.bridge)
        procs.append(bridge)
        conn = http.client.HTTPConnection("127.0.0.1", bridge.port, timeout=h.TIMEOUT_S)
        # Each answering, and its first poll through to the temperatures (its last question).
        full = [f'\norva_projector_{w}{{projector="{pid}"{e}' for pid in ids
                for w, e in (("answering", "} 1\n"), ("temperature_celsius", ',sensor="S3"} '))]
        deadline = time.monotonic() + 30
        while not all(line.encode() in scrape(conn) for line in full):
            if time.monotonic() > deadline:
                sys.exit(f"{n} projectors: not all answering and read through to the temperatures within 30 s")
            time.sleep(0.2)
        conn.close()  # idle: no client at all
        cpu0, t0 = bridge.cpu_ns(), time.monotonic()
        time.sleep(args.idle)
        idle = (bridge.cpu_ns() - cpu0) / 1e9 / (time.monotonic() - t0)
        conn = http.client.HTTPConnection("127.0.0.1", bridge.port, timeout=h.TIMEOUT_S)
        body = scrape(conn)  # the connection opened, untimed
        ms, cpu0, t0 = [], bridge.cpu_ns(), time.monotonic()
        for _ in range(args.scrapes):
            t = time.monotonic_ns()
            body = scrape(conn)
            ms.append(h.ms_since(t))
        span, cpu = time.monotonic() - t0, (bridge.cpu_ns() - cpu0) / 1e9
        conn.close()
        series = sum(1 for line in body.splitlines() if line and not line.startswith(b"#"))
        return (n, len(body), series, *(h.fmt(h.percentile(ms, p)) for p in (50, 90, 99, 100)),
                h.fmt(1000 * cpu / args.scrapes), h.fmt(1000 * idle * span / args.scrapes), h.fmt(100 * idle, 2))
    finally:
        for p in reversed(procs):
            p.end()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--bridge", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("--scrapes", type=int, default=500)
    parser.add_argument("--idle", type=float, default=5)
    parser.add_argument("--projectors", type=int, nargs="+", default=[1, 10, 50])
    args = parser.parse_args()
    tmp = tempfile.mkdtemp(prefix="orva-bench-metrics-")
    try:
        rows = [measure(args, n, tmp) for n in args.projectors]
    finally:
        shutil.rmtree(tmp, ignore_errors=True)
    print(f"## orva-bridge's /metrics: {args.scrapes} scrapes over one keep-alive connection, "
          f"each projector polled every second meanwhile\n")
    h.table(["projectors", "body bytes", "series", "p50 ms", "p90 ms", "p99 ms", "max ms",
             "bridge CPU ms per scrape (the polls running meanwhile)", "of it the polls' ms (idle rate × loop time)",
             f"bridge CPU idle, the polls alone over {args.idle:g} s (% of one core)"], rows)
    print("A scrape is timed from the request sent to its whole body read. "
          f"Machine load average (1/5/15 min) at the end: {h.load_average()}.\n")


if __name__ == "__main__":
    main()
