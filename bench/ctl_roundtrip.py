#!/usr/bin/env python3
"""One power status round trip from process start to exit: orva-ctl status
against the same exchange by a Python script with pyserial, both against one
orva-sim on a pseudo-terminal, alternating, median of N each.
Usage: ctl_roundtrip.py ORVA_CTL ORVA_SIM [RUNS]   (prints a table; never fails on speed)"""
import os
import statistics
import subprocess
import sys
import time

ctl, sim_path = sys.argv[1], sys.argv[2]
runs = int(sys.argv[3]) if len(sys.argv) > 3 else 20
script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "status_pyserial.py")

sim = subprocess.Popen([sim_path, "--on"], stdout=subprocess.PIPE, stdin=subprocess.DEVNULL, text=True)
try:
    pty = sim.stdout.readline().strip()
    commands = {
        "orva-ctl status": [ctl, "--port", pty, "status"],
        "python3 + pyserial": [sys.executable, script, pty],
    }
    times = {name: [] for name in commands}
    for _ in range(runs):
        for name, argv in commands.items():
            start = time.monotonic_ns()
            done = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            elapsed = (time.monotonic_ns() - start) / 1e6
            if done.returncode != 0 or done.stdout.strip() != "Power ON":
                sys.exit(f"{name}: exit {done.returncode}, {done.stdout!r} {done.stderr!r}")
            times[name].append(elapsed)
finally:
    sim.terminate()
    sim.wait()

print(f"## status round trip, process start to exit, median of {runs} (min .. max)\n")
print("| program | median ms | min .. max ms |")
print("|---|---|---|")
for name, t in times.items():
    print(f"| {name} | {statistics.median(t):.1f} | {min(t):.1f} .. {max(t):.1f} |")
ratio = statistics.median(times["orva-ctl status"]) / statistics.median(times["python3 + pyserial"])
print(f"\norva-ctl takes {ratio:.2f} of the Python script's time (aim: at most 0.25)")
