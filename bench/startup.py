#!/usr/bin/env python3
"""orva-panel's start-up: bench_startup_inproc (what orva-panel's main() does, with
an event filter for the first paint) started RUNS times on each platform, each
time against one orva-sim on a pseudo-terminal; the milliseconds from the fork
(this process's monotonic clock, handed over as --t0-ns) to each milestone and
to the first paint, and the peak RSS then (VmHWM). xcb needs $DISPLAY (bench/run
runs this under xvfb-run); without it only offscreen is measured.
Never fails on speed; exit status 1 when a program could not run.

Usage: startup.py --inproc BENCH_STARTUP_INPROC --sim ORVA_SIM [--runs N]"""
import argparse
import os
import statistics
import subprocess
import time

import harness as h

FIELDS = ("app_ms", "form_ms", "load_ms", "show_ms", "first_paint_ms", "vmhwm_kib")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--inproc", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("--runs", type=int, default=7)
    args = parser.parse_args()
    platforms = ["offscreen"] + (["xcb"] if os.environ.get("DISPLAY") else [])
    sim = h.Simulator(args.sim)
    rows = []
    try:
        for platform in platforms:
            runs = []
            for _ in range(args.runs + 1):  # the first warms the caches
                t0 = time.monotonic_ns()
                out = subprocess.run([args.inproc, "--com1", sim.device, "--t0-ns", str(t0)], capture_output=True,
                                     text=True, timeout=30, env={**os.environ, "QT_QPA_PLATFORM": platform})
                if out.returncode != 0:
                    raise SystemExit(f"{args.inproc} ({platform}): exit {out.returncode}: {out.stderr[-300:]!r}")
                runs.append(dict(kv.split("=") for kv in out.stdout.split()))
            cells = []
            for field in FIELDS:
                values = [float(r[field]) / (1024 if field == "vmhwm_kib" else 1) for r in runs[1:]]
                cells.append(f"{statistics.median(values):.1f} ({min(values):.1f}–{max(values):.1f})")
            rows.append((platform, *cells))
    finally:
        sim.end()
    print(f"## Start-up: fork to first paint, peak RSS ({args.runs} runs each, median (min–max))\n")
    h.table(["platform", "QApplication ms", "window built ms", "start-up run ms", "show() returned ms",
             "first paint ms (aim ≤ 50)", "peak RSS MiB (aim < 40)"], rows)
    print(f"Machine load average (1/5/15 min) at the end: {h.load_average()}.\n")


if __name__ == "__main__":
    main()
