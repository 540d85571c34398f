#!/usr/bin/env python3
"""The time orva-bridge adds to one command: the power status query as PJLink
"%1POWR ?" through the bridge (on a persistent connection, and on a fresh one:
connect, greeting, request, reply) beside the line alone ("CR0" CR written and
"00" CR read with termios, in this process) and orva-ctl status, a whole run
of it. Two simulators alike (orva-sim --state on): A the bridge's, B the
line's and orva-ctl's, since orva-ctl cannot open a port the bridge holds.

One untimed round first, then ROUNDS rounds, orva-ctl in CTL_RUNS of them; the
order turns by one each round so that load drifts hit all alike. The bridge's
added time is its round trip less the line's, round by round. Never fails on
speed; exit status 1 when a program could not run or answered wrongly.

Usage: bridge_roundtrip.py --bridge ORVA_BRIDGE --sim ORVA_SIM --ctl ORVA_CTL [--rounds N] [--ctl-runs M]"""
import argparse
import os
import subprocess
import termios
import time
import tty

import harness as h


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    for name in ("--bridge", "--sim", "--ctl"):
        parser.add_argument(name, required=True)
    parser.add_argument("--rounds", type=int, default=200)
    parser.add_argument("--ctl-runs", type=int, default=50)
    args = parser.parse_args()
    sims = [h.Simulator(args.sim, "--state", "on") for _ in range(2)]
    bridge, line, persistent = None, None, None
    try:
        bridge = h.bridge(args.bridge, "--device", sims[0].device)
        line = os.open(sims[1].device, os.O_RDWR | os.O_NOCTTY)
        persistent = h.connect(bridge.port)

        def check(what, got, wanted):
            if got != wanted:
                raise SystemExit(f"{what}: answered {got!r}, not {wanted!r}")

        check("greeting", h.read_line(persistent), b"PJLINK 0\r")

        def ask(conn, what):
            conn.sendall(b"%1POWR ?\r")
            check(what, h.read_line(conn, what=what), b"%1POWR=1\r")

        def fresh():
            with h.connect(bridge.port) as conn:
                check("greeting", h.read_line(conn), b"PJLINK 0\r")
                ask(conn, "bridge (fresh)")

        def on_line():
            tty.setraw(line)  # 19200 8N1 raw, as orva-ctl sets it, between our queries
            attrs = termios.tcgetattr(line)
            attrs[4] = attrs[5] = termios.B19200
            termios.tcsetattr(line, termios.TCSANOW, attrs)
            termios.tcflush(line, termios.TCIFLUSH)
            t0 = time.monotonic_ns()
            os.write(line, b"CR0\r")
            check("the line", h.read_line(line, what="the line"), b"00\r")
            return h.ms_since(t0)

        def ctl():
            done = subprocess.run([args.ctl, "--port", sims[1].device, "status"], capture_output=True, text=True,
                                  timeout=10)
            check("orva-ctl status", (done.returncode, done.stdout), (0, "Power ON\n"))

        def timed(probe):
            def run():
                t0 = time.monotonic_ns()
                probe()
                return h.ms_since(t0)
            return run

        probes = {"persistent": timed(lambda: ask(persistent, "bridge (persistent)")), "fresh": timed(fresh),
                  "line": on_line, "ctl": timed(ctl)}
        times = {name: [] for name in [*probes, "added persistent", "added fresh"]}
        ctl_rounds = {1 + i * args.rounds // args.ctl_runs for i in range(args.ctl_runs)}
        for r in range(args.rounds + 1):
            names = ["persistent", "fresh", "line"] + (["ctl"] if r in ctl_rounds or r == 0 else [])
            got = {name: probes[name]() for name in names[r % len(names):] + names[:r % len(names)]}
            if r == 0:
                continue
            for name, ms in got.items():
                times[name].append(ms)
            for name in ("persistent", "fresh"):
                times[f"added {name}"].append(got[name] - got["line"])
    finally:
        if persistent:
            persistent.close()
        if line is not None:
            os.close(line)
        if bridge:
            bridge.end()
        for s in sims:
            s.end()

    print(f"## orva-bridge: added time per command, PJLink \"%1POWR ?\" against orva-sim --state on, {args.rounds} "
          f"rounds (orva-ctl in {args.ctl_runs} of them)\n")
    h.timing_table([
        ("line alone: termios write of \"CR0\" CR, read of \"00\" CR on orva-sim B's pty, in this process",
         times["line"]),
        ("bridge, persistent PJLink connection: \"%1POWR ?\" sent → \"%1POWR=1\" read", times["persistent"]),
        ("bridge, fresh connection per query: connect → greeting → request → reply", times["fresh"]),
        ("bridge's added time, persistent: (persistent) − (line alone), same round", times["added persistent"]),
        ("bridge's added time, fresh: (fresh) − (line alone), same round", times["added fresh"]),
        ("orva-ctl --port B status, whole run (fork+exec, Qt start, port lock and open, exchange, exit)",
         times["ctl"])])
    print(f"Machine load average (1/5/15 min) at the end: {h.load_average()}.\n")


if __name__ == "__main__":
    main()
