#!/usr/bin/env python3
"""Flood: the real orva-panel (offscreen) on orva-sim --flood at 19200 baud, no
command ever sent, so the reply window never ends and every byte received is
the panel's to handle. The panel's CPU time and RSS (psutil) 2 s after its start
and every quarter of the run; the bytes it read (its read_chars). Never fails
on speed; exit status 1 when a program could not run.

Usage: flood.py --panel ORVA_PANEL --sim ORVA_SIM [--seconds S]"""
import argparse
import os
import time

import harness as h


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--panel", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("--seconds", type=float, default=60)
    args = parser.parse_args()
    sim = h.Simulator(args.sim, "--flood", "--baud", "19200")
    os.environ["QT_QPA_PLATFORM"] = "offscreen"
    panel = h.Process([args.panel, "--com1", sim.device, "--com2", sim.device])
    rows = []
    try:
        time.sleep(2)
        sample = lambda: (time.monotonic(), panel.cpu_s(), panel.rss_kib(), panel.ps.io_counters().read_chars,
                          sim.cpu_s())
        first = last = sample()
        for quarter in range(1, 5):
            time.sleep(args.seconds / 4)
            if not panel.alive():
                raise SystemExit("orva-panel ended during the run")
            now = sample()
            rows.append((f"{args.seconds * (quarter - 1) / 4:g}–{args.seconds * quarter / 4:g}",
                         f"{100 * (now[1] - last[1]) / (now[0] - last[0]):.2f}", now[2], now[3] - last[3]))
            last = now
    finally:
        panel.end()
        lock = "/var/lock/LCK.." + sim.device.removeprefix("/dev/").replace("/", "_")
        if os.path.exists(lock) and open(lock).read().split()[:1] == [str(panel.proc.pid)]:
            os.remove(lock)  # SIGTERM leaves the panel's serial port lock behind
        sim.end()
    span = last[0] - first[0]
    print(f"## Flood: orva-panel (offscreen) on orva-sim --flood, 19200 baud, {args.seconds:g} s\n")
    h.table(["window s", "panel CPU % of one core", "RSS KiB at end", "bytes read by the panel"], rows)
    h.table(["figure", "value", "aim"], [
        ("panel CPU, whole run", f"{100 * (last[1] - first[1]) / span:.2f} % of one core", "< 5 %"),
        ("panel RSS at start (2 s) → end", f"{first[2]} → {last[2]} KiB ({last[2] - first[2]:+d} KiB)", "flat"),
        ("bytes the panel read", f"{last[3] - first[3]} ({(last[3] - first[3]) / span:.0f} B/s; the line carries "
         "1920 B/s)", ""),
        ("orva-sim CPU", f"{100 * (last[4] - first[4]) / span:.2f} % of one core", "")])
    print(f"CPU time has 10 ms resolution. Machine load average (1/5/15 min) at the end: {h.load_average()}.\n")


if __name__ == "__main__":
    main()
