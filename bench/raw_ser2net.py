#!/usr/bin/env python3
"""orva-bridge's raw port beside Debian's ser2net, what a user would run instead:
"CR0" CR sent on a persistent connection → "00" CR read, through each, on
two simulators alike (orva-sim --on on a pseudo-terminal: one program cannot
share a port the other holds). Ten untimed round trips first; then ROUNDS
rounds, each one round trip through each server, which goes first turning
every round. Prints p50/p90/p99 of the round trips, each server's CPU time per
command (utime + stime over the rounds, from psutil: 10 ms resolution, so the
more rounds the finer) and its RSS, and the bridge's figures over ser2net's.
Never fails on speed; exit status 1 when a program could not run or answered wrongly.

Usage: raw_ser2net.py --bridge ORVA_BRIDGE --sim ORVA_SIM [--rounds N]"""
import argparse
import shutil
import time

import harness as h

COMMAND, REPLY = b"CR0\r", b"00\r"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--bridge", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("--rounds", type=int, default=500)
    args = parser.parse_args()
    sims = [h.Simulator(args.sim, "--on") for _ in range(2)]
    servers = {}
    conns = {}
    try:
        servers["orva-bridge --raw"] = h.bridge(args.bridge, "--device", sims[0].device, "--pjlink", "0",
                                                listener="raw port", flag="--raw")
        servers["ser2net"] = h.ser2net(sims[1].device)
        conns = {name: h.connect(server.port) for name, server in servers.items()}
        times = {name: [] for name in servers}

        def round_trip(name):
            t0 = time.monotonic_ns()
            conns[name].sendall(COMMAND)
            reply = h.read_line(conns[name], what=name)
            if reply != REPLY:
                raise SystemExit(f"{name}: answered {reply!r}, not {REPLY!r}")
            return h.ms_since(t0)

        for _ in range(10):
            for name in servers:
                round_trip(name)
        cpu0 = {name: s.cpu_s() for name, s in servers.items()}
        names = list(servers)
        for i in range(args.rounds):
            for name in names[i % 2:] + names[:i % 2]:
                times[name].append(round_trip(name))
        cpu = {name: (s.cpu_s() - cpu0[name]) / args.rounds * 1e6 for name, s in servers.items()}
        rss = {name: s.rss_kib() for name, s in servers.items()}
    finally:
        for c in conns.values():
            c.close()
        for s in servers.values():
            s.end()
            shutil.rmtree(getattr(s, "tmp", ""), ignore_errors=True)
        for s in sims:
            s.end()

    print(f"## The raw port beside ser2net: \"CR0\" CR → \"00\" CR on a persistent connection, {args.rounds} rounds, "
          "interleaved\n")
    rows = [(name, len(t), h.fmt(h.percentile(t, 50)), h.fmt(h.percentile(t, 90)), h.fmt(h.percentile(t, 99)),
             f"{cpu[name]:.0f}", rss[name]) for name, t in times.items()]
    b, s = names
    rows.append(("orva-bridge / ser2net", "", *(f"{h.percentile(times[b], p) / h.percentile(times[s], p):.2f}x"
                                                for p in (50, 90, 99)),
                 f"{cpu[b] / cpu[s]:.2f}x" if cpu[s] else "–", f"{rss[b] / rss[s]:.2f}x"))
    h.table(["server", "n", "p50 ms", "p90 ms", "p99 ms", "CPU per command µs", "RSS KiB"], rows)
    print(f"Each on its own orva-sim --on; CPU time has 10 ms resolution ({10000 / args.rounds:.0f} µs per command "
          f"here). Machine load average (1/5/15 min) at the end: {h.load_average()}.\n")


if __name__ == "__main__":
    main()
